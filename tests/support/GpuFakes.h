// The stand-ins for the GPU drivers: the fake NVML library built with the
// tests (tests/nvml) and a sysfs tree of amdgpu files written by a test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/Process.h"
#include "tests/support/ScratchDir.h"
#include "tests/support/TestPlatform.h"

#if defined(FAKE_NVML_DIR)
// The folder of a variant of the fake: "full", or "minimal" (without the
// optional functions). It holds the library under the real one's name.
inline std::string FakeNvmlDirectory(const char* variant) { return std::string(FAKE_NVML_DIR) + "/" + variant; }
inline std::string FakeNvmlLibrary(const char* variant) {
    return FakeNvmlDirectory(variant) + "/" + FAKE_NVML_FILE_NAME;
}
#endif

// The variable that makes a program find libraries in `directory` by name
// before the system's own: LD_LIBRARY_PATH, on Windows PATH (the loader's
// search ends with it; no nvml.dll comes with Wine).
inline std::pair<std::string, std::string> LibrarySearchPath(const std::string& directory) {
    if (!kOnWindows) return {"LD_LIBRARY_PATH", directory};
    const char* path = std::getenv("PATH");
    return {"PATH", NativePath(directory) + (path ? ";" + std::string(path) : std::string())};
}

// The answers file of the fake (its format: tests/nvml/FakeNvml.cpp) and
// the variable that names it.
inline std::pair<std::string, std::string> FakeNvmlAnswers(const ScratchDir& dir, const std::string& answers,
                                                           const std::string& name = "nvml.txt") {
    WriteBytes(dir.Path(name), answers);
    return {"FAKE_NVML_ANSWERS", NativePath(dir.Path(name))};
}

// Files below `root`, each a path relative to it and its text; folders are
// made as needed.
inline void WriteTree(const std::string& root, const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& file : files) {
        const std::filesystem::path path = std::filesystem::path(root) / file.first;
        std::filesystem::create_directories(path.parent_path());
        WriteBytes(path.string(), file.second);
    }
}

// A machine with an Intel card (card0, with a connector and a render node
// beside it) and an amdgpu card (card1).
inline std::vector<std::pair<std::string, std::string>> AmdgpuTree() {
    return {
        {"sys/class/drm/card0/device/vendor", "0x8086\n"},
        {"sys/class/drm/card0/device/gpu_busy_percent", "99\n"},
        {"sys/class/drm/card0-DP-1/status", "connected\n"},
        {"sys/class/drm/renderD128/dev", "226:128\n"},
        {"sys/class/drm/card1/device/vendor", "0x1002\n"},
        {"sys/class/drm/card1/device/device", "0x73BF\n"},
        {"sys/class/drm/card1/device/gpu_busy_percent", "37\n"},
        {"sys/class/drm/card1/device/mem_info_vram_used", "1073741824\n"},
        {"sys/class/drm/card1/device/mem_info_vram_total", "17163091968\n"},
        {"sys/class/drm/card1/device/product_name", "AMD Radeon RX 6800\n"},
        {"proc/sys/kernel/osrelease", "6.1.0-test\n"},
    };
}
