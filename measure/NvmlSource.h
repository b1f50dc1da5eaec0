// GPU readings from the NVIDIA driver's management library (NVML), loaded at
// run time. Each function is looked up on its own: without one of those the
// readings cannot do without, the library gives no device; without an
// optional one, only its reading is missing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measure/GPUSource.h"
#include "measure/Nvml.h"
#include "measure/Statistics.h"

class CNvmlSource {
public:
    CNvmlSource() = default;
    ~CNvmlSource();
    CNvmlSource(const CNvmlSource&) = delete;
    CNvmlSource& operator=(const CNvmlSource&) = delete;

    // Loads the first of `libraries` that has the functions it needs,
    // initialises it and opens GPU `device`, then reads the card's facts and
    // which readings it offers. When a library was found but gave no device,
    // `note` says why (with the library's own error text).
    GPUOpen Open(const std::vector<std::string>& libraries, uint32_t device, std::string& note);
    // One reading of every offered figure. A failed call or a value out of
    // range keeps that figure's previous value; a lost GPU ends the readings:
    // all read 0 from then on and LostText says why.
    void Read(GPUReadings& readings);
    // nvmlShutdown; the library itself stays loaded.
    void Close();

    GraphicsCardFacts Facts;
    GPUFeatures Features;
    std::string LostText;

private:
    struct Functions {
        nvml::InitFunction Init = nullptr;
        nvml::ShutdownFunction Shutdown = nullptr;
        nvml::CountFunction Count = nullptr;
        nvml::HandleFunction Handle = nullptr;
        nvml::UtilizationFunction Utilization = nullptr;
        // Optional.
        nvml::ErrorStringFunction ErrorString = nullptr;
        nvml::NameFunction Name = nullptr;
        nvml::EngineFunction Encoder = nullptr;
        nvml::EngineFunction Decoder = nullptr;
        nvml::MemoryFunction Memory = nullptr;
        nvml::MemoryV2Function MemoryV2 = nullptr;
        nvml::ProcessFunction Process = nullptr;
        nvml::DriverVersionFunction DriverVersion = nullptr;
        nvml::CudaVersionFunction CudaVersion = nullptr;
        nvml::CapabilityFunction Capability = nullptr;
    };

    // The name of the first function the library lacks of those it must
    // have; empty when it has them all.
    std::string LookUp(void* library);
    void ReadFacts(uint32_t device, uint32_t count);
    // The card's memory in bytes, by the newer call where the driver has it.
    nvml::Return ReadMemory(unsigned long long& total, unsigned long long& used);
    void ReadProcessShare(GPUReadings& readings);
    // True when `code` says the GPU is lost; the readings then end.
    bool Lost(nvml::Return code, GPUReadings& readings);
    std::string ErrorText(nvml::Return code) const;

    void* Library = nullptr;
    bool Initialised = false;
    Functions Call;
    nvml::Device Handle = nullptr;
    // The driver's process samples; grown only when it has more to give.
    std::vector<nvml::ProcessUtilizationSample> Samples;
    unsigned long long LastSeen = 0;
    bool MemoryByVersion2 = false;
    uint32_t ProcessId = 0;
};
