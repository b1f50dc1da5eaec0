#include "app/RunSequence.h"

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Series.h"
#include "app/Settings.h"
#include "frameserver/AvisynthInfo.h"
#include "frameserver/Calibration.h"
#include "frameserver/Measure.h"
#include "frameserver/Session.h"
#include "measure/Benchmark.h"
#include "measure/GPUMonitor.h"
#include "platform/Platform.h"
#include "report/ClipReport.h"
#include "report/CsvFile.h"
#include "report/FrameServerReport.h"
#include "report/JsonFile.h"
#include "report/LogFile.h"
#include "report/PlotFile.h"
#include "report/RunReport.h"
#include "report/SeriesReport.h"
#include "support/Console.h"
#include "support/SEException.h"

namespace {

const char* const kInstanceLockName = "__tachoro__single__instance__lock__";

// The interface the frame server is reached through, as the JSON file names
// it.
const char* const kFrameServerInterface = "class";

// The texts and flags one run hands from step to step.
struct RunState {
    std::string VersionText;
    std::string ScriptPath;
    std::string SwitchesText;
    bool InfoOnly = false;
    bool AvsInfoMode = false;
    std::string RunErrorText;
    int ExitCode = 0;
    // Decisions of the run that outlive the settings they start from: an
    // error forces the log on, and the GPU prompt can switch monitoring off.
    bool WriteLog = false;
    bool MonitorGPU = false;
};

int Stream() { return MessageStream(); }

void PrintError(const std::string& message) { ConsolePrint(Stream(), ColourError, "%s", message.c_str()); }

// Every step that fails ends the same way: the message, the exit pause, -1.
int Fail(const std::string& message) {
    PrintError(message);
    WaitBeforeExit();
    return -1;
}

// The installation check: refuses a missing, 32-bit or too old frame server.
int CheckFrameServer(const Settings& settings, FrameServerFacts& avisynthInfo) {
    ShowStatus("Query Avisynth info...");
    if (!settings.AVSDLL.empty()) {
        // Only a regular file is inspected: a pipe would make the check
        // wait forever, a device that never ends would fill the memory.
        const platform::FileFacts library = platform::InspectFile(settings.AVSDLL);
        const char* problem = nullptr;
        if (library.Kind == platform::FileKind::Special) problem = "is not a regular file";
        else if (library.Kind == platform::FileKind::Directory) problem = "is a folder";
        else if (library.Kind != platform::FileKind::Regular) problem = "does not exist";
        else if (library.Size > kLibraryFileLimit) problem = "is too large";
        if (problem) return Fail(FormatText("Specified avisynth.dll %s:\n%s\n", problem, settings.AVSDLL.c_str()));
    }
    std::string errorText;
    const int queried = QueryFrameServer(avisynthInfo, errorText, settings.AVSDLL);
    ClearStatus();
    if (!queried) {
        if (avisynthInfo.DLLNotFound) return Fail(FormatText("\n%s\n", errorText.c_str()));
        if (!avisynthInfo.Is64Bit) return Fail("\nTachoro (x64) cannot load a 32 Bit avisynth.dll.\n");
        if (!errorText.empty()) return Fail(FormatText("\n%s\n", errorText.c_str()));
        return Fail(FormatText("\nCannot load avisynth.dll\n%s\n", SystemErrorText().c_str()));
    }
    ConsolePrint(Stream(), ColourVersion, "\r%s", avisynthInfo.FrameServerVersion.c_str());
    ConsolePrint(Stream(), ColourReport, " (%s)\n", avisynthInfo.FileVersion.c_str());
    return 0;
}

// Blanks the prompt line and the one above it, bottom up.
void ClearTwoLinesUpward() {
    for (int line = 0; line < 2; ++line) {
        Utils.ClearLine();
        Utils.MoveCursorUp(1);
    }
}

// A GPU source must be there when GPU monitoring is wanted: GPU-Z on
// Windows, as it always was, else a driver's.
int ConnectGPUMonitor(CGPUMonitor& gpu, RunState& run) {
    if (!run.MonitorGPU) return 0;
    const GPUSearch search = SystemGPUSearch(0);
    switch (gpu.Connect(search)) {
    case GPUConnect::Connected: return 0;
    case GPUConnect::BlockFailed:
        return Fail(FormatText("\nCannot initialize GPU-Z shared memory:\n%s", gpu.ErrorText.c_str()));
    case GPUConnect::Refused: return Fail(FormatText("\n%s\n", gpu.ErrorText.c_str()));
    case GPUConnect::NotFound: break;
    }
    // A driver that is there but gave no GPU says why; that line stays.
    for (const std::string& note : gpu.Notes) ConsolePrint(Stream(), ColourError, "\n%s", note.c_str());
    ConsolePrint(Stream(), ColourError, "\nIn order to measure GPU usage, %s.\n",
                 search.Amdgpu ? "an NVIDIA (NVML) or amdgpu driver is needed" : "GPU-Z must be running");
    ConsolePrint(Stream(), ColourReport, "Continue without GPU monitoring? [y/n]");
    const bool goOn = AskYesNo(10);
    ClearTwoLinesUpward();
    if (!goOn) {
        WaitBeforeExit();
        return -1;
    }
    run.MonitorGPU = false;
    return 0;
}

// Shows what ended the frame-server work and keeps the frame server's
// message for the log; a failed frame request says which frame, below the
// summary of the frames read before it.
void ReportFailure(const RunEnding& failure, RunState& run, const BenchmarkResult& benchmark,
                   const std::optional<uint32_t>& failedFrame) {
    std::string text = failure.Message;
    if (failure.How != RunEnding::Kind::FrameServerError && text.empty()) text = "Unknown exception";
    if (failedFrame) text = FrameReadFailureText(text, *failedFrame);
    if (failure.How == RunEnding::Kind::FrameServerError) {
        run.RunErrorText = failure.Message;
        ConsolePrint(Stream(), ColourError,
                     benchmark.Progress == LoopProgress::NotStarted || failedFrame ? "\n%s\n" : "\r%s\n", text.c_str());
    } else {
        ConsolePrint(Stream(), ColourError, "\n%s\n", text.c_str());
    }
}

// The console lines of the clip report (the audio lines go to the log only).
void PrintClipReport(const ClipReportText& report) {
    for (const std::string& line : report.VideoLines) ConsolePrint(Stream(), ColourUnchanged, "\n%s", line.c_str());
    ConsolePrint(Stream(), ColourUnchanged, "\n%s", kColourSpaceLabel);
    ConsolePrint(Stream(), ColourUnchanged, "%s\n", report.ColourSpaceName.c_str());
    if (!report.MTModeLine.empty()) ConsolePrint(Stream(), ColourUnchanged, "%s\n", report.MTModeLine.c_str());
}

// The most of a settings value that a message repeats: enough to recognise
// it, and a value of megabytes does not flood the console.
constexpr size_t kEchoedValueLimit = 200;

// The prompt for an invalid range; true when the user accepts the whole clip.
bool AcceptDefaultRange(uint32_t clipFrames, const std::string& rangeText) {
    Utils.ClearLine();
    ConsolePrint(Stream(), ColourError, "\rInvalid frame range specified:\n");
    ConsolePrint(Stream(), ColourError, "\r\"%s\"\n", ShortenedText(rangeText, kEchoedValueLimit).c_str());
    ConsolePrint(Stream(), ColourReport, "\rProceed with default (%u,%u)? [y/n]", 0u, clipFrames - 1);
    const bool accepted = AskYesNo(100);
    // The prompt, the range text and the heading, from the bottom up; the
    // cursor ends on the heading's line.
    Utils.ClearLine();
    Utils.MoveCursorUp(1);
    Utils.ClearLine();
    Utils.MoveCursorUp(1);
    Utils.ClearLine();
    return accepted;
}

// Which lines the display and the summary carry.
DisplayOptions DisplayOptionsFor(const Settings& settings, bool monitorGPU) {
    DisplayOptions options;
    options.DisplayFPS = settings.DisplayFPS;
    options.DisplayTPF = settings.DisplayTPF;
    options.LogEstimatedTime = settings.LogEstimatedTime;
    options.MonitorGPULoad = monitorGPU;
    return options;
}

// The single-instance lock; a lock that cannot be taken for another reason
// than a running instance is said once and the run goes on without it.
int TakeSingleInstanceLock() {
    platform::ClearSystemError();
    switch (platform::AcquireSingleInstanceLock(kInstanceLockName)) {
    case platform::LockResult::AlreadyRunning:
        return Fail("\nOne instance of Tachoro is already running\n");
    case platform::LockResult::Failed: {
        std::string reason = SystemErrorText();
        TrimText(reason);
        if (reason.empty()) reason = "unknown error";
        ConsolePrint(Stream(), ColourError, "\nSingle-instance lock not taken (%s); running without it\n",
                     reason.c_str());
        break;
    }
    case platform::LockResult::Acquired:
        break;
    }
    return 0;
}

// The calendar time now: as UTC in ISO 8601 for the JSON file, local for
// the chart's title.
void StampStart(SeriesReport& series) {
    const std::time_t now = std::time(nullptr);
    if (const std::tm* utc = std::gmtime(&now))
        series.StartedUtc = FormatText("%04d-%02d-%02dT%02d:%02d:%02dZ", utc->tm_year + 1900, utc->tm_mon + 1,
                                       utc->tm_mday, utc->tm_hour, utc->tm_min, utc->tm_sec);
    if (const std::tm* local = std::localtime(&now))
        series.StartedLocal = FormatText("%04d-%02d-%02d %02d:%02d", local->tm_year + 1900, local->tm_mon + 1,
                                         local->tm_mday, local->tm_hour, local->tm_min);
}

// The summary over the live display, with the frame-time lines.
void ShowSummary(const BenchmarkResult& benchmark, const DisplayOptions& options) {
    const RunSummary summary = PrintRunSummary(benchmark.Stats, benchmark.Readings, options);
    if (benchmark.FrameTimes && !summary.Insufficient) {
        const FrameTimeSummary times = SummariseFrameTimes(*benchmark.FrameTimes, platform::FrameCounterFrequency());
        for (const std::string& line : FrameTimeLines(times)) PrintPermanentLine(ColourReport, line);
    }
}

// The record of a run from what the benchmark left, however it ended.
RunRecord RecordOf(const BenchmarkResult& benchmark, uint32_t number) {
    RunRecord record;
    record.Number = number;
    record.Measured = benchmark.Progress != LoopProgress::NotStarted;
    record.Ending.How = benchmark.Stop;
    record.Stats = benchmark.Stats;
    record.Readings = benchmark.Readings;
    if (benchmark.Samples)
        record.Samples.assign(benchmark.Samples.get(), benchmark.Samples.get() + benchmark.Stats.SamplesStored);
    if (benchmark.FrameTimes)
        record.FrameTimes = SummariseFrameTimes(*benchmark.FrameTimes, platform::FrameCounterFrequency());
    return record;
}

// Holds off a second interruption while the files of a run are written:
// each is whole by itself (WriteReportFile), and together they are of one
// generation, never a new log beside an old JSON file.
class InterruptionHold {
public:
    InterruptionHold() { platform::HoldInterruption(); }
    ~InterruptionHold() { platform::ReleaseInterruption(); }
    InterruptionHold(const InterruptionHold&) = delete;
    InterruptionHold& operator=(const InterruptionHold&) = delete;
};

// The steps of a script's series over the frame server and the console:
// the calibration, one evaluate-measure-release cycle, the files.
class FrameServerSteps final : public ScriptSteps {
public:
    FrameServerSteps(Settings& settings, const FrameServerFacts& avisynthInfo, CGPUMonitor& gpu, RunState& run,
                     const ResultOptions& results)
        : settings(settings), avisynthInfo(avisynthInfo), gpu(gpu), run(run), results(results) {}

    SeriesReport NewSeries(const std::string& script) override {
        run.ScriptPath = script;
        run.WriteLog = settings.CreateLog;
        samplingInterval = 0;
        defaultRangeAccepted = false;
        endedEarly = false;
        earlyLogFailed = false;

        SeriesReport series;
        series.ScriptPath = script;
        series.ProgramVersion = ProgramVersionShort();
        series.Platform = platform::SystemName();
        series.FrameServerInterface = kFrameServerInterface;
        StampStart(series);
        // The script as it is loaded: the log shows this copy, whatever
        // becomes of the file during the run. A copy that cannot be taken now
        // is read again when the log is written.
        std::string scriptBytes;
        if (ReadFileText(script, scriptBytes) == platform::FileRead::Done) series.ScriptBytes = scriptBytes;
        // Known before the script is evaluated: every log has it.
        series.General = GeneralInfo{run.VersionText, script, run.SwitchesText, avisynthInfo};
        series.InfoOnly = run.InfoOnly;
        series.RunsRequested = run.InfoOnly ? 1 : results.Runs;
        MeasurementSettings& measured = series.Settings;
        measured.FrameRangeValid = settings.FrameRangeValid;
        measured.FrameFirst = settings.FrameFirst;
        measured.FrameLast = settings.FrameLast;
        measured.TimeLimit = settings.TimeLimit;
        measured.ProcessPriority = settings.ProcessPriority;
        measured.Runs = series.RunsRequested;
        measured.FrameTimes = results.FrameTimes;
        measured.MonitorGPU = run.MonitorGPU;
        measured.InvokeDistributor = settings.InvokeDistributor;
        measured.Switches = run.SwitchesText;
        series.Columns.MonitorGPU = run.MonitorGPU;
        return series;
    }

    bool Calibrate(SeriesReport& series) override {
        ShowStatus("Analysing script...");
        AnalyseScript(series.ScriptPath, settings.AVSDLL, avisynthInfo.InterfaceVersion, settings.InvokeDistributor,
                      calibration);
        samplingInterval = calibration.Interval;
        run.RunErrorText = calibration.ErrorText;
        return CalibrationEnded(series);
    }

    void CalibrationLost(SeriesReport& series, uint32_t code) override {
        samplingInterval = 0;
        run.RunErrorText = FaultResult(code).Message;
        // The calibration's thread is held still: how far it got can be read.
        if (calibration.Closing)
            calibration.ClosingFault.swap(run.RunErrorText);
        else if (calibration.Reading)
            run.RunErrorText = FrameReadFailureText(run.RunErrorText, *calibration.Reading);
        CalibrationEnded(series);
    }

    CycleEnd Cycle(SeriesReport& series, uint32_t number) override;

    void CycleLost(SeriesReport& series, uint32_t number, uint32_t code) override {
        CycleWork none;
        EndCycle(series, number, cycleWork ? *cycleWork : none, FaultResult(code));
    }

    bool WriteFiles(const SeriesReport& series) override {
        // With the early log's hold, if there was one: the files of the run
        // are written together.
        const InterruptionHold hold;
        const auto earlyHold = std::move(earlyLogHold);
        bool written = !earlyLogFailed;
        auto attempt = [&](const std::string& error) {
            if (error.empty()) return;
            PrintError(error);
            written = false;
        };
        // Each file on its own: one that cannot be written keeps no other
        // from being written. A log that nobody asked for (after an error)
        // keeps an existing one as its backup.
        if (!endedEarly && run.WriteLog) attempt(WriteSeriesLogFile(series, !settings.CreateLog));
        if (!endedEarly && settings.CreateCSV && !series.InfoOnly) attempt(WriteSeriesCSVFile(series));
        if (results.Json) attempt(WriteJSONFile(series));
        if (results.Plot && !series.InfoOnly && !series.Runs.empty()) attempt(WritePlotFile(series));
        return written;
    }

    bool FrameServerLost() const override { return FrameServerStranded(); }

    int Interruption() const override { return platform::InterruptionExitCode(); }

    // From the first run until the files are written an interruption ends
    // the series with what it finished; before and after, the process.
    void CatchInterruptions() {
        if (catching) return;
        platform::ArmInterruption();
        catching = true;
    }
    void StopCatchingInterruptions() {
        if (catching) platform::DisarmInterruption();
        catching = false;
    }

    void ShowLines(const std::vector<std::string>& lines) override {
        ConsolePrint(Stream(), ColourUnchanged, "\n");
        for (const std::string& line : lines) PrintPermanentLine(ColourReport, line);
    }

private:
    // What one cycle keeps outside its guarded work: all that is needed to
    // end it from another thread when that work cannot return.
    struct CycleWork {
        BenchmarkState benchmark;
        CycleEnd earlyEnd = CycleEnd::Ran;  // an information-only run or a refused range
        bool exceptionPathBegun = false;
        std::optional<uint32_t> failedFrame;  // a frame request of the loop failed
        DisplayOptions display;
        bool closing = false;  // every requested frame was rendered; the frame server is being closed
        std::optional<DisplayOptions> summary;  // the lines of the summary shown
    };

    // The run's summary on the console; the log's has the same lines.
    void ShowCycleSummary(CycleWork& cycle, const DisplayOptions& display) {
        cycle.summary = WithGPUFacts(display, gpu);
        ShowSummary(cycle.benchmark.Result, *cycle.summary);
    }

    // The first steps of every handler of a caught exception; after a
    // failed frame request, the summary of the frames read before it.
    void BeginExceptionPath(CycleWork& cycle) {
        cycle.exceptionPathBegun = true;
        ClearStatus();
        run.WriteLog = true;
        run.ExitCode = -1;
        BenchmarkResult& benchmark = cycle.benchmark.Result;
        if (benchmark.Progress == LoopProgress::NotStarted) return;
        if (benchmark.Progress == LoopProgress::Running) {
            cycle.failedFrame = benchmark.Stats.CurrentFrame;
            EndFailedRun(benchmark);
            ShowCycleSummary(cycle, DisplayOptionsFor(settings, run.MonitorGPU));
            return;
        }
        Utils.MoveCursorUp(2);
        PrintPermanentLine(ColourUnchanged, "");
        PrintPermanentLine(ColourUnchanged, "");
        Utils.MoveCursorUp(2);
    }

    // The calibration's failure message, if it failed, and the log when one
    // was asked for: the general information, the clip once evaluated, the
    // script and the error. A fault while the frame server closed, after
    // every frame was rendered, leaves the interval good: the measurement
    // follows, unless a thread of the frame server's own is lost with it.
    bool CalibrationEnded(const SeriesReport& series) {
        ClearStatus();
        const bool closingFault = !calibration.ClosingFault.empty();
        if (closingFault) PrintError(ClosingFaultText(calibration.ClosingFault));
        if (samplingInterval != 0 && run.RunErrorText.empty()) return !FrameServerStranded();
        if (!closingFault || !run.RunErrorText.empty()) PrintError(FormatText("\n%s\n", run.RunErrorText.c_str()));
        if (run.WriteLog) {
            RunReport report = RunReportOf(series, 0);
            report.Clip = calibration.Clip;
            report.LoggedError = run.RunErrorText.empty() ? calibration.ClosingFault : run.RunErrorText;
            const std::string error = WriteLogFile(report);
            if (!error.empty()) PrintError(error);
        }
        return false;
    }

    // The cycle's end after its guarded work (or after work that was lost,
    // its session left as it is).
    CycleEnd EndCycle(SeriesReport& series, uint32_t number, CycleWork& cycle, const RunEnding& work);

    // The log written before the library goes, after an information-only
    // run or a refused range; its failure is shown, and WriteFiles, which
    // writes the run's other files later, reports it. A second interruption
    // waits until those are written too.
    void WriteEarlyLog(SeriesReport& series, uint16_t colour) {
        endedEarly = true;
        series.Columns.HasVideoEngine = gpu.Features.HasVideoEngine;
        series.Columns.HasProcessLoad = gpu.Features.HasProcessLoad;
        if (!run.WriteLog) return;
        earlyLogHold = std::make_unique<InterruptionHold>();
        const std::string error = WriteSeriesLogFile(series);
        if (error.empty()) return;
        ConsolePrint(Stream(), colour, "%s", error.c_str());
        earlyLogFailed = true;
    }

    Settings& settings;
    const FrameServerFacts& avisynthInfo;
    CGPUMonitor& gpu;
    RunState& run;
    const ResultOptions& results;
    CalibrationResult calibration;
    uint32_t samplingInterval = 0;
    bool defaultRangeAccepted = false;  // asked once per script
    bool endedEarly = false;            // the log was written before the library went
    bool earlyLogFailed = false;
    std::unique_ptr<InterruptionHold> earlyLogHold;  // until the run's other files are written
    bool catching = false;              // interruptions end the series, not the process
    bool firstCycle = true;             // the GPU block is open for the first cycle only
    CycleWork* cycleWork = nullptr;     // the cycle under way
};

CycleEnd FrameServerSteps::Cycle(SeriesReport& series, uint32_t number) {
    const bool severalRuns = series.RunsRequested > 1;
    run.RunErrorText.clear();
    run.ExitCode = 0;
    // GPU-Z's block is closed after each measurement (not after a failed
    // one); later cycles open it anew.
    if (run.MonitorGPU && !firstCycle && !gpu.Resume()) {
        PrintError(FormatText("\nCannot initialize GPU-Z shared memory:\n%s", gpu.ErrorText.c_str()));
        return CycleEnd::SetupFailed;
    }
    firstCycle = false;
    CatchInterruptions();

    // Main connection.
    CycleWork cycle;
    const OpenedSession opened = OpenSession(settings.AVSDLL, avisynthInfo.InterfaceVersion);
    if (!opened.Session) {
        PrintError("\n" + opened.Text + "\n");
        return CycleEnd::SetupFailed;
    }
    FrameServerContext& session = *opened.Session;

    BenchmarkState& benchmark = cycle.benchmark;
    CycleEnd& earlyEnd = cycle.earlyEnd;
    cycleWork = &cycle;
    const SessionResult work = RunSession(
        session,
        [&] {
            // The script and the report facts.
            ShowStatus("Loading script...");
            ScriptChecks checks;
            checks.NotAClip = "\"%s\":\nScript did not return a clip";
            session.Evaluate(series.ScriptPath, checks, settings.InvokeDistributor);
            ClearStatus();
            // An evaluation cannot be interrupted safely; one that came
            // meanwhile ends the series now, before anything is measured.
            const auto interrupted = [&] {
                if (!platform::InterruptionRequested()) return false;
                session.ReleaseScript();
                earlyEnd = CycleEnd::Interrupted;
                return true;
            };
            if (interrupted()) return;
            const ClipFacts& clip = session.Facts();
            if (run.MonitorGPU) series.GraphicsCard = gpu.Facts();
            series.Clip = clip;
            if (number == 1) PrintClipReport(BuildClipReport(clip));

            // Information only.
            if (run.InfoOnly) {
                session.ReleaseScript();
                RunRecord record;
                record.Number = number;
                series.Runs.push_back(record);
                WriteEarlyLog(series, ColourError);
                earlyEnd = CycleEnd::InfoOnly;
                return;
            }

            // Frame-range check; the prompt is asked once per script.
            if (number == 1) ConsolePrint(Stream(), ColourUnchanged, "\n");
            const uint32_t clipFrames = clip.FramesToRead;
            const FrameRange range = ResolveFrameRange(settings.FrameFirst, settings.FrameLast, clipFrames);
            BenchmarkSetup setup;
            setup.FirstFrame = range.First;
            setup.LastFrame = range.Last;
            if (!range.Valid) {
                if (!defaultRangeAccepted && !AcceptDefaultRange(clipFrames, settings.FrameRangeText)) {
                    if (interrupted()) return;
                    session.ReleaseScript();
                    series.RangeRefused = true;
                    WriteEarlyLog(series, ColourUnchanged);
                    earlyEnd = CycleEnd::RangeRefused;
                    return;
                }
                defaultRangeAccepted = true;
                setup.FirstFrame = 0;
                setup.LastFrame = clipFrames - 1;
            }

            // Measurement.
            if (interrupted()) return;
            if (severalRuns) {
                if (number > 1) ConsolePrint(Stream(), ColourUnchanged, "\n");
                PrintPermanentLine(ColourReport, FormatText("Run %u of %u", number, series.RunsRequested));
            }
            ShowStatus(ReadingMessage(setup.LastFrame - setup.FirstFrame + 1));
            setup.SamplingInterval = samplingInterval;
            setup.TimeLimit = settings.TimeLimit;
            setup.Display = DisplayOptionsFor(settings, run.MonitorGPU);
            setup.FrameTimes = results.FrameTimes;
            MeasureFrames(session, setup, gpu, benchmark);

            // Summary and teardown of the frame server.
            if (run.MonitorGPU) gpu.Suspend();
            cycle.display = setup.Display;
            cycle.closing = true;
            session.ReleaseScript();
            ShowCycleSummary(cycle, cycle.display);
        },
        [&] {
            // The system's text is read after the display lines are cleared,
            // as for the other failures (the summary follows a failure while
            // closing).
            if (!cycle.closing) BeginExceptionPath(cycle);
            return std::string("Unknown exception");
        });
    cycleWork = nullptr;
    return EndCycle(series, number, cycle, work.Work);
}

CycleEnd FrameServerSteps::EndCycle(SeriesReport& series, uint32_t number, CycleWork& cycle,
                                    const RunEnding& work) {
    // A failure while the frame server closed, after every requested frame
    // was rendered, leaves the run as it was measured: its summary, then
    // what happened.
    const bool closingFault = work.Failed() && cycle.closing;
    const std::string message = work.Message.empty() ? std::string("Unknown exception") : work.Message;
    if (closingFault) {
        if (!cycle.summary) ShowCycleSummary(cycle, cycle.display);
        PrintError(ClosingFaultText(message));
    } else if (work.Failed()) {
        if (!cycle.exceptionPathBegun) BeginExceptionPath(cycle);
        ReportFailure(work, run, cycle.benchmark.Result, cycle.failedFrame);
    }
    if (cycle.earlyEnd != CycleEnd::Ran && !work.Failed()) return cycle.earlyEnd;

    RunRecord record = RecordOf(cycle.benchmark.Result, number);
    record.Summary = cycle.summary;
    if (work.Failed() && !closingFault) record.Ending = work;
    if (work.Failed()) record.Ending.Message = message;
    record.Ending.WhileClosing = closingFault;
    record.Ending.FailedFrame = cycle.failedFrame;
    if (series.InfoOnly && !series.Runs.empty()) series.Runs.pop_back();  // the evaluation failed after all
    series.Runs.push_back(record);
    series.Columns.MonitorGPU = run.MonitorGPU;
    series.Columns.HasVideoEngine = gpu.Features.HasVideoEngine;
    series.Columns.HasProcessLoad = gpu.Features.HasProcessLoad;
    return CycleEnd::Ran;
}

// The message that refuses a call when two of the report files it may
// write (the log of every script, and its CSV, JSON and chart files where
// they are asked for) are one file: the same existing file (links, a folder
// reached under two names), or the same place for files that do not exist
// yet. Empty when every file is a file of its own.
std::string SharedReportFileMessage(const CommandLineResult& commandLine, const Settings& settings) {
    struct ReportFile {
        std::string Name;
        size_t Script;
        platform::FileIdentity Identity;
    };
    std::vector<ReportFile> files;
    for (size_t script = 0; script < commandLine.ScriptPaths.size(); ++script) {
        const std::string& path = commandLine.ScriptPaths[script];
        // A failed run writes the log even when nobody asked for it.
        std::vector<std::string> names = {LogFileName(path)};
        if (settings.CreateCSV) names.push_back(CsvFileName(path));
        if (commandLine.Results.Json) names.push_back(JsonFileName(path));
        if (commandLine.Results.Plot) names.push_back(PlotFileName(path));
        for (const std::string& name : names) {
            const ReportFile file{name, script, platform::IdentifyFile(name)};
            for (const ReportFile& earlier : files) {
                if (!platform::SameIdentity(earlier.Identity, file.Identity)) continue;
                if (earlier.Script != script)
                    return FormatText("\nTwo scripts would share their report files: \"%s\"\n",
                                      commandLine.ScriptArguments[script].c_str());
                return FormatText("\nTwo report files would be one file: \"%s\" and \"%s\"\n", earlier.Name.c_str(),
                                  name.c_str());
            }
            files.push_back(file);
        }
    }
    return std::string();
}

// The last step of a run that got as far as the scripts.
int Closing(int exitCode) {
    // An interrupted run has kept its results; whoever interrupted it does
    // not want to press a key as well.
    if (!platform::InterruptionRequested()) WaitBeforeExit();
    return exitCode;
}

// The run's end when a worker thread of the frame server faulted and the
// thread that measures cannot come back from its wait for it.
void EndAfterWorkerFault(uint32_t code, void* context) {
    ScriptsMeasurement& measurement = *static_cast<ScriptsMeasurement*>(context);
    platform::EndProcessNow(Closing(measurement.EndAfterLostWork(code)));
}

}  // namespace

int RunTachoro(int argc, char** argv) {
    // Before anything is opened or written.
    platform::PrepareStandardStreams();
    RunState run;
    Settings settings;
    FrameServerFacts avisynthInfo;

    // Help and version come before the settings file: they need no frame
    // server and leave no settings file behind.
    const std::vector<std::string> givenArguments =
        argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
    const InformationRequest request = FindInformationRequest(givenArguments);
    if (request != InformationRequest::None) {
        PrintInformation(request);
        return 0;
    }

    // A file-size limit must make a report write fail, not end the run.
    platform::ReportFileSizeLimitAsError();

    // Version and settings.
    run.VersionText = ProgramVersionShort() + " (x64)";
    std::string settingsNotice;
    const std::string settingsError = LoadSettings(settings, &settingsNotice);
    if (!settingsError.empty()) {
        ConsolePrint(1, ColourError, "%s", settingsError.c_str());
        WaitBeforeExit();
        return -1;
    }
    Utils.Configure(ConsoleOptions{settings.ConUseSTDOUT, settings.UseColor, settings.PauseBeforeExit});

    // Banner and the installation check of the frame server.
    ConsolePrint(Stream(), ColourBanner, "\nTachoro %s\n", run.VersionText.c_str());
    if (!settingsNotice.empty()) ConsolePrint(Stream(), ColourError, "%s", settingsNotice.c_str());
    if (CheckFrameServer(settings, avisynthInfo) != 0) return -1;

    // Single-instance check.
    if (settings.AllowOnlyOneInstance && TakeSingleInstanceLock() != 0) return -1;

    // Command line.
    if (argc < 2) {
        PrintUsage();
        WaitBeforeExit();
        return -1;
    }
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    CommandLineResult commandLine = ParseArguments(arguments, settings, SystemPathServices());
    if (!commandLine.ErrorMessage.empty()) return Fail(commandLine.ErrorMessage);
    run.ScriptPath = commandLine.ScriptPath;
    run.SwitchesText = commandLine.SwitchesText;
    TrimText(run.SwitchesText);
    run.InfoOnly = commandLine.InfoOnly;
    run.AvsInfoMode = commandLine.AvsInfoMode;
    run.WriteLog = settings.CreateLog;
    run.MonitorGPU = settings.MonitorGPULoad;

    // The installation report ("-avsinfo").
    if (run.AvsInfoMode) {
        CheckPluginLoading(avisynthInfo, settings.AVSDLL);
        Utils.MoveCursorUp(1);
        Utils.ClearLine();
        ConsolePrint(Stream(), ColourUnchanged, "\n");
        for (const std::string& line : AvisynthReportLines(avisynthInfo, ToOemText))
            ConsolePrint(1, ColourReport, "%s\n", line.c_str());
        ConsolePrint(Stream(), ColourUnchanged, "\n");
        WaitBeforeExit();
        return 0;
    }

    // A script is required, and each report file must be a file of its own;
    // the process priority.
    if (run.ScriptPath.empty()) return Fail("\nNo script file specified\n");
    const std::string sharedFile = SharedReportFileMessage(commandLine, settings);
    if (!sharedFile.empty()) return Fail(sharedFile);
    platform::SetProcessPriority(settings.ProcessPriority);

    // GPU monitor.
    CGPUMonitor gpu;
    if (ConnectGPUMonitor(gpu, run) != 0) return -1;

    // The scripts, each measured as often as asked, then the exit pause.
    SeriesPlan plan;
    plan.Scripts = commandLine.ScriptPaths;
    plan.Runs = commandLine.Results.Runs;
    plan.InfoOnly = run.InfoOnly;
    FrameServerSteps steps(settings, avisynthInfo, gpu, run, commandLine.Results);
    ScriptsMeasurement measurement(plan, steps);
    platform::SetWorkerFaultEnding(EndAfterWorkerFault, &measurement);
    const int exitCode = measurement.Run();
    platform::SetWorkerFaultEnding(nullptr, nullptr);
    steps.StopCatchingInterruptions();
    return Closing(exitCode);
}
