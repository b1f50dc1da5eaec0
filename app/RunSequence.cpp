#include "app/RunSequence.h"

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Settings.h"
#include "frameserver/AvisynthInfo.h"
#include "frameserver/Calibration.h"
#include "frameserver/ClipReport.h"
#include "frameserver/FrameSource.h"
#include "frameserver/Session.h"
#include "measure/Benchmark.h"
#include "measure/GPUInfo.h"
#include "platform/Platform.h"
#include "report/CsvFile.h"
#include "report/LogFile.h"
#include "report/RunReport.h"
#include "support/Console.h"
#include "support/SEException.h"

namespace {

const char* const kInstanceLockName = "__tachoro__single__instance__lock__";

// The texts and flags one run hands from step to step, and the report facts
// gathered so far.
struct RunState {
    std::string VersionText;
    std::string ScriptPath;
    std::string SwitchesText;
    bool InfoOnly = false;
    bool AvsInfoMode = false;
    std::string RunErrorText;
    RunReport Report;
    int ExitCode = 0;
    // Decisions of the run that outlive the settings they start from: an
    // error forces the log on, and the GPU prompt can switch monitoring off.
    bool WriteLog = false;
    bool MonitorGPU = false;
};

int Stream() { return MessageStream(); }

// Every step that fails ends the same way: the message, the exit pause, -1.
int Fail(const std::string& message) {
    ConsolePrint(Stream(), ColourError, "%s", message.c_str());
    WaitBeforeExit();
    return -1;
}

// The installation check: refuses a missing, 32-bit or too old frame server.
int CheckFrameServer(const Settings& settings, CAvisynthInfo& avisynthInfo) {
    ShowStatus("Query Avisynth info...");
    if (!settings.AVSDLL.empty()) {
        // Only a regular file is inspected: a pipe would make the check
        // wait forever, a device that never ends would fill the memory.
        const platform::FileFacts library = platform::InspectFile(settings.AVSDLL);
        const char* problem = nullptr;
        if (library.Kind == platform::FileKind::Special) problem = "is not a regular file";
        else if (library.Kind != platform::FileKind::Regular) problem = "does not exist";
        else if (library.Size > kLibraryFileLimit) problem = "is too large";
        if (problem) return Fail(FormatText("Specified avisynth.dll %s:\n%s\n", problem, settings.AVSDLL.c_str()));
    }
    std::string errorText;
    const int queried = avisynthInfo.Query(errorText, settings.AVSDLL);
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

// GPU-Z must be there when GPU monitoring is wanted.
int ConnectGPUMonitor(CGPUInfo& gpu, RunState& run) {
    if (!run.MonitorGPU) return 0;
    if (!gpu.WindowFound) {
        ConsolePrint(Stream(), ColourError, "\nIn order to measure GPU usage, GPU-Z must be running.\n");
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
    if (!gpu.OpenSharedMemory())
        return Fail(FormatText("\nCannot initialize GPU-Z shared memory:\n%s", gpu.ErrorText.c_str()));
    return 0;
}

// The run report as it stands: the facts gathered so far and what the
// benchmark has measured.
RunReport CurrentReport(const RunState& run, const BenchmarkResult& benchmark, const CGPUInfo& gpu) {
    RunReport report = run.Report;
    report.ScriptPath = run.ScriptPath;
    report.Columns.MonitorGPU = run.MonitorGPU;
    report.Columns.HasVideoEngine = gpu.HasVideoEngine;
    report.Samples = benchmark.Samples.get();
    report.SampleCount = benchmark.Stats.SamplesStored;
    report.FrameServerError = run.RunErrorText;
    return report;
}

// Writes the log after an information-only run or a refused range; its
// failure is shown but does not change the exit code.
void WriteEarlyLog(const RunState& run, const BenchmarkResult& benchmark, const CGPUInfo& gpu, uint16_t colour) {
    if (!run.WriteLog) return;
    const std::string error = WriteLogFile(CurrentReport(run, benchmark, gpu));
    if (!error.empty()) ConsolePrint(Stream(), colour, "%s", error.c_str());
}

// The first steps of every handler of a caught exception.
void BeginExceptionPath(RunState& run, const BenchmarkState& benchmark) {
    ClearStatus();
    run.WriteLog = true;
    run.ExitCode = -1;
    if (!benchmark.DisplayNotStarted) {
        Utils.MoveCursorUp(2);
        PrintPermanentLine(ColourUnchanged, "");
        PrintPermanentLine(ColourUnchanged, "");
        Utils.MoveCursorUp(2);
    }
}

// Shows what ended the frame-server work and keeps the frame server's
// message for the log.
void ReportFailure(const RegionResult& failure, RunState& run, BenchmarkState& benchmark) {
    benchmark.Outcome = BenchmarkOutcome::Failed;
    benchmark.ErrorText = failure.Text;
    switch (failure.End) {
    case RegionEnd::FrameServerError:
        run.RunErrorText = failure.Text;
        ConsolePrint(Stream(), ColourError, benchmark.DisplayNotStarted ? "\n%s\n" : "\r%s\n",
                     run.RunErrorText.c_str());
        break;
    case RegionEnd::ProcessorFault:
    case RegionEnd::OtherException:
        ConsolePrint(Stream(), ColourError, "\n%s\n", failure.Text.empty() ? "Unknown exception" : failure.Text.c_str());
        break;
    case RegionEnd::Finished:
        break;
    }
}

// The console lines of the clip report (the audio lines go to the log only).
void PrintClipReport(const ClipReportText& report) {
    for (const std::string& line : report.VideoLines) ConsolePrint(Stream(), ColourUnchanged, "\n%s", line.c_str());
    ConsolePrint(Stream(), ColourUnchanged, "\n%s", kColourSpaceLabel);
    ConsolePrint(Stream(), ColourUnchanged, "%s\n", report.ColourSpaceName.c_str());
    if (!report.MTModeLine.empty()) ConsolePrint(Stream(), ColourUnchanged, "%s\n", report.MTModeLine.c_str());
}

// The prompt for an invalid range; true when the user accepts the whole clip.
bool AcceptDefaultRange(uint32_t clipFrames, const std::string& rangeText) {
    Utils.ClearLine();
    ConsolePrint(Stream(), ColourError, "\rInvalid frame range specified:\n");
    ConsolePrint(Stream(), ColourError, "\r\"%s\"\n", rangeText.c_str());
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

}  // namespace

int RunTachoro(int argc, char** argv) {
    RunState run;
    Settings settings;
    CAvisynthInfo avisynthInfo;

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
        Utils.MoveCursorUp(1);
        ConsolePrint(Stream(), ColourUnchanged, "\r%s", Utils.PadLine("").c_str());
        ConsolePrint(Stream(), ColourUnchanged, "\n");
        PrintAvisynthReport(avisynthInfo);
        ConsolePrint(Stream(), ColourUnchanged, "\n");
        WaitBeforeExit();
        return 0;
    }

    // A script is required; the process priority.
    if (run.ScriptPath.empty()) return Fail("\nNo script file specified\n");
    platform::SetProcessPriority(settings.ProcessPriority);

    // GPU monitor.
    CGPUInfo gpu;
    if (ConnectGPUMonitor(gpu, run) != 0) return -1;

    // The script as it is loaded: the log shows this copy, whatever becomes
    // of the file during the run. A copy that cannot be taken now is read
    // again when the log is written.
    std::string scriptBytes;
    if (ReadFileText(run.ScriptPath, scriptBytes) == platform::FileRead::Done) run.Report.ScriptBytes = scriptBytes;

    // Calibration.
    uint32_t samplingInterval = 0;
    if (!run.InfoOnly) {
        run.RunErrorText.clear();
        ShowStatus("Analysing script...");
        samplingInterval = AnalyseScript(run.ScriptPath, settings.AVSDLL, avisynthInfo.InterfaceVersion,
                                         settings.InvokeDistributor, run.RunErrorText);
        ClearStatus();
        if (samplingInterval == 0 || !run.RunErrorText.empty())
            return Fail(FormatText("\n%s\n", run.RunErrorText.c_str()));
    }

    // Main connection.
    FrameServerContext session;
    if (!session.Load(settings.AVSDLL))
        return Fail(FormatText("\nCannot load avisynth.dll\n%s\n", SystemErrorText().c_str()));
    switch (session.CreateEnvironment(avisynthInfo.InterfaceVersion)) {
    case EnvironmentOutcome::NoFactory:
        return Fail("\nFailed to load CreateScriptEnvironment()\n");
    case EnvironmentOutcome::NoEnvironment:
        return Fail("\nCould not create IScriptenvironment\n");
    case EnvironmentOutcome::Ready:
        break;
    }

    BenchmarkState benchmark;
    bool endedEarly = false;  // an information-only run or a refused range
    bool exceptionPathBegun = false;
    const RegionResult work = RunFrameServerRegion(
        [&] {
            // The script and the report facts.
            ShowStatus("Loading script...");
            ScriptChecks checks;
            checks.NotAClip = "\"%s\":\nScript did not return a clip";
            session.Evaluate(run.ScriptPath, checks, settings.InvokeDistributor);
            ClearStatus();
            const ClipFacts& clip = session.Facts();
            run.Report.General = GeneralInfo{run.VersionText, run.ScriptPath, run.SwitchesText, avisynthInfo};
            if (run.MonitorGPU) run.Report.GraphicsCardText = GraphicsCardSection(gpu);
            run.Report.Clip = clip;
            PrintClipReport(BuildClipReport(clip));

            // Information only.
            if (run.InfoOnly) {
                session.ReleaseScript();
                WriteEarlyLog(run, benchmark, gpu, ColourError);
                endedEarly = true;
                return;
            }

            // Frame-range check.
            ConsolePrint(Stream(), ColourUnchanged, "\n");
            const uint32_t clipFrames = clip.FramesToRead;
            const FrameRange range = ResolveFrameRange(settings.FrameFirst, settings.FrameLast, clipFrames);
            BenchmarkSetup setup;
            setup.FirstFrame = range.First;
            setup.LastFrame = range.Last;
            if (!range.Valid) {
                if (!AcceptDefaultRange(clipFrames, settings.FrameRangeText)) {
                    session.ReleaseScript();
                    WriteEarlyLog(run, benchmark, gpu, ColourUnchanged);
                    endedEarly = true;
                    return;
                }
                setup.FirstFrame = 0;
                setup.LastFrame = clipFrames - 1;
            }

            // Measurement.
            ShowStatus(ReadingMessage(setup.LastFrame - setup.FirstFrame + 1));
            setup.SamplingInterval = samplingInterval;
            setup.TimeLimit = settings.TimeLimit;
            setup.Display = DisplayOptionsFor(settings, run.MonitorGPU);
            RunBenchmark(session.Frames(), setup, gpu, benchmark);

            // Summary and teardown of the frame server.
            if (run.MonitorGPU) gpu.CloseSharedMemory();
            session.ReleaseScript();
            run.Report.RuntimeInfo =
                PrintRunSummary(benchmark.Stats, benchmark.Readings, WithGPUFacts(setup.Display, gpu)).ReportPart;
            session.Close();
        },
        [&] {
            // The system's text is read after the display lines are cleared,
            // as for the other failures.
            BeginExceptionPath(run, benchmark);
            exceptionPathBegun = true;
            return std::string("Unknown exception");
        });
    // The library goes only now that the handler has ended: the exception
    // object may have come from the frame server's own runtime.
    if (work.Failed()) {
        if (!exceptionPathBegun) BeginExceptionPath(run, benchmark);
        ReportFailure(work, run, benchmark);
        session.Unload();
    }
    if (endedEarly) {
        session.Unload();
        WaitBeforeExit();
        return 0;
    }

    // The log and the CSV file, each on its own: one that cannot be written
    // keeps no other from being written. A log that nobody asked for (after
    // an error) keeps an existing one as its backup.
    const RunReport report = CurrentReport(run, benchmark, gpu);
    bool written = true;
    auto show = [&](const std::string& error) {
        if (error.empty()) return;
        ConsolePrint(Stream(), ColourError, "%s", error.c_str());
        written = false;
    };
    if (run.WriteLog) show(WriteLogFile(report, !settings.CreateLog));
    if (settings.CreateCSV) show(WriteCSVFile(report));
    if (!written) run.ExitCode = -1;

    // Exit pause and exit code.
    WaitBeforeExit();
    return run.ExitCode;
}
