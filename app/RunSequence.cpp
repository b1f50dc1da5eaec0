#include "app/RunSequence.h"

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Settings.h"
#include "frameserver/AvisynthInfo.h"
#include "frameserver/ClipReport.h"
#include "frameserver/FrameServer.h"
#include "measure/Benchmark.h"
#include "measure/GPUInfo.h"
#include "platform/Platform.h"
#include "report/CsvFile.h"
#include "report/LogFile.h"
#include "support/Console.h"
#include "support/SEException.h"

namespace {

const char* const kInstanceLockName = "__tachoro__single__instance__lock__";

// The texts and flags one run hands from stage to stage.
struct RunState {
    std::string VersionText;
    std::string ScriptPath;
    std::string SwitchesText;
    bool InfoOnly = false;
    bool AvsInfoMode = false;
    std::string RunErrorText;
    std::string ReportText;
    std::string GraphicsCardText;
    int ExitCode = 0;
};

int Stream() { return Settings.ConUseSTDOUT; }

// Every stage that fails ends the same way: the message, the exit pause, -1.
int Fail(const std::string& message) {
    ConsolePrint(Stream(), ColourError, "%s", message.c_str());
    WaitBeforeExit();
    return -1;
}

std::string VersionTextOf(std::string fileVersion) {
    if (fileVersion.size() > 5) fileVersion.resize(5);
    return fileVersion + " (x64)";
}

// Stage 4: refuses a missing, 32-bit or too old frame server.
int CheckFrameServer() {
    ShowStatus("Query Avisynth info...");
    if (!Settings.AVSDLL.empty() && !FileExists(Settings.AVSDLL))
        return Fail(FormatText("Specified avisynth.dll does not exist:\n%s\n", Settings.AVSDLL.c_str()));
    std::string errorText;
    const int queried = AvisynthInfo.Query(errorText, Settings.AVSDLL);
    ClearStatus();
    if (!queried) {
        if (AvisynthInfo.DLLNotFound) return Fail(FormatText("\n%s\n", errorText.c_str()));
        if (!AvisynthInfo.Is64Bit) return Fail("\nTachoro (x64) cannot load a 32 Bit avisynth.dll.\n");
        if (!errorText.empty()) return Fail(FormatText("\n%s\n", errorText.c_str()));
        return Fail(FormatText("\nCannot load avisynth.dll\n%s\n", SystemErrorText().c_str()));
    }
    ConsolePrint(Stream(), ColourVersion, "\r%s", AvisynthInfo.FrameServerVersion.c_str());
    ConsolePrint(Stream(), ColourReport, " (%s)\n", AvisynthInfo.FileVersion.c_str());
    return 0;
}

// Blanks the prompt line and the one above it, bottom up.
void ClearTwoLinesUpward() {
    for (int line = 0; line < 2; ++line) {
        Utils.ClearLine();
        Utils.MoveCursorUp(1);
    }
}

// Stage 10: GPU-Z must be there when GPU monitoring is wanted.
int ConnectGPUMonitor(CGPUInfo& gpu) {
    if (!Settings.MonitorGPULoad) return 0;
    if (!gpu.WindowFound) {
        ConsolePrint(Stream(), ColourError, "\nIn order to measure GPU usage, GPU-Z must be running.\n");
        ConsolePrint(Stream(), ColourReport, "Continue without GPU monitoring? [y/n]");
        const bool goOn = AskYesNo(10);
        ClearTwoLinesUpward();
        if (!goOn) {
            WaitBeforeExit();
            return -1;
        }
        Settings.MonitorGPULoad = 0;
        return 0;
    }
    if (!gpu.OpenSharedMemory())
        return Fail(FormatText("\nCannot initialize GPU-Z shared memory:\n%s", gpu.ErrorText.c_str()));
    return 0;
}

// Writes the log after an information-only run or a refused range; its
// failure is shown but does not change the exit code.
void WriteEarlyLog(const RunState& run, uint16_t colour) {
    if (!Settings.CreateLog) return;
    const std::string error =
        WriteLogFile(run.ScriptPath, run.ReportText, run.GraphicsCardText, nullptr, 0, run.RunErrorText, 0);
    if (!error.empty()) ConsolePrint(Stream(), colour, "%s", error.c_str());
}

// The first steps of every handler of a caught exception.
void BeginExceptionPath(RunState& run, const BenchmarkState& benchmark) {
    ClearStatus();
    Settings.CreateLog = 1;
    run.ExitCode = -1;
    if (!benchmark.DisplayNotStarted) {
        Utils.MoveCursorUp(2);
        PrintPermanentLine(ColourUnchanged, "");
        PrintPermanentLine(ColourUnchanged, "");
        Utils.MoveCursorUp(2);
    }
}

}  // namespace

int RunTachoro(int argc, char** argv) {
    RunState run;

    // Help and version come before the settings file: they need no frame
    // server and leave no settings file behind.
    const std::vector<std::string> givenArguments =
        argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
    const InformationRequest request = FindInformationRequest(givenArguments);
    if (request != InformationRequest::None) {
        PrintInformation(request);
        return 0;
    }

    // 1-2: version and settings.
    run.VersionText = VersionTextOf(GetFileVersionText(std::string()));
    const std::string settingsError = LoadSettings();
    if (!settingsError.empty()) {
        ConsolePrint(1, ColourError, "%s", settingsError.c_str());
        WaitBeforeExit();
        return -1;
    }

    // 3-4: banner and the frame server.
    ConsolePrint(Stream(), ColourBanner, "\nTachoro %s\n", run.VersionText.c_str());
    if (CheckFrameServer() != 0) return -1;

    // 5: one instance at a time.
    if (Settings.AllowOnlyOneInstance &&
        platform::AcquireSingleInstanceLock(kInstanceLockName) == platform::LockResult::AlreadyRunning)
        return Fail("\nOne instance of Tachoro is already running\n");

    // 6: arguments.
    if (argc < 2) {
        PrintUsage();
        WaitBeforeExit();
        return -1;
    }
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    CommandLineResult commandLine = ParseArguments(arguments, Settings, SystemPathServices());
    if (!commandLine.ErrorMessage.empty()) return Fail(commandLine.ErrorMessage);
    run.ScriptPath = commandLine.ScriptPath;
    run.SwitchesText = commandLine.SwitchesText;
    TrimText(run.SwitchesText);
    run.InfoOnly = commandLine.InfoOnly;
    run.AvsInfoMode = commandLine.AvsInfoMode;

    // 7: the frame-server report.
    if (run.AvsInfoMode) {
        Utils.MoveCursorUp(1);
        ConsolePrint(Stream(), ColourUnchanged, "\r%s", Utils.PadLine("").c_str());
        ConsolePrint(Stream(), ColourUnchanged, "\n");
        PrintAvisynthReport(AvisynthInfo);
        ConsolePrint(Stream(), ColourUnchanged, "\n");
        WaitBeforeExit();
        return 0;
    }

    // 8-9: a script is required; the priority.
    if (run.ScriptPath.empty()) return Fail("\nNo script file specified\n");
    platform::SetProcessPriority(Settings.ProcessPriority);

    // 10: the GPU monitor.
    CGPUInfo gpu;
    if (ConnectGPUMonitor(gpu) != 0) return -1;

    // 11: calibration.
    uint32_t samplingInterval = 0;
    if (!run.InfoOnly) {
        run.RunErrorText.clear();
        ShowStatus("Analysing script...");
        samplingInterval = AnalyseScript(run.ScriptPath, run.RunErrorText);
        ClearStatus();
        if (samplingInterval == 0 || !run.RunErrorText.empty())
            return Fail(FormatText("\n%s\n", run.RunErrorText.c_str()));
    }

    // 12: the main connection.
    FrameServerContext context;
    switch (OpenFrameServer(context, Settings.AVSDLL, AvisynthInfo.InterfaceVersion)) {
    case OpenResult::LibraryNotLoaded:
        return Fail(FormatText("\nCannot load avisynth.dll\n%s\n", SystemErrorText().c_str()));
    case OpenResult::NoFactory:
        return Fail("\nFailed to load CreateScriptEnvironment()\n");
    case OpenResult::NoEnvironment:
        return Fail("\nCould not create IScriptenvironment\n");
    case OpenResult::Opened:
        break;
    }

    BenchmarkState benchmark;
    bool interrupted = false;
    try {
        // 13-14: the script and the report texts.
        ShowStatus("Loading script...");
        LoadScript(context, run.ScriptPath);
        ClearStatus();
        run.ReportText = GeneralInfoSection(run.VersionText, run.ScriptPath, run.SwitchesText, AvisynthInfo);
        if (Settings.MonitorGPULoad) run.GraphicsCardText = GraphicsCardSection(gpu);
        ReportClipInfo(context, run.ReportText);

        // 15: information only.
        if (run.InfoOnly) {
            ReleaseScript(context);
            WriteEarlyLog(run, ColourError);
            UnloadFrameServer(context);
            WaitBeforeExit();
            return 0;
        }

        // 16: the measurement.
        ConsolePrint(Stream(), ColourUnchanged, "\n");
        if (RunBenchmark(context, samplingInterval, gpu, benchmark, run.ReportText) ==
            BenchmarkOutcome::RangeRefused) {
            ReleaseScript(context);
            WriteEarlyLog(run, ColourUnchanged);
            UnloadFrameServer(context);
            WaitBeforeExit();
            return 0;
        }
        // 17: teardown of the frame server.
        CloseFrameServer(context);
    } catch (AvisynthError& error) {
        BeginExceptionPath(run, benchmark);
        run.RunErrorText = FormatText("%s", error.msg ? error.msg : "");
        ConsolePrint(Stream(), ColourError, benchmark.DisplayNotStarted ? "\n%s\n" : "\r%s\n",
                     run.RunErrorText.c_str());
        interrupted = true;
    } catch (SE_Exception& exception) {
        BeginExceptionPath(run, benchmark);
        const std::string name = ExceptionCodeText(exception.ExceptionCode);
        ConsolePrint(Stream(), ColourError, "\n%s\n", name.empty() ? "Unknown exception" : name.c_str());
        interrupted = true;
    } catch (...) {
        BeginExceptionPath(run, benchmark);
        const std::string text = SystemErrorText();
        ConsolePrint(Stream(), ColourError, "\n%s\n", text.empty() ? "Unknown exception" : text.c_str());
        interrupted = true;
    }
    // Unloaded only once the handler is done: the exception object may come
    // from the frame server's own runtime, and ending the catch frees it.
    if (interrupted) UnloadFrameServer(context);

    // 18-19: the log and the CSV file.
    if (Settings.CreateLog) {
        const std::string error =
            WriteLogFile(run.ScriptPath, run.ReportText, run.GraphicsCardText, benchmark.Samples.get(),
                         benchmark.Stats.SamplesStored, run.RunErrorText, gpu.HasVideoEngine);
        if (!error.empty()) return Fail(error);
    }
    if (Settings.CreateCSV) {
        const std::string error =
            WriteCSVFile(run.ScriptPath, benchmark.Samples.get(), benchmark.Stats.SamplesStored, gpu.HasVideoEngine);
        if (!error.empty()) return Fail(error);
    }

    // 20: the end.
    WaitBeforeExit();
    return run.ExitCode;
}
