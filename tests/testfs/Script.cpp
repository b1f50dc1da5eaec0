// The "script language" of the test frame server: one key=value directive a
// line (the list is in tests/testfs/README.md).
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/testfs/TestFS.h"

namespace testfs {

namespace {

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

template <class Number>
bool ParseNumber(const std::string& text, int64_t minimum, int64_t maximum, Number& value) {
    int64_t parsed = 0;
    if (!ParseInteger(text, minimum, maximum, parsed)) return false;
    value = static_cast<Number>(parsed);
    return true;
}

bool ParseCount(const std::string& text, int& value) { return ParseNumber(text, 0, INT32_MAX, value); }

bool ParseFps(const std::string& text, VideoInfo& vi) {
    const size_t slash = text.find('/');
    unsigned numerator = 0;
    unsigned denominator = 1;
    if (!ParseNumber(text.substr(0, slash), 0, UINT32_MAX, numerator)) return false;
    if (slash != std::string::npos && !ParseNumber(text.substr(slash + 1), 0, UINT32_MAX, denominator)) {
        return false;
    }
    vi.fps_numerator = numerator;
    vi.fps_denominator = denominator;
    return true;
}

struct Name {
    const char* text;
    int value;
};

template <size_t N>
bool Lookup(const Name (&names)[N], const std::string& text, int& value) {
    for (const Name& name : names) {
        if (text == name.text) {
            value = name.value;
            return true;
        }
    }
    return false;
}

// "none": a type no predicate recognises and "PixelType" does not name.
bool ParsePixelType(const std::string& text, int& value) {
    if (text == "none") {
        value = kPixelNone;
        return true;
    }
    const PixelFormat* format = PixelFormatNamed(text);
    if (format) value = format->type;
    return format != nullptr;
}

const Name kFieldOrders[] = {
    {"tff", kImageFieldBased | kImageTFF},
    {"bff", kImageFieldBased | kImageBFF},
    {"unknown", kImageFieldBased},
};

const Name kSampleTypes[] = {
    {"int8", SAMPLE_INT8},   {"int16", SAMPLE_INT16}, {"int24", SAMPLE_INT24},
    {"int32", SAMPLE_INT32}, {"float", SAMPLE_FLOAT},
};

const Name kResults[] = {
    {"clip", static_cast<int>(ResultKind::Clip)},
    {"int", static_cast<int>(ResultKind::Int)},
    {"string", static_cast<int>(ResultKind::String)},
    {"float", static_cast<int>(ResultKind::Float)},
};

const Name kFaults[] = {
    {"avisynth_error", static_cast<int>(Fault::AvisynthError)},
    {"access_violation", static_cast<int>(Fault::AccessViolation)},
    {"divide_by_zero", static_cast<int>(Fault::DivideByZero)},
    {"stack_overflow", static_cast<int>(Fault::StackOverflow)},
    {"foreign", static_cast<int>(Fault::Foreign)},
    {"runtime_error", static_cast<int>(Fault::RuntimeError)},
};

bool IsName(const std::string& text) {
    for (const char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return !text.empty();
}

// Applies one directive; false when the key or the value is not understood.
bool Apply(const std::string& key, const std::string& value, ScriptSpec& spec, bool& noVideo) {
    ClipSpec& clip = spec.clip;
    VideoInfo& vi = clip.vi;
    int number = 0;
    if (key == "width") return ParseCount(value, vi.width);
    if (key == "height") return ParseCount(value, vi.height);
    if (key == "fps") return ParseFps(value, vi);
    if (key == "frames") return ParseCount(value, vi.num_frames);
    if (key == "pixel_type") return ParsePixelType(value, vi.pixel_type);
    if (key == "field_based") return Lookup(kFieldOrders, value, vi.image_type);
    if (key == "audio_channels") return ParseCount(value, vi.nchannels);
    if (key == "sample_type") return Lookup(kSampleTypes, value, vi.sample_type);
    if (key == "sample_rate") return ParseCount(value, vi.audio_samples_per_second);
    if (key == "audio_samples") return ParseNumber(value, 0, INT64_MAX, vi.num_audio_samples);
    if (key == "video") {
        noVideo = value == "none";
        return noVideo;
    }
    if (key == "return") {
        if (!Lookup(kResults, value, number)) return false;
        spec.result = static_cast<ResultKind>(number);
        return true;
    }
    if (key == "import_error") {
        spec.hasImportError = true;
        spec.importError = value;
        return true;
    }
    if (key == "import_fault") {
        if (!Lookup(kFaults, value, number) || number == static_cast<int>(Fault::AvisynthError)) return false;
        spec.importFault = static_cast<Fault>(number);
        return true;
    }
    if (key == "import_delay_us") return ParseNumber(value, 0, INT64_MAX, spec.importDelayUs);
    if (key == "fail_at") return ParseCount(value, clip.failAt);
    if (key == "fail_in_load") return ParseCount(value, clip.failInLoad);
    if (key == "fail_with") {
        if (!Lookup(kFaults, value, number)) return false;
        clip.failWith = static_cast<Fault>(number);
        return true;
    }
    if (key == "fail_message") {
        clip.failMessage = value;
        return true;
    }
    if (key == "frame_delay_us") return ParseNumber(value, 0, INT64_MAX, clip.frameDelayUs);
    if (key == "frame_pace_us") return ParseNumber(value, 0, INT64_MAX, clip.framePaceUs);
    if (key == "frame_delay_from") {
        spec.delayGlobal = value;
        return !value.empty();
    }
    if (key == "burst") return ParseNumber(value, 1, INT32_MAX, clip.burst);
    if (key == "worker_thread") {
        int64_t on = 0;
        if (!ParseNumber(value, 0, 1, on)) return false;
        clip.workerThread = on == 1;
        return true;
    }
    return false;
}

}  // namespace

bool ParseInteger(const std::string& text, int64_t minimum, int64_t maximum, int64_t& value) {
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) i = 1;
    if (i == text.size()) return false;
    // Accumulated as a negative number, which also holds INT64_MIN.
    int64_t number = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (number < (INT64_MIN + digit) / 10) return false;
        number = number * 10 - digit;
    }
    if (!negative) {
        if (number == INT64_MIN) return false;
        number = -number;
    }
    if (number < minimum || number > maximum) return false;
    value = number;
    return true;
}

std::string DecimalText(int64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    return text;
}

bool ParseScript(const std::string& text, ScriptSpec& spec, std::string& error) {
    spec = ScriptSpec();
    VideoInfo& vi = spec.clip.vi;
    vi.width = 640;
    vi.height = 480;
    vi.fps_numerator = 25;
    vi.fps_denominator = 1;
    vi.num_frames = 100;
    vi.pixel_type = kPixelYV12;

    bool noVideo = false;
    size_t start = 0;
    for (int lineNumber = 1; start <= text.size(); ++lineNumber) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#') continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos && IsName(line)) continue;  // a stage's value
        const std::string key = Trim(line.substr(0, equals));
        const std::string value = equals == std::string::npos ? std::string() : Trim(line.substr(equals + 1));
        if (equals == std::string::npos || !Apply(key, value, spec, noVideo)) {
            error = "line " + DecimalText(lineNumber) + ": cannot use \"" + line + "\"";
            return false;
        }
    }
    if (noVideo) {
        vi.width = 0;
        vi.height = 0;
        vi.num_frames = 0;
        vi.pixel_type = kPixelNone;
    }
    return true;
}

}  // namespace testfs
