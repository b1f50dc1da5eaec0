// Repeated runs of a script and several scripts compared: the orchestration
// above the single evaluate-measure-release cycle. The run sequence does the
// steps (ScriptSteps) over the frame server and the console; this decides
// their order, when a series ends, the exit code, and what is shown between
// the runs and after the scripts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/Invocation.h"
#include "report/SeriesReport.h"

// How one cycle ended for the series.
enum class CycleEnd {
    Ran,           // a run was added to the series (measured, stopped or failed)
    InfoOnly,      // evaluated and reported, nothing measured ("-info")
    RangeRefused,  // the default range was declined: nothing measured
    SetupFailed,   // the frame server could not be opened; message shown
    Interrupted,   // an interruption came before the measurement: nothing measured
};

// The exit code of a series slower than its baseline (-baseline) by more
// than the noise and the threshold.
constexpr int kSlowerThanBaseline = 3;

class ScriptSteps {
public:
    virtual ~ScriptSteps() = default;
    // A new series for the script, with the facts every run shares; with a
    // parameter scan, for one of its values (the steps keep what is asked
    // once per script from the first value on).
    virtual SeriesReport NewSeries(const std::string& script, const std::optional<ScanStep>& scan) = 0;
    // The calibration; false when it failed (its message shown).
    virtual bool Calibrate(SeriesReport& series) = 0;
    // One evaluate-measure-release cycle, run number `run` of the series.
    virtual CycleEnd Cycle(SeriesReport& series, uint32_t run) = 0;
    // The profile of the script (-profile) after its runs, into
    // series.Profile; false when a fault or another exception ended it.
    virtual bool Profile(SeriesReport& /*series*/) { return true; }
    // The files asked for; false when one failed (its message shown).
    virtual bool WriteFiles(const SeriesReport& series) = 0;
    // Lines shown after an empty line: a script's heading, the runs'
    // section, the comparison.
    virtual void ShowLines(const std::vector<std::string>& lines) = 0;
    // The exit code of an interruption that ends the series (a signal,
    // Ctrl+C), 0 while none came.
    virtual int Interruption() const { return 0; }
    // True once the frame server cannot be used again in this process (a
    // thread of its own was lost to a fault): nothing more is measured.
    virtual bool FrameServerLost() const { return false; }
    // A worker thread of the frame server faulted with `code` while the
    // calibration or cycle `run` ran, and that work cannot return: show and
    // record the failure as the returning work would have.
    virtual void CalibrationLost(SeriesReport& /*series*/, uint32_t /*code*/) {}
    virtual void CycleLost(SeriesReport& /*series*/, uint32_t /*run*/, uint32_t /*code*/) {}
    // The same while a stage of the profile was measured.
    virtual void ProfileLost(SeriesReport& /*series*/, uint32_t /*code*/) {}
};

// Measures every script of the call in turn, each `Runs` times after one
// calibration (with a parameter scan, each value of it so, as if each were a
// script of its own, and the script's files written once, after its last
// value), and compares them when there are several (or values). A failed run
// (frame-server error, fault) ends its script's series and the next script
// follows; Esc or an interruption (during a run, between two runs, in a
// calibration) ends everything after the files of the script being measured,
// with the runs it finished; so does a frame server that cannot be opened,
// or one that is lost. It can also be ended from another thread while the
// calibration or a cycle cannot return (a worker thread of the frame server
// faulted and the thread that runs the scripts is stuck waiting for it).
class ScriptsMeasurement {
public:
    ScriptsMeasurement(const Invocation& call, ScriptSteps& steps);
    // Returns the exit code: -1 when a file failed; else the interruption's
    // code when one came; else -1 when any calibration or run failed; else
    // kSlowerThanBaseline when the runs were slower than the baseline beyond
    // its threshold; else 0. The exit pause is the caller's.
    int Run();
    // With Run's thread held still: the lost work ends as a failure with the
    // fault's code, the script's series as after a failed run (its files
    // written), then the comparison. Returns the exit code.
    int EndAfterLostWork(uint32_t code);

private:
    // One script, or one value of a scan: true when the call ends with it.
    bool MeasureEntry(size_t script, size_t value);
    void CalibrationFailed(SeriesReport& series, ComparedScript& entry);
    // The runs' section of a script measured more than once, shown once.
    void ShowRuns(const SeriesReport& series);
    void FinishScript(SeriesReport& series, ComparedScript& entry);
    void Compare();
    int ExitCode() const;
    // The files of a scanned script, from every value's series.
    void WriteScanFiles();

    const Invocation& call;
    ScriptSteps& steps;
    int exitCode = 0;
    bool filesFailed = false;
    bool slowerThanBaseline = false;
    bool several = false;
    bool compares = false;
    uint32_t runs = 1;
    size_t values = 1;  // the values of a scan, else 1
    std::vector<std::string> names;  // of each script
    std::vector<std::string> entryNames;  // of each row of the comparison: script (and value)
    std::vector<ComparedScript> compared;
    std::vector<SeriesReport> scanned;  // the series of the script's values measured so far
    // The work under way: the script's series and entry, and the run (0
    // while the script is calibrated); null outside the scripts' work.
    SeriesReport* series = nullptr;
    ComparedScript* entry = nullptr;
    uint32_t run = 0;
    bool profiling = false;  // the script's profile is under way
    bool runsShown = false;  // the runs' section of the script under way
};

// The file name of a path ("/a/b/clip.avs" -> "clip.avs").
std::string ScriptName(const std::string& path);

// Each script's name for the comparison: the file name, or the full path
// when two scripts share a file name; control characters shown as '?'.
std::vector<std::string> ComparisonNames(const std::vector<std::string>& scripts);
