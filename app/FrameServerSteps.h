// The steps of a script's series over the frame server and the console: the
// calibration, the files and the interruptions (app/FrameServerSteps.cpp),
// and the evaluate-measure-release cycle (app/Cycle.cpp, ending in
// app/CycleEnd.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Invocation.h"
#include "app/ResultFiles.h"
#include "app/Series.h"
#include "frameserver/AvisynthInfo.h"
#include "frameserver/Calibration.h"
#include "frameserver/Measure.h"
#include "frameserver/Session.h"
#include "measure/Benchmark.h"
#include "measure/GPUMonitor.h"
#include "report/SeriesReport.h"

// Holds off a second interruption while the files of a run are written:
// each is whole by itself (WriteReportFile), and together they are of one
// generation, never a new log beside an old JSON file.
class InterruptionHold {
public:
    InterruptionHold();
    ~InterruptionHold();
    InterruptionHold(const InterruptionHold&) = delete;
    InterruptionHold& operator=(const InterruptionHold&) = delete;
};

class FrameServerSteps final : public ScriptSteps {
public:
    // monitorGPU: whether the GPU is read, as start-up decided it.
    FrameServerSteps(const Invocation& call, const FrameServerFacts& avisynthInfo, CGPUMonitor& gpu, bool monitorGPU)
        : call(call), avisynthInfo(avisynthInfo), gpu(gpu), monitorGPU(monitorGPU) {}

    SeriesReport NewSeries(const std::string& script, const std::optional<ScanStep>& scan) override;
    bool Calibrate(SeriesReport& series) override;
    void CalibrationLost(SeriesReport& series, uint32_t code) override;
    CycleEnd Cycle(SeriesReport& series, uint32_t number) override;
    void CycleLost(SeriesReport& series, uint32_t number, uint32_t code) override;
    bool Profile(SeriesReport& series) override;
    void ProfileLost(SeriesReport& series, uint32_t code) override;
    bool WriteFiles(const SeriesReport& series) override;
    void ShowLines(const std::vector<std::string>& lines) override;
    bool FrameServerLost() const override { return FrameServerStranded(); }
    int Interruption() const override;

    // From the first run until the files are written an interruption ends
    // the series with what it finished; before and after, the process.
    void CatchInterruptions();
    void StopCatchingInterruptions();

private:
    // What one cycle keeps outside its guarded work: all that is needed to
    // end it from another thread when that work cannot return.
    struct CycleWork {
        FrameServerContext* session = nullptr;  // open while the work runs
        BenchmarkState benchmark;
        CycleEnd earlyEnd = CycleEnd::Ran;  // an information-only run or a refused range
        bool exceptionPathBegun = false;
        std::optional<uint32_t> failedFrame;  // a frame request of the loop failed
        DisplayOptions display;
        bool closing = false;  // every requested frame was rendered; the frame server is being closed
        std::optional<DisplayOptions> summary;  // the lines of the summary shown
    };

    // Why the baseline does not fit this clip and range; empty when it does.
    std::string BaselineRefusal(const ClipFacts& clip) const;
    // The calibration's failure message, if it failed, and its log.
    bool CalibrationEnded(SeriesReport& series);
    // Whether a format's file is written now, at the end of the series.
    bool Wanted(const ResultFile& file, const SeriesReport& series) const;
    void WriteEarlyLog(SeriesReport& series, uint16_t colour);

    // The cycle (app/Cycle.cpp): its steps inside the guarded region.
    void CycleInRegion(SeriesReport& series, uint32_t number, CycleWork& cycle);
    bool EvaluateScript(SeriesReport& series, uint32_t number, CycleWork& cycle);
    bool EndedByInterruption(CycleWork& cycle);
    void EndInformationRun(SeriesReport& series, uint32_t number, CycleWork& cycle);
    std::optional<BenchmarkSetup> ResolveRange(SeriesReport& series, uint32_t number, CycleWork& cycle);
    void Measure(const SeriesReport& series, uint32_t number, CycleWork& cycle, BenchmarkSetup& setup);
    void Summarise(CycleWork& cycle, const BenchmarkSetup& setup);
    void ShowCycleSummary(CycleWork& cycle, const DisplayOptions& display);

    // A stage of the profile (app/Profile.cpp): evaluated in a session of
    // its own and measured over the runs' range.
    ProfileStage MeasureStage(const SeriesReport& series, const std::string& text, int64_t timeLimit);

    // The cycle's ending (app/CycleEnd.cpp).
    void BeginExceptionPath(CycleWork& cycle);
    void ReportFailure(const RunEnding& failure, CycleWork& cycle);
    // After the guarded work, or after work that was lost (its session left
    // as it is).
    CycleEnd EndCycle(SeriesReport& series, uint32_t number, CycleWork& cycle, const RunEnding& work);

    const Invocation& call;
    const FrameServerFacts& avisynthInfo;
    CGPUMonitor& gpu;
    const bool monitorGPU;
    // Whether the script's log is written: asked for, or after a failure.
    bool writeLog = false;
    CalibrationResult calibration;
    std::string calibrationError;  // the calibration's failure, for its message and log
    uint32_t samplingInterval = 0;
    bool defaultRangeAccepted = false;  // asked once per script
    bool endedEarly = false;            // the log was written before the library went
    bool earlyLogFailed = false;
    std::unique_ptr<InterruptionHold> earlyLogHold;  // until the run's other files are written
    bool catching = false;              // interruptions end the series, not the process
    bool firstCycle = true;             // the GPU block is open for the first cycle only
    CycleWork* cycleWork = nullptr;     // the cycle under way
    std::optional<ProfileStage> stageUnderWay;  // the profile's stage being measured
};
