// Measures what Tachoro's frame loop adds to the frame requests themselves:
// over the same clip it runs a bare loop (request, release; over the C
// interface a client of its own that calls the library directly), the benchmark's
// own loop (RunFrameLoop with the live timer and process sampler; the
// display texts are built but not printed) and that loop timing every frame
// (-frametimes), in alternating rounds.
//
//   tachoro_bench [library [script]] [--rounds=N] [--frames=N] [--interval=N]
//
// Without a library the test frame server is used; without a script a
// temporary one with --frames frames (default 2000000) is written.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "frameserver/AvisynthC.h"
#include "frameserver/FrameSource.h"
#include "frameserver/Session.h"
#include "measure/Benchmark.h"
#include "measure/Sampling.h"
#include "measure/Display.h"
#include "measure/Timer.h"
#include "platform/Files.h"
#include "platform/Library.h"
#include "platform/Process.h"
#include "support/SEException.h"

namespace {

#if TACHORO_FRAMESERVER_C
const char kInterface[] = "C (the bare loop is a C client of its own)";
#else
const char kInterface[] = "class";
#endif

bool IsFile(const std::string& path) { return platform::InspectFile(path).Kind == platform::FileKind::Regular; }

std::string DefaultLibrary() {
#if defined(TESTFS_LIBRARY)
    if (IsFile(TESTFS_LIBRARY)) return TESTFS_LIBRARY;
    // Beside the program, or where the tests' build puts it.
    const std::filesystem::path exe(platform::ExecutablePath());
    for (const std::filesystem::path& candidate :
         {exe.parent_path() / TESTFS_FILE_NAME, exe.parent_path().parent_path() / "tests" / TESTFS_FILE_NAME}) {
        if (IsFile(candidate.string())) return candidate.string();
    }
#endif
    return std::string();
}

// Wall time from the benchmark's own clock and, where the runtime measures
// it (glibc: clock() is process CPU time; Windows: it is wall time), the
// CPU time, which other processes on a busy machine do not inflate.
struct Span {
    double Wall = 0;
    double Cpu = 0;
};

class Stopwatch {
public:
    Stopwatch() : wall_(Timer.GetTime()), cpu_(std::clock()) {}
    Span Stop() const {
        Span span;
        span.Wall = Timer.GetTime() - wall_;
        span.Cpu = static_cast<double>(std::clock() - cpu_) / CLOCKS_PER_SEC;
        return span;
    }

private:
    double wall_;
    std::clock_t cpu_;
};

#if TACHORO_FRAMESERVER_C
// A C-interface client of its own, sharing nothing with Tachoro's session
// but the loaded library: its own environment, script value and clip.
class BareClient {
public:
    ~BareClient() {
        if (Clip) ReleaseClip(Clip);
        if (HoldsScript) ReleaseValue(Script);
        if (Environment) DeleteEnvironment(Environment);
    }

    bool Open(const std::string& library, const std::string& script) {
        void* handle = platform::LoadDynamicLibrary(library);
        if (!handle) return false;
        auto resolve = [handle](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                platform::DynamicSymbol(handle, name));
            return function != nullptr;
        };
        avs_create_script_environment_func create = nullptr;
        avs_get_error_func getError = nullptr;
        avs_invoke_func invoke = nullptr;
        avs_take_clip_func takeClip = nullptr;
        if (!resolve(create, "avs_create_script_environment") || !resolve(getError, "avs_get_error") ||
            !resolve(invoke, "avs_invoke") || !resolve(takeClip, "avs_take_clip") ||
            !resolve(DeleteEnvironment, "avs_delete_script_environment") ||
            !resolve(ReleaseValue, "avs_release_value") || !resolve(ReleaseClip, "avs_release_clip") ||
            !resolve(GetFrame, "avs_get_frame") || !resolve(ReleaseFrame, "avs_release_video_frame"))
            return false;
        Environment = create(5);
        if (!Environment || getError(Environment)) return false;
        AVS_Value path{};
        path.type = 's';
        path.d.string = script.c_str();
        Script = invoke(Environment, "Import", path, nullptr);
        if (Script.type != 'c') return false;
        HoldsScript = true;
        Clip = takeClip(Script, Environment);
        return Clip != nullptr;
    }

    // Frames requested and released, nothing else: the frame server's own
    // calls, with the check a C client needs.
    Span Round(uint32_t frames) const {
        const Stopwatch watch;
        for (uint32_t n = 0; n < frames; ++n) {
            AVS_VideoFrame* frame = GetFrame(Clip, static_cast<int>(n));
            if (!frame) throw FrameServerError{"a frame failed in the bare loop"};
            ReleaseFrame(frame);
        }
        return watch.Stop();
    }

private:
    avs_delete_script_environment_func DeleteEnvironment = nullptr;
    avs_release_value_func ReleaseValue = nullptr;
    avs_release_clip_func ReleaseClip = nullptr;
    avs_get_frame_func GetFrame = nullptr;
    avs_release_video_frame_func ReleaseFrame = nullptr;
    AVS_ScriptEnvironment* Environment = nullptr;
    AVS_Value Script{};
    bool HoldsScript = false;
    AVS_Clip* Clip = nullptr;
};

Span BareRound(const BareClient& bare, const FrameSource&, uint32_t frames) { return bare.Round(frames); }
#else
struct BareClient {
    bool Open(const std::string&, const std::string&) { return true; }
};

// Frames requested and released, nothing else: the frame server's own call.
Span BareRound(const BareClient&, const FrameSource& source, uint32_t frames) {
    const Stopwatch watch;
    for (uint32_t n = 0; n < frames; ++n) source.Fetch(n);
    return watch.Stop();
}
#endif

// The display is formatted as in a run but not written, so that the numbers
// do not depend on the terminal.
void SilentRefresh(BenchmarkState& state) {
    RunStatistics& stats = state.Result.Stats;
    stats.DisplayShown = true;
    stats.DisplayLines = ScreenLineCount(LiveDisplayLines(stats, state.Result.Readings, DisplayOptions()));
}

bool NoKey(BenchmarkState&) {
    return false;
}

// The benchmark's loop exactly as RunBenchmark runs it, with or without the
// frame times.
Span TachoroRound(const FrameSource& source, uint32_t frames, uint32_t interval, bool timed) {
    BenchmarkState state;
    state.Hooks = LiveSamplingHooks();
    state.Hooks.Refresh = SilentRefresh;
    state.Hooks.EscPressed = NoKey;
    state.TimeFrames = timed;
    PrepareRun(state, 0, frames - 1, interval);
    StartMeasurement(state);
    const Stopwatch watch;
    if (timed)
        Guarded([&state, &source] { RunFrameLoop(source, state, FrameTiming(*state.Result.FrameTimes)); });
    else
        Guarded([&state, &source] { RunFrameLoop(source, state); });
    const Span span = watch.Stop();
    state.Process->CloseHandles();
    if (state.Result.Stats.FramesProcessed != frames) throw FrameServerError{"the loop stopped early"};
    if (timed && state.Result.FrameTimes->FrameCount() != frames) throw FrameServerError{"frames went untimed"};
    return span;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool NumberOption(const char* arg, const char* name, unsigned long long& value) {
    const size_t length = std::strlen(name);
    if (std::strncmp(arg, name, length) != 0) return false;
    value = std::strtoull(arg + length, nullptr, 10);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    unsigned long long rounds = 7, frames = 2000000, interval = 10000;
    for (int i = 1; i < argc; ++i) {
        if (NumberOption(argv[i], "--rounds=", rounds) || NumberOption(argv[i], "--frames=", frames) ||
            NumberOption(argv[i], "--interval=", interval))
            continue;
        if (argv[i][0] == '-') {
            std::fprintf(stderr, "usage: %s [library [script]] [--rounds=N] [--frames=N] [--interval=N]\n", argv[0]);
            return 2;
        }
        positional.push_back(argv[i]);
    }
    if (rounds == 0 || frames == 0 || frames > 2147483647ULL || interval == 0 || interval > 4294967295ULL) {
        std::fprintf(stderr, "rounds, frames and interval must be positive (frames below 2^31)\n");
        return 2;
    }

    const std::string library = positional.size() > 0 ? positional[0] : DefaultLibrary();
    if (library.empty()) {
        std::fprintf(stderr, "test frame server not found; name a library\n");
        return 2;
    }

    std::string script;
    std::filesystem::path temporary;
    if (positional.size() > 1) {
        script = positional[1];
    } else {
        std::random_device random;
        temporary = std::filesystem::temp_directory_path() / ("tachoro-bench-" + std::to_string(random()) + ".avs");
        std::ofstream(temporary) << "frames=" << frames << "\n";
        script = temporary.string();
    }

    OpenedSession opened;
    for (int version = 7; version >= 5; --version) {
        opened = OpenSession(library, version);
        if (opened.Failure != OpenFailure::NoEnvironment) break;
    }
    if (!opened.Session) {
        std::fprintf(stderr, "cannot open the frame server %s: %s\n", library.c_str(), opened.Text.c_str());
        return 1;
    }
    FrameServerContext& session = *opened.Session;

    int exitCode = 0;
    const SessionResult measured = RunSession(session, [&] {
        session.Evaluate(script, ScriptChecks{"\"%s\":\nScript did not return a clip"}, true);
        const FrameSource source = session.Frames();
        const uint32_t clipFrames = session.Facts().FramesToRead;
        const uint32_t n = EnlargeSamplingInterval(clipFrames, static_cast<uint32_t>(interval));
        std::printf("library:  %s\nscript:   %s\nframes:   %u per round, sampling interval %u, %llu rounds each\n"
                    "interface: %s\n\n",
                    library.c_str(), script.c_str(), clipFrames, n, rounds, kInterface);
        if (clipFrames == 0) throw FrameServerError{"the clip has no frames"};
        BareClient bare;
        if (!bare.Open(library, script)) throw FrameServerError{"the bare client cannot open the script"};

        // One unmeasured round of each to settle caches and page in the code.
        BareRound(bare, source, clipFrames);
        TachoroRound(source, clipFrames, n, false);
        TachoroRound(source, clipFrames, n, true);

        std::vector<double> bareWall, tachoroWall, bareCpu, tachoroCpu, timedWall, timedCpu;
        std::printf("round   bare fps (wall)  Tachoro fps (wall)  ratio    ratio (CPU time)  frame times: ratio (CPU time)\n");
        for (unsigned long long round = 0; round < rounds; ++round) {
            // Rotate which goes first, so that drifts hit all alike.
            Span b, t, f;
            switch (round % 3) {
            case 0:
                b = BareRound(bare, source, clipFrames);
                t = TachoroRound(source, clipFrames, n, false);
                f = TachoroRound(source, clipFrames, n, true);
                break;
            case 1:
                t = TachoroRound(source, clipFrames, n, false);
                f = TachoroRound(source, clipFrames, n, true);
                b = BareRound(bare, source, clipFrames);
                break;
            default:
                f = TachoroRound(source, clipFrames, n, true);
                b = BareRound(bare, source, clipFrames);
                t = TachoroRound(source, clipFrames, n, false);
                break;
            }
            bareWall.push_back(b.Wall);
            tachoroWall.push_back(t.Wall);
            timedWall.push_back(f.Wall);
            bareCpu.push_back(b.Cpu);
            tachoroCpu.push_back(t.Cpu);
            timedCpu.push_back(f.Cpu);
            std::printf("%5llu   %-15.0f  %-18.0f  %.4f   %.4f            %.4f\n", round + 1, clipFrames / b.Wall,
                        clipFrames / t.Wall, b.Wall / t.Wall, t.Cpu > 0 ? b.Cpu / t.Cpu : 0.0,
                        f.Cpu > 0 ? b.Cpu / f.Cpu : 0.0);
        }

        // Noise from other work only ever adds time, so the best round is the
        // steadiest estimate on a shared machine; the median is shown too.
        auto report = [&](const char* label, const std::vector<double>& bare, const std::vector<double>& tachoro) {
            const double bareBest = *std::min_element(bare.begin(), bare.end());
            const double tachoroBest = *std::min_element(tachoro.begin(), tachoro.end());
            const double bareMedian = Median(bare), tachoroMedian = Median(tachoro);
            std::printf("\n%s\n", label);
            std::printf("  best:   bare %.0f fps (%.2f ns/frame), Tachoro %.0f fps (%.2f ns/frame)\n",
                        clipFrames / bareBest, bareBest / clipFrames * 1e9, clipFrames / tachoroBest,
                        tachoroBest / clipFrames * 1e9);
            std::printf("  ratio of frame rates (Tachoro / bare): best %.4f, median %.4f\n", bareBest / tachoroBest,
                        bareMedian / tachoroMedian);
            std::printf("  added per frame: %+.2f ns (best), %+.2f ns (median)\n",
                        (tachoroBest - bareBest) / clipFrames * 1e9, (tachoroMedian - bareMedian) / clipFrames * 1e9);
        };
        report("wall time", bareWall, tachoroWall);
        report("CPU time (clock())", bareCpu, tachoroCpu);
        report("with -frametimes, wall time", bareWall, timedWall);
        report("with -frametimes, CPU time (clock())", bareCpu, timedCpu);
        session.ReleaseScript();
    }, [] { return std::string("unknown exception"); });
    if (measured.Work.Failed()) {
        const RunEnding& failure = measured.Work;
        std::fprintf(stderr, "%s%s\n", failure.How == RunEnding::Kind::FrameServerError ? "frame server error: " : "",
                     failure.Message.c_str());
        exitCode = 1;
    }
    if (!temporary.empty()) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    }
    return exitCode;
}
