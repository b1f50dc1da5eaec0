// What one call of the program asks for: the settings file's values with the
// command line's over them. Start-up resolves it once (the settings file,
// then the arguments); from then on it is only read, and the layers below
// get what they need of it as values or small option records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frameserver/ParameterScan.h"
#include "measure/Display.h"
#include "report/BaselineFile.h"
#include "support/Console.h"

// Both range ends hold this while a range is parsed; a value that does not
// parse leaves it in place, and the range check then rejects it.
constexpr int64_t InvalidRangeMarker = 0xFFFFFFFFFFLL;

struct FrameRangeSetting {
    int64_t First = 0;
    int64_t Last = -1;
    bool Valid = true;  // false: the text did not parse (both ends hold the marker)
    std::string Text;   // as given ("FrameRange=..."), for the range prompt
};

// The settings keys' fields carry the keys' names. Each field is set by its
// row in the table of options (app/Options.cpp).
struct Invocation {
    std::string AVSDLL;
    bool DisplayFPS = true;
    bool DisplayTPF = false;
    bool CreateLog = false;
    bool CreateCSV = false;
    bool PauseBeforeExit = false;
    FrameRangeSetting FrameRange;
    int32_t TimeLimit = -1;
    bool InvokeDistributor = true;
    bool AllowOnlyOneInstance = true;
    bool UseColor = true;
    bool MonitorGPULoad = false;
    int32_t ProcessPriority = 2;
    bool ConUseSTDOUT = false;
    bool LogEstimatedTime = false;
    bool AutoCompleteExtension = false;

    // Switches without a key: choices of this call only.
    bool AvsInfoMode = false;  // -avsinfo
    bool InfoOnly = false;     // -info
    bool Json = false;
    bool Plot = false;
    bool FrameTimes = false;
    int32_t Runs = 1;
    int32_t GPUDevice = 0;  // -gpu=n, counted from 0
    std::string Baseline;  // -baseline=file.json[,threshold] as typed

    // -baseline as start-up resolved it: the file read, the threshold.
    struct BaselineChoice {
        std::string Path;
        double ThresholdPercent = 0;
        ::Baseline Facts;
    };
    std::optional<BaselineChoice> BaselineUsed;
    bool Profile = false;
    // -vary=name=values as typed, and the scan read from it: each script is
    // measured once per value of the global.
    std::string Vary;
    std::optional<ParameterScan> Scan;

    // The scripts in the order named, as full paths and as named (for the
    // messages), and the switches as typed, one blank between two.
    std::vector<std::string> ScriptPaths;
    std::vector<std::string> ScriptArguments;
    std::string SwitchesText;
};

// The records the layers below take.
ConsoleOptions ConsoleOptionsOf(const Invocation& call);
// monitorGPU: the decision of the GPU prompt, which may switch it off.
DisplayOptions DisplayOptionsOf(const Invocation& call, bool monitorGPU);

// The frames a range names in a clip of clipFrames frames (a last frame of
// -1 is the clip's last); none when they are not all in the clip.
struct FrameSpan {
    uint32_t First = 0;
    uint32_t Last = 0;
};
std::optional<FrameSpan> ResolveFrameRange(const FrameRangeSetting& range, uint32_t clipFrames);
