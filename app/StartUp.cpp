#include "app/StartUp.h"

#include "app/CommandLine.h"
#include "app/Dialogs.h"
#include "app/Options.h"
#include "app/ResultFiles.h"
#include "app/Settings.h"
#include "platform/Console.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "report/BaselineFile.h"
#include "report/FrameServerReport.h"
#include "support/Console.h"
#include "support/Text.h"

namespace {

const char* const kInstanceLockName = "__tachoro__single__instance__lock__";

// The installation check: refuses a missing, 32-bit or too old frame server.
int CheckFrameServer(const Invocation& call, FrameServerFacts& avisynthInfo) {
    ShowStatus("Query Avisynth info...");
    if (!call.AVSDLL.empty()) {
        // Only a regular file is inspected: a pipe would make the check
        // wait forever, a device that never ends would fill the memory.
        const platform::FileFacts library = platform::InspectFile(call.AVSDLL);
        const char* problem = nullptr;
        if (library.Kind == platform::FileKind::Special) problem = "is not a regular file";
        else if (library.Kind == platform::FileKind::Directory) problem = "is a folder";
        else if (library.Kind != platform::FileKind::Regular) problem = "does not exist";
        else if (library.Size > kLibraryFileLimit) problem = "is too large";
        if (problem) return Fail(FormatText("Specified avisynth.dll %s:\n%s\n", problem, call.AVSDLL.c_str()));
    }
    std::string errorText;
    const int queried = QueryFrameServer(avisynthInfo, errorText, call.AVSDLL);
    ClearStatus();
    if (!queried) {
        if (avisynthInfo.DLLNotFound) return Fail(FormatText("\n%s\n", errorText.c_str()));
        if (!avisynthInfo.Is64Bit) return Fail("\nTachoro (x64) cannot load a 32 Bit avisynth.dll.\n");
        if (!errorText.empty()) return Fail(FormatText("\n%s\n", errorText.c_str()));
        return Fail(FormatText("\nCannot load avisynth.dll\n%s\n", SystemErrorText().c_str()));
    }
    ConsolePrint(MessageStream(), ColourVersion, "\r%s", avisynthInfo.FrameServerVersion.c_str());
    ConsolePrint(MessageStream(), ColourReport, " (%s)\n", avisynthInfo.FileVersion.c_str());
    return 0;
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
        ConsolePrint(MessageStream(), ColourError, "\nSingle-instance lock not taken (%s); running without it\n",
                     reason.c_str());
        break;
    }
    case platform::LockResult::Acquired:
        break;
    }
    return 0;
}

// The installation report ("-avsinfo").
void ShowInstallationReport(const Invocation& call, FrameServerFacts& avisynthInfo) {
    CheckPluginLoading(avisynthInfo, call.AVSDLL);
    Utils.MoveCursorUp(1);
    Utils.ClearLine();
    ConsolePrint(MessageStream(), ColourUnchanged, "\n");
    for (const std::string& line : AvisynthReportLines(avisynthInfo, ToOemText))
        ConsolePrint(platform::Stream::Out, ColourReport, "%s\n", line.c_str());
    ConsolePrint(MessageStream(), ColourUnchanged, "\n");
    WaitBeforeExit();
}

// Whether -baseline is among the arguments: one without a value leaves its
// field empty, as if it were not.
bool BaselineGiven(const std::vector<std::string>& arguments) {
    for (const std::string& raw : arguments) {
        std::string trimmed = raw;
        TrimText(trimmed);
        std::string lowered = trimmed;
        ToLowerText(lowered);
        const SwitchMatch match = MatchSwitch(Options(), lowered, trimmed);
        if (match.Row && match.Row->Text == &Invocation::Baseline) return true;
    }
    return false;
}

// -baseline: its value understood, its file read and of the one script
// named; else why not. Refused here, before anything is measured.
std::string ResolveBaseline(Invocation& call, const std::vector<std::string>& arguments) {
    // "-baseline=" (an empty variable in a build script) must not pass for
    // a comparison that succeeded.
    if (call.Baseline.empty() && !BaselineGiven(arguments)) return std::string();
    const BaselineArgument argument = ParseBaselineArgument(call.Baseline);
    if (!argument.Error.empty()) return "\n" + argument.Error + "\n";
    // A results file holds one script's figures.
    if (call.ScriptPaths.size() > 1)
        return FormatText("\nA baseline is compared with one script; %u scripts are named\n",
                          static_cast<unsigned>(call.ScriptPaths.size()));
    if (call.Scan) return "\nA baseline is compared with one script's runs, not with a parameter scan\n";
    BaselineRead read = ReadBaselineFile(argument.Path);
    if (!read.Facts) return "\n" + read.Error + "\n";
    const std::string mismatch = BaselineScriptMismatch(*read.Facts, argument.Path, call.ScriptPaths.front());
    if (!mismatch.empty()) return "\n" + mismatch + "\n";
    call.BaselineUsed = Invocation::BaselineChoice{argument.Path, argument.ThresholdPercent, std::move(*read.Facts)};
    return std::string();
}

}  // namespace

std::optional<Invocation> StartUp(const std::vector<std::string>& arguments, FrameServerFacts& avisynthInfo,
                                  int& exitCode) {
    exitCode = -1;
    // A file-size limit must make a report write fail, not end the run.
    platform::ReportFileSizeLimitAsError();

    // Settings, then the banner.
    Invocation call;
    std::string settingsNotice;
    const std::string settingsError = LoadSettings(call, &settingsNotice);
    if (!settingsError.empty()) {
        // The settings that choose the console's stream are not known.
        ConsolePrint(platform::Stream::Out, ColourError, "%s", settingsError.c_str());
        WaitBeforeExit();
        return std::nullopt;
    }
    Utils.Configure(ConsoleOptionsOf(call));
    ConsolePrint(MessageStream(), ColourBanner, "\nTachoro %s\n", ProgramVersionText().c_str());
    if (!settingsNotice.empty()) ConsolePrint(MessageStream(), ColourError, "%s", settingsNotice.c_str());

    // The installation check of the frame server, the single-instance lock.
    if (CheckFrameServer(call, avisynthInfo) != 0) return std::nullopt;
    if (call.AllowOnlyOneInstance && TakeSingleInstanceLock() != 0) return std::nullopt;

    // The command line.
    if (arguments.empty()) {
        PrintUsage();
        WaitBeforeExit();
        return std::nullopt;
    }
    const std::string argumentError = ParseArguments(arguments, SystemPathServices(), call);
    if (!argumentError.empty()) {
        Fail(argumentError);
        return std::nullopt;
    }
    if (call.AvsInfoMode) {
        ShowInstallationReport(call, avisynthInfo);
        exitCode = 0;
        return std::nullopt;
    }

    // A script is required, each report file must be a file of its own, and
    // a baseline must fit; the process priority.
    std::string refusal = call.ScriptPaths.empty() ? "\nNo script file specified\n" : SharedReportFileMessage(call);
    if (refusal.empty()) refusal = ResolveBaseline(call, arguments);
    // A profile measures one script's statements; a scan, one script's values.
    if (refusal.empty() && call.Profile && call.Scan) refusal = "\n-profile and -vary cannot be combined\n";
    if (!refusal.empty()) {
        Fail(refusal);
        return std::nullopt;
    }
    platform::SetProcessPriority(call.ProcessPriority);
    return call;
}

bool ConnectGPUMonitor(CGPUMonitor& gpu, uint32_t device, bool& monitorGPU) {
    if (!monitorGPU) return true;
    const GPUSearch search = SystemGPUSearch(device);
    switch (gpu.Connect(search)) {
    case GPUConnect::Connected: return true;
    case GPUConnect::BlockFailed:
        Fail(FormatText("\nCannot initialize GPU-Z shared memory:\n%s", gpu.ErrorText.c_str()));
        return false;
    case GPUConnect::Refused:
        Fail(FormatText("\n%s\n", gpu.ErrorText.c_str()));
        return false;
    case GPUConnect::NotFound: break;
    }
    if (!ContinueWithoutGPU(gpu.Notes, search.Amdgpu)) {
        WaitBeforeExit();
        return false;
    }
    monitorGPU = false;
    return true;
}
