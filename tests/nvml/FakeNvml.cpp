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
//   memory=TOTAL,USED      nvmlDeviceGetMemoryInfo_v2, in MB
//   reserved=N             the driver's own memory, in MB: nvmlDeviceGetMemoryInfo
//                          counts it as used
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

// The functions whose return code the file can set.
enum Function {
    Init, Count, Handle, Utilization, Name, DriverVersion, CudaVersion, Capability, Memory, MemoryV2, Encoder, Decoder,
    Process, FunctionCount
};
const char* const kFunctionNames[FunctionCount] = {
    "nvmlInit_v2", "nvmlDeviceGetCount_v2", "nvmlDeviceGetHandleByIndex_v2", "nvmlDeviceGetUtilizationRates",
    "nvmlDeviceGetName", "nvmlSystemGetDriverVersion", "nvmlSystemGetCudaDriverVersion",
    "nvmlDeviceGetCudaComputeCapability", "nvmlDeviceGetMemoryInfo", "nvmlDeviceGetMemoryInfo_v2",
    "nvmlDeviceGetEncoderUtilization",
    "nvmlDeviceGetDecoderUtilization", "nvmlDeviceGetProcessUtilization"};

constexpr unsigned kMostDevices = 16;

// The answers, parsed once at nvmlInit_v2 so that a call costs what a
// library's own bookkeeping would, not the parsing of a text.
struct State {
    nvml::Return codes[FunctionCount] = {};
    unsigned count = 1;
    std::string name = "Fake GPU";
    std::string driver = "550.54.14";
    int cuda = 12040;
    int major = 8, minor = 6;
    unsigned long long memoryTotal = 24576ull << 20, memoryUsed = 2048ull << 20, memoryReserved = 0;
    std::vector<unsigned> loads{0};
    unsigned encoder = 0, decoder = 0;
    std::vector<nvml::ProcessUtilizationSample> processes;
    unsigned lostAfter = 0;
    std::string calls;

    unsigned utilizationCalls = 0;
    unsigned nextLoad = 0;
    unsigned long long clock = 0;  // the timestamps of the process samples
    bool lost = false;
};
State g_state;
nvml::DeviceRecord g_devices[kMostDevices];

unsigned OwnPid() {
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

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

unsigned long long Number(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 10); }

void Take(const std::string& key, const std::string& value) {
    State& s = g_state;
    for (int f = 0; f < FunctionCount; ++f)
        if (key == kFunctionNames[f]) s.codes[f] = static_cast<nvml::Return>(std::atoi(value.c_str()));
    if (key == "count") s.count = static_cast<unsigned>(Number(value));
    else if (key == "name") s.name = value;
    else if (key == "driver") s.driver = value;
    else if (key == "cuda") s.cuda = std::atoi(value.c_str());
    else if (key == "capability") {
        const std::vector<std::string> parts = Split(value, '.');
        s.major = std::atoi(parts[0].c_str());
        s.minor = parts.size() > 1 ? std::atoi(parts[1].c_str()) : 0;
    } else if (key == "memory") {
        const std::vector<std::string> parts = Split(value, ',');
        s.memoryTotal = Number(parts[0]) << 20;
        s.memoryUsed = parts.size() > 1 ? Number(parts[1]) << 20 : 0;
    } else if (key == "utilization") {
        s.loads.clear();
        for (const std::string& load : Split(value, ',')) s.loads.push_back(static_cast<unsigned>(Number(load)));
    } else if (key == "reserved") s.memoryReserved = Number(value) << 20;
    else if (key == "encoder") s.encoder = static_cast<unsigned>(Number(value));
    else if (key == "decoder") s.decoder = static_cast<unsigned>(Number(value));
    else if (key == "lost_after") s.lostAfter = static_cast<unsigned>(Number(value));
    else if (key == "calls") s.calls = value;
    else if (key == "process") {
        for (const std::string& entry : Split(value, ',')) {
            const std::vector<std::string> parts = Split(entry, ':');
            nvml::ProcessUtilizationSample sample{};
            sample.pid = parts[0] == "self" ? OwnPid() : parts[0] == "other" ? OwnPid() + 1
                                                                                : static_cast<unsigned>(Number(parts[0]));
            sample.smUtil = parts.size() > 1 ? static_cast<unsigned>(Number(parts[1])) : 0;
            s.processes.push_back(sample);
        }
    }
}

void ReadAnswers() {
    g_state = State();
    const char* path = std::getenv("FAKE_NVML_ANSWERS");
    FILE* file = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (file == nullptr) return;
    char line[1024];
    while (std::fgets(line, sizeof line, file)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const size_t equals = text.find('=');
        if (equals != std::string::npos) Take(text.substr(0, equals), Unescaped(text.substr(equals + 1)));
    }
    std::fclose(file);
}

void Log(const char* name) {
    if (g_state.calls.empty()) return;
    if (FILE* file = std::fopen(g_state.calls.c_str(), "ab")) {
        std::fprintf(file, "%s\n", name);
        std::fclose(file);
    }
}

// The code a function returns before it answers: the lost GPU's for a
// device call, else one set in the file.
nvml::Return Refusal(Function function, bool deviceCall = true) {
    if (deviceCall && g_state.lost) return nvml::kErrorGpuIsLost;
    return g_state.codes[function];
}

bool ValidDevice(nvml::Device device) {
    const unsigned count = g_state.count < kMostDevices ? g_state.count : kMostDevices;
    return device >= g_devices && device < g_devices + count;
}

}  // namespace

FAKE_EXPORT nvml::Return nvmlInit_v2() {
    ReadAnswers();
    Log("nvmlInit_v2");
    return Refusal(Init, false);
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
    if (const nvml::Return code = Refusal(Count, false)) return code;
    *count = g_state.count;
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlDeviceGetHandleByIndex_v2(unsigned int index, nvml::Device* device) {
    if (const nvml::Return code = Refusal(Handle)) return code;
    if (index >= g_state.count || index >= kMostDevices) return 2;  // NVML_ERROR_INVALID_ARGUMENT
    *device = g_devices + index;
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlDeviceGetUtilizationRates(nvml::Device device, nvml::Utilization* utilization) {
    if (!ValidDevice(device)) return 2;
    if (g_state.lostAfter > 0 && ++g_state.utilizationCalls >= g_state.lostAfter) g_state.lost = true;
    if (const nvml::Return code = Refusal(Utilization)) return code;
    utilization->gpu = g_state.loads[g_state.nextLoad++ % g_state.loads.size()];
    utilization->memory = 0;
    return nvml::kSuccess;
}

#if !defined(FAKE_NVML_MINIMAL)

FAKE_EXPORT nvml::Return nvmlDeviceGetName(nvml::Device device, char* name, unsigned int length) {
    if (!ValidDevice(device)) return 2;
    if (const nvml::Return code = Refusal(Name)) return code;
    // Written as the driver would, even without room for the terminator.
    const std::string& text = g_state.name;
    std::memcpy(name, text.data(), text.size() < length ? text.size() : length);
    if (text.size() < length) name[text.size()] = '\0';
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlSystemGetDriverVersion(char* version, unsigned int length) {
    if (const nvml::Return code = Refusal(DriverVersion, false)) return code;
    if (length == 0) return nvml::kErrorInsufficientSize;
    const size_t count = g_state.driver.size() < length - 1 ? g_state.driver.size() : length - 1;
    std::memcpy(version, g_state.driver.data(), count);
    version[count] = '\0';
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlSystemGetCudaDriverVersion(int* version) {
    if (const nvml::Return code = Refusal(CudaVersion, false)) return code;
    *version = g_state.cuda;
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlDeviceGetCudaComputeCapability(nvml::Device device, int* major, int* minor) {
    if (!ValidDevice(device)) return 2;
    if (const nvml::Return code = Refusal(Capability)) return code;
    *major = g_state.major;
    *minor = g_state.minor;
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlDeviceGetMemoryInfo(nvml::Device device, nvml::Memory* memory) {
    if (!ValidDevice(device)) return 2;
    if (const nvml::Return code = Refusal(Memory)) return code;
    memory->total = g_state.memoryTotal;
    memory->used = g_state.memoryUsed + g_state.memoryReserved;
    memory->free = memory->total > memory->used ? memory->total - memory->used : 0;
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlDeviceGetMemoryInfo_v2(nvml::Device device, nvml::MemoryV2* memory) {
    if (!ValidDevice(device)) return 2;
    if (const nvml::Return code = Refusal(MemoryV2)) return code;
    if (memory->version != nvml::kMemoryV2Version) return 25;  // NVML_ERROR_ARGUMENT_VERSION_MISMATCH
    memory->total = g_state.memoryTotal;
    memory->reserved = g_state.memoryReserved;
    memory->used = g_state.memoryUsed;
    const unsigned long long taken = memory->used + memory->reserved;
    memory->free = memory->total > taken ? memory->total - taken : 0;
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlDeviceGetEncoderUtilization(nvml::Device device, unsigned int* load,
                                                          unsigned int* period) {
    if (!ValidDevice(device)) return 2;
    if (const nvml::Return code = Refusal(Encoder)) return code;
    *load = g_state.encoder;
    *period = 167000;
    return nvml::kSuccess;
}

FAKE_EXPORT nvml::Return nvmlDeviceGetDecoderUtilization(nvml::Device device, unsigned int* load,
                                                          unsigned int* period) {
    if (!ValidDevice(device)) return 2;
    if (const nvml::Return code = Refusal(Decoder)) return code;
    *load = g_state.decoder;
    *period = 167000;
    return nvml::kSuccess;
}

// Each call that returns samples gives the next sample period's, newer than
// any before: as the driver does, only samples after lastSeen.
FAKE_EXPORT nvml::Return nvmlDeviceGetProcessUtilization(nvml::Device device,
                                                          nvml::ProcessUtilizationSample* samples,
                                                          unsigned int* count, unsigned long long lastSeen) {
    if (!ValidDevice(device) || count == nullptr) return 2;
    if (const nvml::Return code = Refusal(Process)) return code;
    const std::vector<nvml::ProcessUtilizationSample>& processes = g_state.processes;
    if (processes.empty()) return nvml::kErrorNotFound;
    if (samples == nullptr || *count < processes.size()) {
        *count = static_cast<unsigned int>(processes.size());
        return nvml::kErrorInsufficientSize;
    }
    g_state.clock = (g_state.clock > lastSeen ? g_state.clock : lastSeen) + 1000;
    for (size_t i = 0; i < processes.size(); ++i) {
        samples[i] = processes[i];
        samples[i].timeStamp = g_state.clock;
    }
    *count = static_cast<unsigned int>(processes.size());
    return nvml::kSuccess;
}

#endif
