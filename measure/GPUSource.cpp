#include "measure/GPUSource.h"

#include <cstring>

#include "support/Text.h"

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
