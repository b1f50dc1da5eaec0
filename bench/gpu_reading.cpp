// Measures what one reading of the NVIDIA driver's library (NVML) costs at
// a sampling point: the library opened on GPU 0 as `-gpu` opens it, then
// read many times in a row, as the monitor reads it once its 300 ms have
// passed (load, both video engines, memory, this process's share).
//
//   tachoro_gpu_bench [library] [--readings=N] [--rounds=N]
//
// Without a library the fake one built with the tests is used (answering
// from a temporary file with eight processes' samples), which measures
// Tachoro's own side of a reading; give "libnvidia-ml.so.1" or "nvml.dll"
// (or a path) on a machine with the driver to measure the real one.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "measure/NvmlSource.h"
#include "platform/Time.h"

namespace {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

#if defined(FAKE_NVML_LIBRARY)
// The fake's answers: a card with every reading and eight processes.
std::string WriteFakeAnswers() {
    const std::string path = (std::filesystem::temp_directory_path() / "tachoro-gpu-bench.txt").string();
    std::ofstream(path) << "utilization=40\nencoder=5\ndecoder=12\nmemory=12288,2048\n"
                           "process=self:30,other:5,7:1,8:2,9:3,10:4,11:5,12:6\n";
    return path;
}

void SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}
#endif

}  // namespace

int main(int argc, char** argv) {
    std::string library;
    unsigned readings = 10000;
    unsigned rounds = 7;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--readings=", 0) == 0) readings = static_cast<unsigned>(std::atoi(argv[i] + 11));
        else if (argument.rfind("--rounds=", 0) == 0) rounds = static_cast<unsigned>(std::atoi(argv[i] + 9));
        else library = argument;
    }
    std::string answers;
#if defined(FAKE_NVML_LIBRARY)
    if (library.empty()) {
        library = FAKE_NVML_LIBRARY;
        answers = WriteFakeAnswers();
        SetVariable("FAKE_NVML_ANSWERS", answers);
    }
#endif
    if (library.empty() || readings == 0 || rounds == 0) {
        std::fprintf(stderr, "usage: tachoro_gpu_bench [library] [--readings=N] [--rounds=N]\n");
        return 2;
    }

    CNvmlSource source;
    std::string note;
    if (source.Open({library}, 0, note) != GPUOpen::Device) {
        std::fprintf(stderr, "%s: no GPU%s%s\n", library.c_str(), note.empty() ? "" : ": ", note.c_str());
        return 1;
    }
    std::printf("%s: %s, video engine %s, memory %s, own share %s\n", library.c_str(),
                source.Facts.CardName.empty() ? "(no name)" : source.Facts.CardName.c_str(),
                source.Features.HasVideoEngine ? "yes" : "no", source.Features.HasMemoryUsed ? "yes" : "no",
                source.Features.HasProcessLoad ? "yes" : "no");
    // Wall time, and the processor time that other processes on a busy
    // machine do not inflate (glibc: clock() is process time; on Windows it
    // is wall time too).
    const double frequency = static_cast<double>(platform::FrameCounterFrequency());
    std::vector<double> wall, cpu;
    GPUReadings values;
    for (unsigned round = 0; round < rounds; ++round) {
        const int64_t start = platform::ReadFrameCounter();
        const std::clock_t startCpu = std::clock();
        for (unsigned i = 0; i < readings; ++i) source.Read(values);
        const std::clock_t endCpu = std::clock();
        const int64_t end = platform::ReadFrameCounter();
        wall.push_back(static_cast<double>(end - start) / frequency / readings * 1e6);
        cpu.push_back(static_cast<double>(endCpu - startCpu) / CLOCKS_PER_SEC / readings * 1e6);
    }
    const auto [fastest, slowest] = std::minmax_element(wall.begin(), wall.end());
    std::printf("one reading: %.3f us processor time, %.3f us wall time (medians of %u rounds of %u; wall %.3f to "
                "%.3f us)\n",
                Median(cpu), Median(wall), rounds, readings, *fastest, *slowest);
    std::printf("last reading: load %u%%, memory %u MB, own share %u%%\n", static_cast<unsigned>(values.GPULoad),
                values.MemoryUsed, static_cast<unsigned>(values.ProcessGPULoad));
    std::printf("at most one reading per 300 ms: %.5f %% of the measuring time\n", Median(wall) / 300000.0 * 100.0);
    source.Close();
    if (!answers.empty()) std::remove(answers.c_str());
    return 0;
}
