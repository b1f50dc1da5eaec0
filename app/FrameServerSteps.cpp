#include "app/FrameServerSteps.h"

#include <ctime>

#include "app/Dialogs.h"
#include "app/Settings.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Signals.h"
#include "report/LogFile.h"
#include "report/RunReport.h"
#include "support/Console.h"

namespace {

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

}  // namespace

InterruptionHold::InterruptionHold() { platform::HoldInterruption(); }
InterruptionHold::~InterruptionHold() { platform::ReleaseInterruption(); }

SeriesReport FrameServerSteps::NewSeries(const std::string& script, const std::optional<ScanStep>& scan) {
    // A scan's values share the script's log (forced by any value's
    // failure) and its answer to the range prompt.
    if (!scan || scan->Index == 0) {
        writeLog = call.CreateLog;
        defaultRangeAccepted = false;
    }
    samplingInterval = 0;
    endedEarly = false;
    earlyLogFailed = false;

    SeriesReport series;
    series.ScriptPath = script;
    series.Scan = scan;
    series.ProgramVersion = ProgramVersionShort();
    series.Platform = platform::SystemName();
    series.FrameServerInterface = FrameServerInterfaceName();
    StampStart(series);
    // The script as it is loaded: the log shows this copy, whatever
    // becomes of the file during the run. A copy that cannot be taken now
    // is read again when the log is written.
    std::string scriptBytes;
    if (ReadFileText(script, scriptBytes) == platform::FileRead::Done) series.ScriptBytes = scriptBytes;
    // Known before the script is evaluated: every log has it.
    series.General = GeneralInfo{ProgramVersionText(), script, call.SwitchesText, avisynthInfo};
    series.InfoOnly = call.InfoOnly;
    series.RunsRequested = call.InfoOnly ? 1 : static_cast<uint32_t>(call.Runs);
    MeasurementSettings& measured = series.Settings;
    measured.FrameRangeValid = call.FrameRange.Valid;
    measured.FrameFirst = call.FrameRange.First;
    measured.FrameLast = call.FrameRange.Last;
    measured.TimeLimit = call.TimeLimit;
    measured.ProcessPriority = call.ProcessPriority;
    measured.Runs = series.RunsRequested;
    measured.FrameTimes = call.FrameTimes;
    measured.MonitorGPU = monitorGPU;
    measured.InvokeDistributor = call.InvokeDistributor;
    measured.Switches = call.SwitchesText;
    series.Columns.MonitorGPU = monitorGPU;
    return series;
}

bool FrameServerSteps::Calibrate(SeriesReport& series) {
    ShowStatus("Analysing script...");
    // A baseline of another clip is refused as soon as the clip is known,
    // before a frame is read: a refusal, not a failure of the script.
    std::string refusal;
    ClipCheck baselineCheck;
    if (call.BaselineUsed) baselineCheck = [&](const ClipFacts& clip) { return refusal = BaselineRefusal(clip); };
    std::optional<ScriptGlobal> global;
    if (series.Scan) global = ScriptGlobal{series.Scan->Name, series.Scan->Value};
    AnalyseScript(series.ScriptPath, call.AVSDLL, avisynthInfo.InterfaceVersion, call.InvokeDistributor, calibration,
                  baselineCheck, global);
    if (!refusal.empty()) {
        ClearStatus();
        PrintError("\n" + refusal + "\n");
        return false;
    }
    samplingInterval = calibration.Interval;
    calibrationError = calibration.ErrorText;
    return CalibrationEnded(series);
}

std::string FrameServerSteps::BaselineRefusal(const ClipFacts& clip) const {
    const Invocation::BaselineChoice& baseline = *call.BaselineUsed;
    // A range that does not fit the clip is measured whole, if the user
    // accepts that.
    const std::optional<FrameSpan> range = ResolveFrameRange(call.FrameRange, clip.FramesToRead);
    const FrameSpan span = range ? *range : FrameSpan{0, clip.FramesToRead > 0 ? clip.FramesToRead - 1 : 0};
    return BaselineClipMismatch(baseline.Facts, baseline.Path, BaselineClipOf(clip, span.First, span.Last));
}

void FrameServerSteps::CalibrationLost(SeriesReport& series, uint32_t code) {
    samplingInterval = 0;
    calibrationError = FaultResult(code).Message;
    // The calibration's thread is held still: how far it got can be read.
    if (calibration.Closing)
        calibration.ClosingFault.swap(calibrationError);
    else if (calibration.Reading)
        calibrationError = FrameReadFailureText(calibrationError, *calibration.Reading);
    CalibrationEnded(series);
}

// The log when one was asked for: the general information, the clip once
// evaluated, the script and the error. A fault while the frame server
// closed, after every frame was rendered, leaves the interval good: the
// measurement follows, unless a thread of the frame server's own is lost
// with it.
bool FrameServerSteps::CalibrationEnded(SeriesReport& series) {
    ClearStatus();
    const bool closingFault = !calibration.ClosingFault.empty();
    if (closingFault) PrintError(ClosingFaultText(calibration.ClosingFault));
    if (samplingInterval != 0 && calibrationError.empty()) return !FrameServerStranded();
    if (!closingFault || !calibrationError.empty()) PrintError(FormatText("\n%s\n", calibrationError.c_str()));
    // A scan goes on with its next value: the failure waits in the value's
    // series for the scan's files.
    if (series.Scan) {
        series.CalibrationFailure = calibrationError.empty() ? calibration.ClosingFault : calibrationError;
        series.Clip = calibration.Clip;
        return false;
    }
    if (writeLog) {
        RunReport report = RunReportOf(series, 0);
        report.Clip = calibration.Clip;
        report.LoggedError = calibrationError.empty() ? calibration.ClosingFault : calibrationError;
        const std::string error = WriteLogFile(report);
        if (!error.empty()) PrintError(error);
    }
    return false;
}

bool FrameServerSteps::WriteFiles(const SeriesReport& series) {
    // With the early log's hold, if there was one: the files of the run
    // are written together.
    const InterruptionHold hold;
    const auto earlyHold = std::move(earlyLogHold);
    bool written = !earlyLogFailed;
    // Each file on its own: one that cannot be written keeps no other from
    // being written. A log that nobody asked for (after an error) keeps an
    // existing one as its backup.
    for (const ResultFile& file : ResultFiles()) {
        if (!Wanted(file, series)) continue;
        const std::string error = WriteResultFile(file, series, !(call.*file.Switch));
        if (error.empty()) continue;
        PrintError(error);
        written = false;
    }
    return written;
}

bool FrameServerSteps::Wanted(const ResultFile& file, const SeriesReport& series) const {
    switch (file.When) {
    case Written::AlsoAfterFailure:
        return writeLog && !endedEarly;
    case Written::AfterMeasurement:
        if (series.InfoOnly || series.Runs.empty()) return false;
        break;
    case Written::WhenAsked:
        break;
    }
    return call.*file.Switch;
}

// The log written before the library goes, after an information-only run or
// a refused range; its failure is shown, and WriteFiles, which writes the
// run's other files later, reports it. A second interruption waits until
// those are written too.
void FrameServerSteps::WriteEarlyLog(SeriesReport& series, uint16_t colour) {
    series.Columns.HasVideoEngine = gpu.Features.HasVideoEngine;
    series.Columns.HasProcessLoad = gpu.Features.HasProcessLoad;
    // A scan's log is written with its files, after its last value.
    if (series.Scan) return;
    endedEarly = true;
    if (!writeLog) return;
    earlyLogHold = std::make_unique<InterruptionHold>();
    const std::string error = WriteResultFile(ResultFiles().front(), series, false);
    if (error.empty()) return;
    ConsolePrint(MessageStream(), colour, "%s", error.c_str());
    earlyLogFailed = true;
}

int FrameServerSteps::Interruption() const { return platform::InterruptionExitCode(); }

void FrameServerSteps::CatchInterruptions() {
    if (catching) return;
    platform::ArmInterruption();
    catching = true;
}

void FrameServerSteps::StopCatchingInterruptions() {
    if (catching) platform::DisarmInterruption();
    catching = false;
}

void FrameServerSteps::ShowLines(const std::vector<std::string>& lines) {
    ConsolePrint(MessageStream(), ColourUnchanged, "\n");
    for (const std::string& line : lines) PrintPermanentLine(ColourReport, line);
}
