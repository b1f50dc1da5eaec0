#include "frameserver/Calibration.h"

#include "frameserver/FrameSource.h"
#include "frameserver/Session.h"
#include "measure/FrameLoop.h"
#include "measure/Timer.h"
#include "platform/Signals.h"
#include "support/SEException.h"

uint32_t SamplingIntervalFor(double elapsedSeconds, uint32_t fetched) {
    if (!(elapsedSeconds > 0.2) || fetched == 0) return 10000;
    const double msPerFrame = elapsedSeconds * 1000.0 / fetched;
    static const struct {
        double threshold;
        uint32_t interval;
    } kRows[] = {{10, 1},    {1, 10},      {0.5, 20},    {0.2, 50},    {0.1, 100},
                 {0.05, 200}, {0.02, 500}, {0.01, 1000}, {0.005, 2000}, {0.002, 5000}};
    for (const auto& row : kRows)
        if (msPerFrame > row.threshold) return row.interval;
    return 10000;
}

void AnalyseScript(const std::string& scriptPath, const std::string& libraryPath, int interfaceVersion,
                   bool invokeDistributor, CalibrationResult& result, const ClipCheck& clipCheck,
                   const std::optional<ScriptGlobal>& global) {
    result = CalibrationResult();
    std::string& errorText = result.ErrorText;
    const char* const counterFailure = "QueryPerformanceCounter() is not supported";
    // The counter's rate is checked over the calibration's own time.
    const CounterCheck counter;
    if (!counter.Usable()) {
        errorText = counterFailure;
        return;
    }
    OpenedSession opened = OpenSession(libraryPath, interfaceVersion);
    if (!opened.Session) {
        errorText = opened.Failure == OpenFailure::NoLibrary ? "Failed to load avisynth.dll" : opened.Text;
        return;
    }
    FrameServerContext& session = *opened.Session;
    const SessionResult analysed = RunSession(
        session,
        [&] {
            ScriptChecks checks;
            checks.NotAClip = "Script did not return a video clip:\n(%s)";
            checks.NoVideo = "Script did not return a video clip:\n(%s)";
            checks.NoFrames = "Script returned a video clip without frames:\n(%s)";
            if (global) session.SetGlobal(global->Name, global->Value);
            session.Evaluate(scriptPath, checks, invokeDistributor);
            result.Clip = session.Facts();
            if (clipCheck) {
                errorText = clipCheck(*result.Clip);
                if (!errorText.empty()) {
                    session.ReleaseScript();
                    return;
                }
            }

            const FrameSource frames = session.Frames();
            const uint32_t frameCount = static_cast<uint32_t>(session.Facts().FrameCount);
            uint32_t fetched = 0;
            double elapsed = 0;
            const double start = Timer.TickSeconds();
            for (;;) {
                result.Reading = fetched;
                frames.Fetch(fetched);
                ++fetched;
                elapsed = Timer.TickSeconds() - start;
                // An interruption ends the series: the interval is not needed.
                if (elapsed >= 5.0 || fetched == frameCount || platform::InterruptionRequested()) break;
            }
            result.Reading.reset();
            result.Interval = SamplingIntervalFor(elapsed, fetched);
            result.Closing = true;
            session.ReleaseScript();
        },
        // The system's last error has nothing to do with a thrown object.
        [] { return std::string("Unknown exception"); });
    const RunEnding& work = analysed.Work;
    if (work.Failed() && result.Closing) {
        result.ClosingFault = work.Message;
    } else if (work.Failed()) {
        result.Interval = 0;
        errorText = result.Reading ? FrameReadFailureText(work.Message, *result.Reading) : work.Message;
    }
    if (!analysed.UnloadFailure.empty()) {
        result.Interval = 0;
        errorText = analysed.UnloadFailure;
    }
    if (result.Interval != 0 && !counter.Passed()) {
        result.Interval = 0;
        errorText = counterFailure;
    }
}
