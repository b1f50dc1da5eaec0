// The profile of a script (-profile): after the runs, each stage of the
// script (cut after a statement that leaves a clip) evaluated in a fresh
// session as the whole script is, and measured over the runs' range for at
// most the stage time limit.
#include "app/Dialogs.h"
#include "app/FrameServerSteps.h"
#include "frameserver/ScriptStatements.h"
#include "platform/Console.h"
#include "platform/Files.h"
#include "platform/Signals.h"
#include "support/Console.h"
#include "support/Text.h"

namespace {

// The error that says a stage's value is no clip: not the user's, so the
// stage is dropped. It names the script, as the frame server's own would.
const char* const kStageNotAClip = "\x01 stage without a clip: %s";

constexpr int64_t kStageTimeLimit = 10;  // seconds, without -timelimit

// The live display's lines blanked, the cursor back where they began; on a
// console only (elsewhere the lines stay as they were written).
void EraseLiveDisplay(const RunStatistics& stats) {
    if (!stats.DisplayShown || !platform::IsTerminal(MessageStream())) return;
    const int lines = static_cast<int>(stats.DisplayLines);
    Utils.MoveCursorUp(lines);
    for (int line = 0; line < lines; ++line) PrintPermanentLine(ColourUnchanged, "");
    Utils.MoveCursorUp(lines);
}

}  // namespace

bool FrameServerSteps::Profile(SeriesReport& series) {
    ScriptProfile& profile = series.Profile.emplace();
    profile.StageTimeLimit = call.TimeLimit > 0 ? call.TimeLimit : kStageTimeLimit;
    const SeriesFigures whole = SeriesFiguresOf(series);
    if (whole.Runs > 0) profile.WholeFps = whole.Mean;

    std::string script;
    if (series.ScriptBytes) script = *series.ScriptBytes;
    else if (ReadFileText(series.ScriptPath, script) != platform::FileRead::Done) {
        PrintError("\n" + CannotOpenMessage(series.ScriptPath) + "\n");
        return false;
    }
    const ScriptOutline outline = OutlineScript(script);
    std::vector<size_t> candidates;
    for (size_t index = 0; index < outline.Statements.size(); ++index)
        if (IsStageCandidate(outline.Statements[index])) candidates.push_back(index);
    for (const ScriptStatement& statement : outline.Statements)
        if (statement.Reached && statement.CallsPrefetch) {
            profile.PrefetchLine = statement.Line;
            profile.PrefetchArguments = statement.PrefetchArguments;
            break;
        }

    bool failed = false;
    for (size_t done = 0; done < candidates.size(); ++done) {
        const ScriptStatement& statement = outline.Statements[candidates[done]];
        ShowStatus(FormatText("Profiling line %u (%u of %u)...", statement.Line, static_cast<unsigned>(done + 1),
                              static_cast<unsigned>(candidates.size())));
        stageUnderWay = ProfileStage{statement.Line, statement.Display, RunEnding(), 0, std::nullopt};
        ProfileStage stage = MeasureStage(series, StageScript(script, outline, candidates[done]), profile.StageTimeLimit);
        stageUnderWay.reset();
        ClearStatus();
        if (stage.Ending.How == RunEnding::Kind::FrameServerError &&
            stage.Ending.Message == FormatText(kStageNotAClip, series.ScriptPath.c_str()))
            continue;
        const RunEnding::Kind how = stage.Ending.How;
        profile.Stages.push_back(stage);
        // A fault ends the profile as it ends a run; so do Esc, an
        // interruption and a frame server that is lost.
        failed = how == RunEnding::Kind::Fault || how == RunEnding::Kind::Exception;
        if (failed || how == RunEnding::Kind::StoppedByEsc || how == RunEnding::Kind::StoppedBySignal ||
            Interruption() || FrameServerStranded()) {
            profile.NotReached = static_cast<uint32_t>(candidates.size() - done - 1);
            break;
        }
    }
    ShowLines(ProfileLines(profile));
    return !failed;
}

ProfileStage FrameServerSteps::MeasureStage(const SeriesReport& series, const std::string& text, int64_t timeLimit) {
    ProfileStage stage = *stageUnderWay;
    const OpenedSession opened = OpenSession(call.AVSDLL, avisynthInfo.InterfaceVersion);
    if (!opened.Session) {
        stage.Ending.How = RunEnding::Kind::Exception;
        stage.Ending.Message = opened.Text;
        return stage;
    }
    FrameServerContext& session = *opened.Session;
    const RunStatistics& measured = series.Runs.front().Stats;
    BenchmarkState benchmark;
    const SessionResult work = RunSession(
        session,
        [&] {
            ScriptChecks checks;
            checks.NotAClip = kStageNotAClip;
            session.EvaluateText(series.ScriptPath, text, checks, call.InvokeDistributor);
            // An evaluation cannot be interrupted; what came meanwhile ends
            // the profile before anything of the stage is measured.
            if (platform::InterruptionRequested()) {
                session.ReleaseScript();
                benchmark.Result.Stop = RunEnding::Kind::StoppedBySignal;
                return;
            }
            const uint32_t frames = session.Facts().FramesToRead;
            if (frames < measured.FirstFrame + measured.FramesToProcess)
                throw FrameServerError{FormatText("The stage's clip has %u frames, fewer than the range measured",
                                                  frames)};
            BenchmarkSetup setup;
            setup.FirstFrame = measured.FirstFrame;
            setup.LastFrame = measured.FirstFrame + measured.FramesToProcess - 1;
            setup.SamplingInterval = samplingInterval;
            setup.TimeLimit = timeLimit;
            setup.Display = DisplayOptionsOf(call, false);
            MeasureFrames(session, setup, gpu, benchmark);
            session.ReleaseScript();
        },
        [] { return std::string("Unknown exception"); });
    const BenchmarkResult& result = benchmark.Result;
    if (result.Progress != LoopProgress::NotStarted) EraseLiveDisplay(result.Stats);
    stage.Frames = result.Stats.FramesProcessed;
    stage.Ending = work.Work.Failed() ? work.Work : RunEnding{};
    if (!work.Work.Failed()) stage.Ending.How = result.Stop;
    if (!work.Work.Failed() && result.Stats.SamplesStored > 0) stage.Fps = result.Stats.FPSAverage;
    return stage;
}

void FrameServerSteps::ProfileLost(SeriesReport& series, uint32_t code) {
    ScriptProfile& profile = series.Profile ? *series.Profile : series.Profile.emplace();
    if (stageUnderWay) {
        stageUnderWay->Ending = FaultResult(code);
        profile.Stages.push_back(*stageUnderWay);
    }
    ClearStatus();
    ShowLines(ProfileLines(profile));
}
