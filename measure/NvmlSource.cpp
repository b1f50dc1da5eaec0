#include "measure/NvmlSource.h"

#include <algorithm>

#include "platform/Library.h"
#include "platform/Process.h"
#include "support/Text.h"

namespace {

// More process samples than any driver keeps: a count beyond it is no answer.
constexpr unsigned int kMostSamples = 4096;
// Enough for every process that shares a card, as a rule: no allocation at
// a sampling point.
constexpr unsigned int kFirstSamples = 64;

template <class Function>
bool Find(void* library, Function& function, const char* name, const char* olderName = nullptr) {
    void* symbol = platform::DynamicSymbol(library, name);
    if (symbol == nullptr && olderName != nullptr) symbol = platform::DynamicSymbol(library, olderName);
    function = reinterpret_cast<Function>(symbol);
    return function != nullptr;
}

bool IsPercent(unsigned int value) { return value <= 100; }

}  // namespace

CNvmlSource::~CNvmlSource() { Close(); }

std::string CNvmlSource::LookUp(void* library) {
    Functions& f = Call;
    f = Functions();
    if (!Find(library, f.Init, "nvmlInit_v2", "nvmlInit")) return "nvmlInit_v2";
    if (!Find(library, f.Shutdown, "nvmlShutdown")) return "nvmlShutdown";
    if (!Find(library, f.Count, "nvmlDeviceGetCount_v2", "nvmlDeviceGetCount")) return "nvmlDeviceGetCount_v2";
    if (!Find(library, f.Handle, "nvmlDeviceGetHandleByIndex_v2", "nvmlDeviceGetHandleByIndex"))
        return "nvmlDeviceGetHandleByIndex_v2";
    if (!Find(library, f.Utilization, "nvmlDeviceGetUtilizationRates")) return "nvmlDeviceGetUtilizationRates";
    Find(library, f.ErrorString, "nvmlErrorString");
    Find(library, f.Name, "nvmlDeviceGetName");
    Find(library, f.Encoder, "nvmlDeviceGetEncoderUtilization");
    Find(library, f.Decoder, "nvmlDeviceGetDecoderUtilization");
    Find(library, f.Memory, "nvmlDeviceGetMemoryInfo");
    Find(library, f.MemoryV2, "nvmlDeviceGetMemoryInfo_v2");
    Find(library, f.Process, "nvmlDeviceGetProcessUtilization");
    Find(library, f.DriverVersion, "nvmlSystemGetDriverVersion");
    Find(library, f.CudaVersion, "nvmlSystemGetCudaDriverVersion_v2", "nvmlSystemGetCudaDriverVersion");
    Find(library, f.Capability, "nvmlDeviceGetCudaComputeCapability");
    return std::string();
}

std::string CNvmlSource::ErrorText(nvml::Return code) const {
    // The library's own words, checked like every text it gives.
    std::string text;
    if (Call.ErrorString != nullptr)
        if (const char* words = Call.ErrorString(code)) text = DriverText(words, 256);
    return text.empty() ? FormatText("NVML error %d", code) : text;
}

GPUOpen CNvmlSource::Open(const std::vector<std::string>& libraries, uint32_t device, std::string& note) {
    Close();
    note.clear();
    LostText.clear();
    for (const std::string& name : libraries) {
        void* library = platform::LoadDynamicLibrary(name);
        if (library == nullptr) continue;
        const std::string missing = LookUp(library);
        if (missing.empty()) {
            Library = library;
            break;
        }
        note = "NVML (" + name + ") has no " + missing;
        platform::FreeDynamicLibrary(library);
    }
    if (Library == nullptr) return GPUOpen::NoDevice;
    note.clear();

    nvml::Return code = Call.Init();
    Initialised = code == nvml::kSuccess;
    unsigned int count = 0;
    if (code == nvml::kSuccess) code = Call.Count(&count);
    GPUOpen outcome = GPUOpen::NoDevice;
    if (code != nvml::kSuccess)
        note = "NVML: " + ErrorText(code);
    else if (count == 0)
        note = "NVML reports no GPU";
    else if (device >= count) {
        note = DeviceRefusal("NVML", device, count);
        outcome = GPUOpen::Refused;
    } else if ((code = Call.Handle(device, &Handle)) != nvml::kSuccess)
        note = FormatText("NVML, GPU %u: %s", device, ErrorText(code).c_str());
    else
        outcome = GPUOpen::Device;
    if (outcome != GPUOpen::Device) {
        Close();
        return outcome;
    }
    ReadFacts(device, count);
    return GPUOpen::Device;
}

void CNvmlSource::ReadFacts(uint32_t device, uint32_t count) {
    Facts = GraphicsCardFacts();
    Facts.Kind = GPUSourceKind::NVML;
    Facts.Source = "NVML";
    Facts.Device = device;
    Facts.DeviceCount = count;
    Features = GPUFeatures();
    ProcessId = platform::OwnProcessId();
    LastSeen = 0;

    char name[nvml::kDeviceNameBufferSize + 1] = {};
    if (Call.Name != nullptr && Call.Name(Handle, name, nvml::kDeviceNameBufferSize) == nvml::kSuccess) {
        Facts.CardName = DriverText(name, nvml::kDeviceNameBufferSize);
        Facts.GPUName = Facts.CardName;
    }
    // The newer call where the driver takes it (an older driver refuses
    // its version), else the first one.
    unsigned long long total = 0, used = 0;
    for (bool version2 : {true, false}) {
        MemoryByVersion2 = version2;
        if (ReadMemory(total, used) != nvml::kSuccess || total == 0 || used > total) continue;
        Facts.MemorySize = FormatText("%llu MB", total >> 20);
        Features.HasMemoryUsed = true;
        break;
    }
    char driver[nvml::kDriverVersionBufferSize + 1] = {};
    if (Call.DriverVersion != nullptr && Call.DriverVersion(driver, nvml::kDriverVersionBufferSize) == nvml::kSuccess)
        Facts.DriverVersion = DriverText(driver, nvml::kDriverVersionBufferSize);
    int cuda = 0;
    if (Call.CudaVersion != nullptr && Call.CudaVersion(&cuda) == nvml::kSuccess)
        Facts.CudaVersion = CudaVersionText(cuda);
    int major = -1, minor = -1;
    if (Call.Capability != nullptr && Call.Capability(Handle, &major, &minor) == nvml::kSuccess && major >= 0 &&
        major < 100 && minor >= 0 && minor < 100)
        Facts.ComputeCapability = FormatText("%d.%d", major, minor);

    // A reading is offered when its function answers now.
    unsigned int value = 0, period = 0;
    for (nvml::EngineFunction engine : {Call.Encoder, Call.Decoder})
        if (engine != nullptr && engine(Handle, &value, &period) == nvml::kSuccess) Features.HasVideoEngine = true;
    if (Call.Process != nullptr) {
        unsigned int samples = 0;
        const nvml::Return code = Call.Process(Handle, nullptr, &samples, 0);
        Features.HasProcessLoad = code == nvml::kSuccess || code == nvml::kErrorInsufficientSize ||
                                  code == nvml::kErrorNotFound;
        if (Features.HasProcessLoad) Samples.resize(std::max(kFirstSamples, std::min(samples, kMostSamples)));
    }
}

nvml::Return CNvmlSource::ReadMemory(unsigned long long& total, unsigned long long& used) {
    nvml::Return code = nvml::kErrorNotSupported;
    if (MemoryByVersion2 && Call.MemoryV2 != nullptr) {
        nvml::MemoryV2 memory{};
        memory.version = nvml::kMemoryV2Version;
        code = Call.MemoryV2(Handle, &memory);
        total = memory.total;
        used = memory.used;
    } else if (!MemoryByVersion2 && Call.Memory != nullptr) {
        nvml::Memory memory{};
        code = Call.Memory(Handle, &memory);
        total = memory.total;
        used = memory.used;
    }
    return code;
}

bool CNvmlSource::Lost(nvml::Return code, GPUReadings& readings) {
    if (code != nvml::kErrorGpuIsLost) return false;
    LostText = ErrorText(code);
    readings = GPUReadings();
    return true;
}

void CNvmlSource::Read(GPUReadings& readings) {
    if (!Initialised || !LostText.empty()) return;
    nvml::Utilization utilization{};
    nvml::Return code = Call.Utilization(Handle, &utilization);
    if (Lost(code, readings)) return;
    if (code == nvml::kSuccess && IsPercent(utilization.gpu)) readings.GPULoad = static_cast<uint16_t>(utilization.gpu);

    if (Features.HasVideoEngine) {
        // The busier of the two engines; either alone will do.
        bool answered = false;
        unsigned int busiest = 0;
        for (nvml::EngineFunction engine : {Call.Encoder, Call.Decoder}) {
            if (engine == nullptr) continue;
            unsigned int value = 0, period = 0;
            code = engine(Handle, &value, &period);
            if (Lost(code, readings)) return;
            if (code != nvml::kSuccess || !IsPercent(value)) continue;
            answered = true;
            busiest = std::max(busiest, value);
        }
        if (answered) readings.VideoEngineLoad = static_cast<uint16_t>(busiest);
    }

    if (Features.HasMemoryUsed) {
        unsigned long long total = 0, used = 0;
        code = ReadMemory(total, used);
        if (Lost(code, readings)) return;
        if (code == nvml::kSuccess && used <= total) readings.MemoryUsed = static_cast<uint32_t>(used >> 20);
    }
    if (Features.HasProcessLoad) ReadProcessShare(readings);
}

void CNvmlSource::ReadProcessShare(GPUReadings& readings) {
    unsigned int count = static_cast<unsigned int>(Samples.size());
    nvml::Return code = Call.Process(Handle, Samples.data(), &count, LastSeen);
    if (code == nvml::kErrorInsufficientSize && count > Samples.size() && count <= kMostSamples) {
        Samples.resize(count);
        code = Call.Process(Handle, Samples.data(), &count, LastSeen);
    }
    if (Lost(code, readings)) return;
    // No sample since the last reading: no process used the GPU.
    if (code == nvml::kErrorNotFound) readings.ProcessGPULoad = 0;
    if (code != nvml::kSuccess) return;
    count = std::min(count, static_cast<unsigned int>(Samples.size()));
    // The mean of this process's samples since the last reading; a process
    // that did not use the GPU has none.
    uint64_t sum = 0;
    uint32_t own = 0;
    for (unsigned int i = 0; i < count; ++i) {
        const nvml::ProcessUtilizationSample& sample = Samples[i];
        LastSeen = std::max(LastSeen, sample.timeStamp);
        if (sample.pid != ProcessId || !IsPercent(sample.smUtil)) continue;
        sum += sample.smUtil;
        ++own;
    }
    readings.ProcessGPULoad = static_cast<uint16_t>(own == 0 ? 0 : (sum + own / 2) / own);
}

void CNvmlSource::Close() {
    if (Initialised) Call.Shutdown();
    Initialised = false;
    Handle = nullptr;
    // The library stays loaded once it was asked anything: a driver's
    // threads may outlive nvmlShutdown by a moment, and unloading their code
    // under them would end the process with a fault. It goes with the
    // process.
    Library = nullptr;
}
