#include "app/Options.h"

#include <charconv>

#include "support/Text.h"

Option FlagOption(const char* name, bool Invocation::*field) {
    Option option;
    option.Switch = name;
    option.Flag = field;
    return option;
}

Option NumberOption(const char* name, int32_t Invocation::*field, int32_t low, int32_t high) {
    Option option;
    option.Switch = name;
    return option.WithNumber(field, low, high);
}

Option RangeOption(const char* name, FrameRangeSetting Invocation::*field) {
    Option option;
    option.Switch = name;
    option.Range = field;
    return option;
}

Option TextOption(const char* name, std::string Invocation::*field) {
    Option option;
    option.Switch = name;
    option.Text = field;
    return option;
}

Option InformationOption(const char* name, InformationRequest request) {
    Option option;
    option.Switch = name;
    option.Information = request;
    return option;
}

const std::vector<Option>& Options() {
    using I = Invocation;
    constexpr SettingsSection kMisc = SettingsSection::Miscellaneous;
    // The settings file lists its keys in this order.
    static const std::vector<Option> table = {
        InformationOption("--help", InformationRequest::Help).Also("-h").Also("-?").Documented("switch-help"),
        InformationOption("--version", InformationRequest::Version).Documented("switch-version"),
        TextOption(nullptr, &I::AVSDLL).Setting("AVSDLL").Documented("key-avsdll"),
        FlagOption(nullptr, &I::DisplayFPS).Setting("DisplayFPS").Documented("key-displayfps"),
        FlagOption(nullptr, &I::DisplayTPF).Setting("DisplayTPF").Documented("key-displaytpf"),
        FlagOption("-log", &I::CreateLog).Also("-l").Setting("CreateLog")
            .Listed("Create log file", "", 3).Documented("switch-log"),
        FlagOption("-csv", &I::CreateCSV).Setting("CreateCSV")
            .Listed("Create csv file", "", 4).Documented("switch-csv"),
        FlagOption(nullptr, &I::PauseBeforeExit).Setting("PauseBeforeExit").Documented("key-pausebeforeexit"),
        RangeOption("-range", &I::FrameRange).Setting("FrameRange")
            .Listed("Set frame range", "first,last", 6).Documented("switch-range"),
        FlagOption(nullptr, &I::InvokeDistributor).Setting("InvokeDistributor").Documented("key-invokedistributor"),
        FlagOption(nullptr, &I::AllowOnlyOneInstance).Setting("AllowOnlyOneInstance")
            .Documented("key-allowonlyoneinstance"),
        FlagOption(nullptr, &I::UseColor).Setting("UseColor").Documented("key-usecolor"),
        FlagOption("-gpu", &I::MonitorGPULoad).Setting("MonitorGPULoad")
            .Listed("Monitor GPU/VPU usage", "", 5).Documented("switch-gpu"),
        NumberOption("-priority", &I::ProcessPriority, 1, 3).Setting("ProcessPriority")
            .Listed("Set process priority (1:low, 2:normal, 3:high)", "n", 8).Documented("switch-priority"),
        FlagOption(nullptr, &I::ConUseSTDOUT).Setting("ConUseSTDOUT").Documented("key-conusestdout"),
        NumberOption("-timelimit", &I::TimeLimit, 1, 999999).Setting("TimeLimit")
            .Listed("Set time limit (seconds)", "n", 7).Documented("switch-timelimit"),
        FlagOption(nullptr, &I::LogEstimatedTime).Setting("LogEstimatedTime", kMisc).Documented("key-logestimatedtime"),
        FlagOption(nullptr, &I::AutoCompleteExtension).Setting("AutoCompleteExtension", kMisc)
            .Documented("key-autocompleteextension"),
        FlagOption("-avsinfo", &I::AvsInfoMode).Listed("Display Avisynth info", "", 1).Documented("switch-avsinfo"),
        FlagOption("-info", &I::InfoOnly).Also("-i").Listed("Display clip info", "", 2).Documented("switch-info"),
        FlagOption("-json", &I::Json).Listed("Create json file").Documented("switch-json"),
        FlagOption("-plot", &I::Plot).Listed("Create svg chart of the frame rate").Documented("switch-plot"),
        NumberOption("-runs", &I::Runs, 1, 100).Listed("Measure each script n times (1 to 100)", "n")
            .Documented("switch-runs"),
        FlagOption("-frametimes", &I::FrameTimes).Listed("Time every frame (median, percentiles, slowest)")
            .Documented("switch-frametimes"),
        // "-gpu" alone is the row above.
        FlagOption("-gpu", &I::MonitorGPULoad).WithNumber(&I::GPUDevice, 0, 255)
            .Listed("Monitor GPU/VPU usage of GPU n (0: the first)", "n").Documented("switch-gpu-n"),
        TextOption("-baseline", &I::Baseline).Listed("Compare with an earlier json file", "file.json[,threshold]")
            .Documented("switch-baseline"),
        FlagOption("-profile", &I::Profile).Listed("Measure each statement's cost").Documented("switch-profile"),
        TextOption("-vary", &I::Vary).Listed("Measure the script for each value of a global", "name=values")
            .Documented("switch-vary"),
    };
    return table;
}

SwitchMatch MatchSwitch(const std::vector<Option>& options, const std::string& lowered, const std::string& typed) {
    for (const Option& option : options) {
        for (const char* name : {option.Switch, option.Short[0], option.Short[1]}) {
            if (!name) continue;
            const std::string bare = name;
            if (lowered == bare && (option.Flag || option.Information != InformationRequest::None))
                return SwitchMatch{&option, false, std::string()};
            const std::string prefix = bare + "=";
            if (!option.TakesValue() || lowered.compare(0, prefix.size(), prefix) != 0) continue;
            // A text keeps the case it was typed in; numbers and ranges are
            // read from the lower-cased text, as ever.
            return SwitchMatch{&option, true, (option.Text ? typed : lowered).substr(prefix.size())};
        }
    }
    return SwitchMatch();
}

namespace {

// An integer text that fits 64 bits, as a whole.
bool ParseWholeInt64(const std::string& text, int64_t& value) {
    if (!IsIntegerText(text)) return false;
    const char* end = text.data() + text.size();
    const std::from_chars_result result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

}  // namespace

bool ParseFrameRange(const std::string& value, int64_t& first, int64_t& last) {
    first = last = InvalidRangeMarker;
    const size_t comma = value.find(',');
    if (value.size() < 3 || comma == std::string::npos || comma < 1 || comma > 27) return false;
    const std::string firstText = value.substr(0, comma), lastText = value.substr(comma + 1);
    int64_t firstValue = 0, lastValue = 0;
    if (!ParseWholeInt64(firstText, firstValue) || !ParseWholeInt64(lastText, lastValue)) return false;
    first = firstValue;
    last = lastValue;
    return true;
}

BoundedValue ParseBoundedInteger(const std::string& text, int32_t low, int32_t high, int32_t& value) {
    if (!IsIntegerText(text)) return BoundedValue::NotANumber;
    value = ParseInt32(text);
    return value >= low && value <= high ? BoundedValue::Valid : BoundedValue::OutOfRange;
}
