// A private directory for one test, removed with everything in it at the end,
// and whole-file helpers for byte-exact checks.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

class ScratchDir {
public:
    ScratchDir() {
        std::random_device random;
        std::filesystem::path base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::filesystem::path candidate = base / ("tachoro-test-" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) {
                Root = candidate;
                return;
            }
        }
    }
    ~ScratchDir() {
        std::error_code error;
        if (!Root.empty()) std::filesystem::remove_all(Root, error);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool Valid() const { return !Root.empty(); }
    // Full path of `name` inside the directory, as the program would get it.
    std::string Path(const std::string& name) const { return (Root / name).string(); }

private:
    std::filesystem::path Root;
};

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

inline bool PathExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}
