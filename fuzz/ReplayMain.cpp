// Without libFuzzer a harness is a plain program that runs every file it is
// given (or every file in a folder it is given) once, so that the seeds and
// the reproducers kept beside them are checked in every build.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "Cannot open %s\n", path.string().c_str());
        return false;
    }
    const std::vector<char> read((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // Exactly the file's bytes on the heap, so that a read past them is caught.
    const std::vector<uint8_t> bytes(read.begin(), read.end());
    std::fprintf(stderr, "%s (%zu bytes)\n", path.string().c_str(), bytes.size());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (std::filesystem::is_directory(argv[i], error)) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
                if (!entry.is_regular_file()) continue;
                if (!RunFile(entry.path())) return 1;
                ++count;
            }
        } else {
            if (!RunFile(argv[i])) return 1;
            ++count;
        }
    }
    if (count == 0) {
        std::fprintf(stderr, "No input was run\n");
        return 1;
    }
    std::fprintf(stderr, "%zu inputs ran\n", count);
    return 0;
}
