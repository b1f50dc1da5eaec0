// The settings file is whatever the user or an editor left there: any bytes
// must pass the version check and the key reader, and only values the
// program can use may come out.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/Settings.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // As the program reads it: editors' encodings decoded first.
    const std::string content = DecodeSettingsText(std::string(reinterpret_cast<const char*>(data), size));
    SettingsFileIsCurrent(content, "2.1.3");

    Invocation settings;
    ApplySettingsText(content, settings);
    FUZZ_CHECK(settings.ProcessPriority >= 1 && settings.ProcessPriority <= 3);
    FUZZ_CHECK(settings.TimeLimit == -1 || (settings.TimeLimit >= 1 && settings.TimeLimit <= 999999));
    return 0;
}
