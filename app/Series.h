// Repeated runs of a script and several scripts compared: the orchestration
// above the single evaluate-measure-release cycle. The run sequence does the
// steps (ScriptSteps) over the frame server and the console; this decides
// their order, when a series ends, the exit code, and what is shown between
// the runs and after the scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/SeriesReport.h"

// How one cycle ended for the series.
enum class CycleEnd {
    Ran,           // a run was added to the series (measured, stopped or failed)
    InfoOnly,      // evaluated and reported, nothing measured ("-info")
    RangeRefused,  // the default range was declined: nothing measured
    SetupFailed,   // the frame server could not be opened; message shown
};

class ScriptSteps {
public:
    virtual ~ScriptSteps() = default;
    // A new series for the script, with the facts every run shares.
    virtual SeriesReport NewSeries(const std::string& script) = 0;
    // The calibration; false when it failed (its message shown).
    virtual bool Calibrate(SeriesReport& series) = 0;
    // One evaluate-measure-release cycle, run number `run` of the series.
    virtual CycleEnd Cycle(SeriesReport& series, uint32_t run) = 0;
    // The files asked for; false when one failed (its message shown).
    virtual bool WriteFiles(const SeriesReport& series) = 0;
    // Lines shown after an empty line: a script's heading, the runs'
    // section, the comparison.
    virtual void ShowLines(const std::vector<std::string>& lines) = 0;
    // True once the frame server cannot be used again in this process (a
    // thread of its own was lost to a fault): nothing more is measured.
    virtual bool FrameServerLost() const { return false; }
};

struct SeriesPlan {
    std::vector<std::string> Scripts;
    uint32_t Runs = 1;
    bool InfoOnly = false;
};

// Measures every script in turn, each `Runs` times after one calibration,
// and compares them when there are several. A failed run (frame-server
// error, fault) ends its script's series and the next script follows; Esc or
// a signal ends everything after the files of the script being measured;
// so does a frame server that cannot be opened, or one that is lost.
// Returns the exit code: -1 when any calibration, run or file failed, else
// 0. The exit pause is the caller's.
int MeasureScripts(const SeriesPlan& plan, ScriptSteps& steps);

// The file name of a path ("/a/b/clip.avs" -> "clip.avs").
std::string ScriptName(const std::string& path);

// Each script's name for the comparison: the file name, or the full path
// when two scripts share a file name.
std::vector<std::string> ComparisonNames(const std::vector<std::string>& scripts);
