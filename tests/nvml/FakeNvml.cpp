// A stand-in for the NVIDIA management library (libnvidia-ml.so.1,
// nvml.dll): exports the functions Tachoro looks up, with NVML's signatures,
// and answers from a text file that the variable FAKE_NVML_ANSWERS names.
// The file is read at each nvmlInit_v2; its lines are "key=value":
//
//   count=N                devices (default 1)
//   name=TEXT              nvmlDeviceGetName; \xNN stands for any byte
//   driver=TEXT            nvmlSystemGetDriverVersion
//   cuda=N                 nvmlSystemGetCudaDriverVersion (12040: 12.4)
//   capability=MAJOR.MINOR nvmlDeviceGetCudaComputeCapability
//   memory=TOTAL,USED      nvmlDeviceGetMemoryInfo, in MB
//   utilization=A,B,...    the GPU load of successive calls, repeated
//   encoder=N decoder=N    the video engines' loads
//   process=PID:SM,...     the samples of each call; PID "self" is the
//                          calling process, "other" another one
//   lost_after=N           the Nth utilization call and every device call
//                          after it fail with NVML_ERROR_GPU_IS_LOST
//   FUNCTION=CODE          the function (nvmlInit_v2, nvmlDeviceGetEncoderUtilization, ...)
//                          returns CODE instead of answering
//   calls=PATH             nvmlInit_v2 and nvmlShutdown append their names there
//
// nvmlErrorString knows a few codes; code 77 has a text with a terminal
// escape sequence in it, as no library's should. Built twice: whole, and
// with FAKE_NVML_MINIMAL only the functions Tachoro cannot do without.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#include <unistd.h>
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#include "measure/Nvml.h"

// The devices the handles point to.
struct nvml::DeviceRecord {
    int Index;
};

namespace {

struct State {
    std::map<std::string, std::string> answers;
    unsigned utilizationCalls = 0;
    unsigned nextLoad = 0;
    unsigned long long clock = 0;  // the timestamps of the process samples
    bool lost = false;
};
State g_state;
nvml::DeviceRecord g_devices[16];
nvml::DeviceRecord* const kDevices = g_devices;

[[maybe_unused]] unsigned OwnPid() {
#if defined(_WIN32)
    return static_cast<unsigned>(GetCurrentProcessId());
#else
    return static_cast<unsigned>(getpid());
#endif
}

std::string Unescaped(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size()) {
            bytes += static_cast<char>(std::strtoul(text.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

void ReadAnswers() {
    g_state = State();
    const char* path = std::getenv("FAKE_NVML_ANSWERS");
    if (path == nullptr) return;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return;
    char line[1024];
    while (std::fgets(line, sizeof line, file)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const size_t equals = text.find('=');
        if (equals != std::string::npos) g_state.answers[text.substr(0, equals)] = Unescaped(text.substr(equals + 1));
    }
    std::fclose(file);
}

std::string Answer(const char* key, const char* fallback = "") {
    const auto found = g_state.answers.find(key);
    return found == g_state.answers.end() ? fallback : found->second;
}

long Number(const char* key, long fallback) {
    const auto found = g_state.answers.find(key);
    return found == g_state.answers.end() ? fallback : std::strtol(found->second.c_str(), nullptr, 10);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

void Log(const char* name) {
    const std::string path = Answer("calls");
    if (path.empty()) return;
    if (FILE* file = std::fopen(path.c_str(), "ab")) {
        std::fprintf(file, "%s\n", name);
        std::fclose(file);
    }
}

// The code a function returns before it answers: one set in the file, or
// the lost GPU's for a device call.
nvml::Return Refusal(const char* function, bool deviceCall = true) {
    if (deviceCall && g_state.lost) return nvml::kErrorGpuIsLost;
    return static_cast<nvml::Return>(Number(function, nvml::kSuccess));
}

bool ValidDevice(nvml::Device device) {
    const long count = Number("count", 1);
    return count > 0 && count <= 16 && device >= kDevices && device < kDevices + count;
}

[[maybe_unused]] void CopyText(const std::string& text, char* buffer, unsigned int length) {
    if (length == 0) return;
    const size_t count = text.size() < length - 1 ? text.size() : length - 1;
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
}

}  // namespace

FAKE_EXPORT nvml::Return nvmlInit_v2() {
    ReadAnswers();
    Log("nvmlInit_v2");
    return Refusal("nvmlInit_v2", false);
}

FAKE_EXPORT nvml::Return nvmlShutdown() {
    Log("nvmlShutdown");
    return nvml::kSuccess;
}

FAKE_EXPORT const char* nvmlErrorString(nvml::Return code) {
    switch (code) {
    case 0: return "Success";
    case 3: return "Not Supported";
    case 6: return "Not Found";
    case 9: return "Driver Not Loaded";
    case 15: return "GPU is lost";
    case 77: return "Bad\x1b[2J\x07 news";
    default: return "Unknown Error";
    }
}

FAKE_EXPORT nvml::Return nvmlDeviceGetCount_v2(unsigned int* count) {
    if (const nvml::Return code = Refusal("nvmlDeviceGetCount_v2", false)) return code;
    *count = static_cast<unsigned int>(Number("count", 1));
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlDeviceGetHandleByIndex_v2(unsigned int index, nvml::Device* device) {
    if (const nvml::Return code = Refusal("nvmlDeviceGetHandleByIndex_v2")) return code;
    if (index >= static_cast<unsigned int>(Number("count", 1)) || index >= 16) return 2;  // NVML_ERROR_INVALID_ARGUMENT
    *device = kDevices + index;
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlDeviceGetUtilizationRates(nvml::Device device, nvml::Utilization* utilization) {
    if (!ValidDevice(device)) return 2;
    const long lostAfter = Number("lost_after", 0);
    if (lostAfter > 0 && ++g_state.utilizationCalls >= static_cast<unsigned>(lostAfter)) g_state.lost = true;
    if (const nvml::Return code = Refusal("nvmlDeviceGetUtilizationRates")) return code;
    const std::vector<std::string> loads = Split(Answer("utilization", "0"), ',');
    const std::string& load = loads[g_state.nextLoad++ % loads.size()];
    utilization->gpu = static_cast<unsigned int>(std::strtoul(load.c_str(), nullptr, 10));
    utilization->memory = 0;
    return nvml::kSuccess;
}

#if !defined(FAKE_NVML_MINIMAL)

FAKE_EXPORT nvml::Return nvmlDeviceGetName(nvml::Device device, char* name, unsigned int length) {
    if (!ValidDevice(device)) return 2;
    if (const nvml::Return code = Refusal("nvmlDeviceGetName")) return code;
    // Written as the driver would, even without room for the terminator.
    const std::string text = Answer("name", "Fake GPU");
    std::memcpy(name, text.data(), text.size() < length ? text.size() : length);
    if (text.size() < length) name[text.size()] = '\0';
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlSystemGetDriverVersion(char* version, unsigned int length) {
    if (const nvml::Return code = Refusal("nvmlSystemGetDriverVersion", false)) return code;
    CopyText(Answer("driver", "550.54.14"), version, length);
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlSystemGetCudaDriverVersion(int* version) {
    if (const nvml::Return code = Refusal("nvmlSystemGetCudaDriverVersion", false)) return code;
    *version = static_cast<int>(Number("cuda", 12040));
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlDeviceGetCudaComputeCapability(nvml::Device device, int* major, int* minor) {
    if (!ValidDevice(device)) return 2;
    if (const nvml::Return code = Refusal("nvmlDeviceGetCudaComputeCapability")) return code;
    const std::vector<std::string> parts = Split(Answer("capability", "8.6"), '.');
    *major = std::atoi(parts[0].c_str());
    *minor = parts.size() > 1 ? std::atoi(parts[1].c_str()) : 0;
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlDeviceGetMemoryInfo(nvml::Device device, nvml::Memory* memory) {
    if (!ValidDevice(device)) return 2;
    if (const nvml::Return code = Refusal("nvmlDeviceGetMemoryInfo")) return code;
    const std::vector<std::string> parts = Split(Answer("memory", "24576,2048"), ',');
    memory->total = std::strtoull(parts[0].c_str(), nullptr, 10) << 20;
    memory->used = parts.size() > 1 ? std::strtoull(parts[1].c_str(), nullptr, 10) << 20 : 0;
    memory->free = memory->total > memory->used ? memory->total - memory->used : 0;
    return nvml::kSuccess;
}

namespace {

nvml::Return Engine(const char* function, const char* key, nvml::Device device, unsigned int* load,
                    unsigned int* period) {
    if (!ValidDevice(device)) return 2;
    if (const nvml::Return code = Refusal(function)) return code;
    *load = static_cast<unsigned int>(Number(key, 0));
    *period = 167000;
    return nvml::kSuccess;
}

}  // namespace

FAKE_EXPORT nvml::Return nvmlDeviceGetEncoderUtilization(nvml::Device device, unsigned int* load,
                                                          unsigned int* period) {
    return Engine("nvmlDeviceGetEncoderUtilization", "encoder", device, load, period);
}

FAKE_EXPORT nvml::Return nvmlDeviceGetDecoderUtilization(nvml::Device device, unsigned int* load,
                                                          unsigned int* period) {
    return Engine("nvmlDeviceGetDecoderUtilization", "decoder", device, load, period);
}

// Each call that returns samples gives the next sample period's, newer than
// any before: as the driver does, only samples after lastSeen.
FAKE_EXPORT nvml::Return nvmlDeviceGetProcessUtilization(nvml::Device device,
                                                          nvml::ProcessUtilizationSample* samples,
                                                          unsigned int* count, unsigned long long lastSeen) {
    if (!ValidDevice(device) || count == nullptr) return 2;
    if (const nvml::Return code = Refusal("nvmlDeviceGetProcessUtilization")) return code;
    const std::string answer = Answer("process");
    if (answer.empty()) return nvml::kErrorNotFound;
    const std::vector<std::string> entries = Split(answer, ',');
    if (samples == nullptr || *count < entries.size()) {
        *count = static_cast<unsigned int>(entries.size());
        return nvml::kErrorInsufficientSize;
    }
    const unsigned long long stamp = (g_state.clock > lastSeen ? g_state.clock : lastSeen) + 1000;
    g_state.clock = stamp;
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::vector<std::string> parts = Split(entries[i], ':');
        nvml::ProcessUtilizationSample& sample = samples[i];
        sample = nvml::ProcessUtilizationSample();
        sample.pid = parts[0] == "self" ? OwnPid() : parts[0] == "other" ? OwnPid() + 1 : std::atoi(parts[0].c_str());
        sample.timeStamp = stamp;
        sample.smUtil = parts.size() > 1 ? static_cast<unsigned int>(std::atoi(parts[1].c_str())) : 0;
    }
    *count = static_cast<unsigned int>(entries.size());
    return nvml::kSuccess;
}

#endif
