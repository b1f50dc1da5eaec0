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
    // A full path of exactly `length` characters that ends in `name`, in
    // folders made for it here.
    std::string PathOfLength(size_t length, const std::string& name) const;

private:
    std::filesystem::path Root;
};

// A path the system's wide calls take past MAX_PATH on Windows (as the
// program's own calls do); unchanged elsewhere.
inline std::filesystem::path LongPath(const std::string& path) {
#if defined(_WIN32)
    if (path.size() >= 260) return std::filesystem::path("\\\\?\\" + path);
#endif
    return std::filesystem::path(path);
}

inline std::string ScratchDir::PathOfLength(size_t length, const std::string& name) const {
    std::string folder = Path("");
    while (folder.size() + name.size() < length) {
        // Folders of up to 200 characters, the last one what is left; never
        // one character left over for an empty folder name.
        const size_t left = length - folder.size() - name.size();
        folder += std::string(left == 202 ? 199 : left > 201 ? 200 : left - 1, 'd');
        folder += std::filesystem::path::preferred_separator;
        std::error_code error;
        std::filesystem::create_directory(LongPath(folder), error);
    }
    return folder + name;
}

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream file(LongPath(path), std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

inline bool PathExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}
