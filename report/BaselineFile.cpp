#include "report/BaselineFile.h"

#include <charconv>
#include <vector>

#include "measure/BaselineCheck.h"
#include "platform/Files.h"
#include "report/ClipReport.h"
#include "report/JsonFile.h"
#include "report/JsonReader.h"
#include "support/Text.h"

namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// Reads the members the comparison needs; the first one missing or of
// another type ends the reading with its name.
class Extract {
public:
    explicit Extract(const std::string& path) : Path(path) {}

    const JsonValue* Object(const JsonValue* object, const char* key, const char* name) {
        const JsonValue* value = Member(object, key);
        if (value && value->Kind == JsonValue::Type::Object) return value;
        return Missing(name, "an object");
    }
    bool IsNull(const JsonValue* object, const char* key) {
        const JsonValue* value = Member(object, key);
        return value && value->Kind == JsonValue::Type::Null;
    }
    std::string String(const JsonValue* object, const char* key, const char* name) {
        const JsonValue* value = Member(object, key);
        if (value && value->Kind == JsonValue::Type::String) return value->Text;
        Missing(name, "a string");
        return std::string();
    }
    int64_t Whole(const JsonValue* object, const char* key, const char* name, int64_t low, int64_t high) {
        const JsonValue* value = Member(object, key);
        const std::optional<int64_t> number = value ? value->Integer() : std::nullopt;
        if (number && *number >= low && *number <= high) return *number;
        Missing(name, FormatText("a whole number from %lld to %lld", static_cast<long long>(low),
                                 static_cast<long long>(high)).c_str());
        return low;
    }
    // A number of at least 0 (above 0 when `positive`).
    double Rate(const JsonValue* object, const char* key, const char* name, bool positive) {
        const JsonValue* value = Member(object, key);
        const std::optional<double> number = value ? value->Number() : std::nullopt;
        if (number && (positive ? *number > 0 : *number >= 0)) return *number;
        Missing(name, positive ? "a number above 0" : "a number of at least 0");
        return 1;
    }

    const JsonValue* Missing(const char* name, const char* kind) {
        if (Error.empty())
            Error = "The baseline file " + Quoted(Path) + " is not a Tachoro results file: " + name +
                    " is missing or not " + kind;
        return nullptr;
    }

    std::string Error;

private:
    const JsonValue* Member(const JsonValue* object, const char* key) const {
        return Error.empty() && object ? object->Member(key) : nullptr;
    }

    const std::string& Path;
};

std::string ClipText(const BaselineClip& clip) {
    return FormatText("%lld frames, %lldx%lld, %s", static_cast<long long>(clip.Frames),
                      static_cast<long long>(clip.Width), static_cast<long long>(clip.Height),
                      clip.ColourSpace.c_str());
}

std::string LastPart(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

BaselineRead BaselineFromJson(const char* text, size_t size, const std::string& path) {
    BaselineRead read;
    JsonLimits limits;
    limits.SkippedMembers = {"samples", "frameTimes"};
    const JsonParse parse = ParseJson(text, size, limits);
    if (!parse.Error.empty()) {
        read.Error = "The baseline file " + Quoted(path) + " is not a Tachoro results file: not JSON (" +
                     parse.Error + ")";
        return read;
    }
    const JsonValue* root = &parse.Value;
    const JsonValue* format = root->Member("format");
    if (!format || format->Kind != JsonValue::Type::String || format->Text != "tachoro-results") {
        read.Error = "The baseline file " + Quoted(path) + " is not a Tachoro results file";
        return read;
    }
    Extract get(path);
    const int64_t version = get.Whole(root, "schemaVersion", "schemaVersion", 0, INT32_MAX);
    if (get.Error.empty() && version != kResultsSchemaVersion) {
        read.Error = FormatText("The baseline file %s has results of format version %lld; this Tachoro reads version %d",
                                Quoted(path).c_str(), static_cast<long long>(version), kResultsSchemaVersion);
        return read;
    }
    Baseline baseline;
    baseline.ScriptPath = get.String(root, "script", "script");
    baseline.ScriptName = LastPart(baseline.ScriptPath);
    const std::string mode = get.String(root, "mode", "mode");
    if (get.Error.empty() && (mode != "measure" || get.IsNull(root, "series"))) {
        read.Error = "The baseline file " + Quoted(path) + " holds no measured run";
        return read;
    }
    const JsonValue* clip = get.Object(root, "clip", "clip");
    baseline.Clip.Frames = get.Whole(clip, "frames", "clip.frames", 0, INT32_MAX);
    baseline.Clip.Width = get.Whole(clip, "width", "clip.width", 0, INT32_MAX);
    baseline.Clip.Height = get.Whole(clip, "height", "clip.height", 0, INT32_MAX);
    baseline.Clip.ColourSpace = get.String(clip, "colourSpace", "clip.colourSpace");

    const JsonValue* series = get.Object(root, "series", "series");
    SeriesFigures& figures = baseline.Figures;
    figures.Runs = static_cast<uint32_t>(get.Whole(series, "runsCounted", "series.runsCounted", 1, 100));
    figures.Mean = get.Rate(series, "fpsMean", "series.fpsMean", true);
    figures.Min = get.Rate(series, "fpsMin", "series.fpsMin", false);
    figures.Max = get.Rate(series, "fpsMax", "series.fpsMax", false);
    if (figures.Runs >= 2 && !get.IsNull(series, "fpsStandardDeviation"))
        figures.StandardDeviation = get.Rate(series, "fpsStandardDeviation", "series.fpsStandardDeviation", false);

    // The range of the first run that counted (every run of a series
    // measures the same range).
    const JsonValue* runs = root->Member("runs");
    const JsonValue* counted = nullptr;
    if (runs && runs->Kind == JsonValue::Type::Array) {
        for (const JsonValue& run : runs->Items) {
            const JsonValue* flag = run.Member("counted");
            if (flag && flag->Kind == JsonValue::Type::Bool && flag->Bool) {
                counted = &run;
                break;
            }
        }
    }
    if (!counted) get.Missing("runs[].counted", "true for any run");
    const JsonValue* range = get.Object(counted, "range", "runs[].range");
    baseline.Clip.FirstFrame = static_cast<uint32_t>(get.Whole(range, "first", "runs[].range.first", 0, INT32_MAX));
    baseline.Clip.LastFrame = static_cast<uint32_t>(get.Whole(range, "last", "runs[].range.last", 0, INT32_MAX));
    if (!get.Error.empty()) {
        read.Error = get.Error;
        return read;
    }
    read.Facts = std::move(baseline);
    return read;
}

BaselineRead ReadBaselineFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    const platform::FileRead result = platform::ReadRegularFile(path, kBaselineFileLimit, bytes);
    if (result == platform::FileRead::Done)
        return BaselineFromJson(reinterpret_cast<const char*>(bytes.data()), bytes.size(), path);
    BaselineRead read;
    switch (result) {
    case platform::FileRead::CannotOpen: read.Error = "Cannot open the baseline file " + Quoted(path); break;
    case platform::FileRead::NotRegular:
        read.Error = "The baseline file " + Quoted(path) + " is not a regular file";
        break;
    case platform::FileRead::TooLarge:
        read.Error = FormatText("The baseline file %s is larger than %u MB", Quoted(path).c_str(),
                                static_cast<unsigned>(kBaselineFileLimit >> 20));
        break;
    default: read.Error = "Cannot read the baseline file " + Quoted(path); break;
    }
    return read;
}

BaselineClip BaselineClipOf(const ClipFacts& clip, uint32_t firstFrame, uint32_t lastFrame) {
    BaselineClip facts;
    facts.Frames = clip.FrameCount;
    facts.Width = clip.Width;
    facts.Height = clip.Height;
    facts.ColourSpace = ColourSpaceName(clip.Colour, clip.PixelTypeName);
    facts.FirstFrame = firstFrame;
    facts.LastFrame = lastFrame;
    return facts;
}

std::string BaselineScriptMismatch(const Baseline& baseline, const std::string& path, const std::string& scriptPath) {
    std::string theirs = baseline.ScriptName, ours = LastPart(scriptPath);
    ToLowerText(theirs);
    ToLowerText(ours);
    if (theirs == ours) return std::string();
    return "The baseline file " + Quoted(path) + " is of another script: " + baseline.ScriptPath;
}

std::string BaselineClipMismatch(const Baseline& baseline, const std::string& path, const BaselineClip& clip) {
    const BaselineClip& theirs = baseline.Clip;
    if (theirs.Frames != clip.Frames || theirs.Width != clip.Width || theirs.Height != clip.Height ||
        theirs.ColourSpace != clip.ColourSpace)
        return "The baseline file " + Quoted(path) + " is of another clip: " + ClipText(theirs) +
               "; this script's clip: " + ClipText(clip);
    if (theirs.FirstFrame != clip.FirstFrame || theirs.LastFrame != clip.LastFrame)
        return FormatText("The baseline file %s measured frames %u to %u; this run measures frames %u to %u",
                          Quoted(path).c_str(), theirs.FirstFrame, theirs.LastFrame, clip.FirstFrame,
                          clip.LastFrame);
    return std::string();
}

BaselineArgument ParseBaselineArgument(const std::string& value) {
    BaselineArgument argument;
    argument.ThresholdPercent = kDefaultBaselineThreshold;
    argument.Path = value;
    const size_t comma = value.rfind(',');
    if (comma != std::string::npos) {
        const std::string number = value.substr(comma + 1);
        const size_t point = number.find('.');
        bool isNumber = number.find_first_not_of("0123456789.") == std::string::npos &&
                        number.find_first_of("0123456789") != std::string::npos &&
                        (point == std::string::npos || number.find('.', point + 1) == std::string::npos);
        double threshold = 0;
        if (isNumber) {
            const std::from_chars_result result =
                std::from_chars(number.data(), number.data() + number.size(), threshold);
            isNumber = result.ec == std::errc() && result.ptr == number.data() + number.size();
        }
        if (isNumber) {
            argument.Path = value.substr(0, comma);
            argument.ThresholdPercent = threshold;
            if (!(threshold <= 100)) argument.Error = "The threshold is a percentage from 0 to 100: " + number;
        }
    }
    if (argument.Error.empty() && argument.Path.empty()) argument.Error = "The baseline needs a file name";
    return argument;
}
