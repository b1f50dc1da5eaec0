#include "measure/AmdgpuSource.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "platform/Files.h"
#include "support/Text.h"

namespace {

// A sysfs attribute is at most a page.
constexpr uint64_t kAttributeLimit = 4096;

// The attribute's text, checked as every driver text is; false when the file
// cannot be read.
bool ReadAttribute(const std::string& path, std::string& text) {
    std::vector<uint8_t> bytes;
    if (platform::ReadRegularFile(path, kAttributeLimit, bytes) != platform::FileRead::Done) return false;
    text = DriverText(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return true;
}

// A whole decimal number, nothing else around it but blanks.
bool ReadNumber(const std::string& path, uint64_t& value) {
    std::string text;
    if (!ReadAttribute(path, text) || text.empty()) return false;
    const std::from_chars_result result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// "card0", "card12": not the connectors ("card0-DP-1") or render nodes.
bool CardNumber(const std::string& name, uint32_t& number) {
    if (name.size() <= 4 || name.compare(0, 4, "card") != 0) return false;
    const char* first = name.data() + 4;
    const char* last = name.data() + name.size();
    const std::from_chars_result result = std::from_chars(first, last, number);
    return result.ec == std::errc() && result.ptr == last;
}

// "0x1002" -> "1002".
std::string PciId(const std::string& text) {
    std::string id = text.compare(0, 2, "0x") == 0 ? text.substr(2) : text;
    ToLowerText(id);
    return id;
}

std::string Megabytes(uint64_t bytes) { return FormatText("%llu MB", static_cast<unsigned long long>(bytes >> 20)); }

}  // namespace

GPUOpen CAmdgpuSource::Open(const std::string& root, uint32_t device, std::string& note) {
    note.clear();
    LostText.clear();
    const std::string drm = root + "/sys/class/drm";
    std::vector<uint32_t> cards;
    for (const std::string& name : platform::DirectoryEntries(drm)) {
        uint32_t number = 0;
        if (CardNumber(name, number)) cards.push_back(number);
    }
    std::sort(cards.begin(), cards.end());
    std::vector<std::string> devices;
    for (uint32_t number : cards) {
        const std::string path = drm + "/card" + std::to_string(number) + "/device";
        std::string vendor, busy;
        if (ReadAttribute(path + "/vendor", vendor) && vendor == "0x1002" &&
            ReadAttribute(path + "/gpu_busy_percent", busy))
            devices.push_back(path);
    }
    if (devices.empty()) return GPUOpen::NoDevice;
    const uint32_t count = static_cast<uint32_t>(devices.size());
    if (device >= count) {
        note = DeviceRefusal("amdgpu", device, count);
        return GPUOpen::Refused;
    }
    DevicePath = devices[device];
    BusyPath = DevicePath + "/gpu_busy_percent";
    MemoryUsedPath = DevicePath + "/mem_info_vram_used";

    Facts = GraphicsCardFacts();
    Facts.Kind = GPUSourceKind::Amdgpu;
    Facts.Source = "amdgpu";
    Facts.Device = device;
    Facts.DeviceCount = count;
    std::string name, vendor, id;
    if (!ReadAttribute(DevicePath + "/product_name", name) || name.empty()) {
        ReadAttribute(DevicePath + "/vendor", vendor);
        ReadAttribute(DevicePath + "/device", id);
        name = PciId(vendor) + ":" + PciId(id);
    }
    Facts.CardName = name;
    Facts.GPUName = name;
    Features = GPUFeatures();
    MemoryTotal = 0;
    if (ReadNumber(DevicePath + "/mem_info_vram_total", MemoryTotal) && MemoryTotal > 0)
        Facts.MemorySize = Megabytes(MemoryTotal);
    uint64_t used = 0;
    Features.HasMemoryUsed = ReadNumber(MemoryUsedPath, used);
    // The module's own version where it has one (a driver built apart from
    // the kernel); the kernel's release otherwise.
    std::string version;
    if (ReadAttribute(root + "/sys/module/amdgpu/version", version) && !version.empty())
        Facts.DriverVersion = version;
    else if (ReadAttribute(root + "/proc/sys/kernel/osrelease", version) && !version.empty())
        Facts.DriverVersion = "kernel " + version;
    return GPUOpen::Device;
}

void CAmdgpuSource::Read(GPUReadings& readings) {
    if (DevicePath.empty() || !LostText.empty()) return;
    uint64_t value = 0;
    if (ReadNumber(BusyPath, value)) {
        if (value <= 100) readings.GPULoad = static_cast<uint16_t>(value);
    } else if (platform::InspectFile(DevicePath).Kind != platform::FileKind::Directory) {
        LostText = "the device is gone";
        readings = GPUReadings();
        return;
    }
    if (Features.HasMemoryUsed && ReadNumber(MemoryUsedPath, value) &&
        (MemoryTotal == 0 || value <= MemoryTotal))
        readings.MemoryUsed = static_cast<uint32_t>(value >> 20);
}
