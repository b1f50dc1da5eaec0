#include "measure/GPUSource.h"

#include <cstring>

#include "support/Text.h"

namespace {

const char* const kNotAvailable = "n/a";

std::string Line(const char* label, const std::string& value, const char* missing) {
    return std::string(label) + (value.empty() ? std::string(missing) : value) + "\n";
}

}  // namespace

std::string GraphicsCardSection(const GraphicsCardFacts& facts) {
    const bool gpuz = facts.Kind == GPUSourceKind::GPUZ;
    const char* missing = gpuz ? "" : kNotAvailable;
    std::string text = "\n\n[Graphics card info]\n";
    text += Line("Card name:               ", facts.CardName, missing);
    text += Line("GPU name:                ", facts.GPUName, missing);
    text += Line("Memory size:             ", facts.MemorySize, missing);
    text += Line("OpenCL version:          ", facts.OpenCLVersion, missing);
    text += Line("Driver version:          ", facts.DriverVersion, missing);
    if (!gpuz) {
        text += Line("CUDA version:            ", facts.CudaVersion, missing);
        text += Line("Compute capability:      ", facts.ComputeCapability, missing);
        text += FormatText("Device:                  %u (of %u, counted from 0)\n", facts.Device, facts.DeviceCount);
    }
    text += "Info collected with:     " + facts.Source + "\n\n";
    return text;
}

std::string DeviceRefusal(const char* source, uint32_t device, uint32_t count) {
    return FormatText("There is no GPU %u: %s reports %u GPU%s, counted from 0.", device, source, count,
                      count == 1 ? "" : "s");
}

std::string CudaVersionText(int version) {
    if (version <= 0) return std::string();
    return FormatText("%d.%d", version / 1000, version % 1000 / 10);
}

std::string DriverText(const char* bytes, size_t size) {
    // An empty file's bytes may be no pointer at all.
    std::string text = size == 0 ? std::string() : std::string(bytes, strnlen(bytes, size));
    // The line end of a sysfs file is no part of its value.
    TrimText(text);
    if (text.size() > 255) text.resize(255);
    for (char& character : text) {
        const unsigned char byte = static_cast<unsigned char>(character);
        if (byte < 0x20 || byte >= 0x7F) character = '?';
    }
    return text;
}
