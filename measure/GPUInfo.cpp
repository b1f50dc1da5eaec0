#include "measure/GPUInfo.h"

#include <charconv>
#include <cstring>
#include <utility>

#include "platform/Gpu.h"
#include "platform/Text.h"
#include "platform/Time.h"
#include "support/Text.h"

// ------------------------------------------------------------ window title

namespace {

bool IsVersionCharacter(char character) { return (character >= '0' && character <= '9') || character == '.'; }

}  // namespace

bool MatchGPUZWindowTitle(const std::string& title, std::string& version) {
    // The window text is read into a 64-byte buffer: at most 63 characters.
    std::string cut = title.substr(0, 63);
    ToLowerText(cut);
    if (cut.find("gpu-z") == std::string::npos) return false;
    size_t runStart = cut.size();
    while (runStart > 0 && IsVersionCharacter(cut[runStart - 1])) --runStart;
    size_t runLength = cut.size() - runStart;
    // Five characters are enough for "0.8.5" but would cut "2.61.0" to ".61.0".
    if (runLength > 5 && cut[runStart] >= '0' && cut[runStart] <= '9')
        version = cut.substr(runStart);
    else
        version = cut.substr(cut.size() - 5);
    return true;
}

// ------------------------------------------------------------ block fields

namespace {

uint16_t CodeUnitAt(const uint8_t* field, size_t index) {
    return static_cast<uint16_t>(field[2 * index] | (field[2 * index + 1] << 8));
}

// Exact, case-sensitive compare of a zero-terminated UTF-16LE field with an
// ASCII key; nothing past the field is read.
bool FieldEquals(const uint8_t* field, const char* key) {
    const size_t units = gpuz::kTextFieldSize / 2;
    size_t i = 0;
    for (; key[i] != '\0'; ++i) {
        if (i >= units || CodeUnitAt(field, i) != static_cast<unsigned char>(key[i])) return false;
    }
    return i < units && CodeUnitAt(field, i) == 0;
}

// The code units of a UTF-16LE field up to its terminator, or up to the end
// of the field when the terminator is missing.
std::u16string FieldUnits(const uint8_t* field) {
    const size_t units = gpuz::kTextFieldSize / 2;
    std::u16string text;
    for (size_t i = 0; i < units; ++i) {
        char16_t unit = static_cast<char16_t>(CodeUnitAt(field, i));
        if (unit == 0) break;
        text += unit;
    }
    return text;
}

// A field's value as the program uses it: converted, cut, trimmed.
std::string FieldText(const uint8_t* field) {
    std::string text = platform::WideToNarrow(FieldUnits(field), gpuz::kMaxValueBytes);
    TrimText(text);
    return text;
}

double DoubleAt(const uint8_t* bytes) {
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | bytes[i];
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// round(v): v + 0.5 truncated toward zero. A reading without an integer form
// (NaN, or beyond the 64-bit range while GPU-Z rewrites the block) gives 0
// rather than an undefined conversion.
int64_t RoundReading(double value) {
    double shifted = value + 0.5;
    if (!(shifted > -9.2e18 && shifted < 9.2e18)) return 0;
    return static_cast<int64_t>(shifted);
}

// strtod-like but independent of the C locale: the text is GPU-Z's, which
// always writes a full stop.
double LeadingNumber(const std::string& text) {
    const char* first = text.c_str();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    double value = 0.0;
    std::from_chars_result result = std::from_chars(first, last, value);
    if (result.ec != std::errc()) return 0.0;
    return value;
}

struct WindowSearch {
    bool found = false;
    std::string version;
};

// Every window is visited; the last match gives the version.
void FindGPUZWindow(const char* title, void* context) {
    WindowSearch& search = *static_cast<WindowSearch*>(context);
    std::string version;
    if (title && MatchGPUZWindowTitle(title, version)) {
        search.found = true;
        search.version = std::move(version);
    }
}

}  // namespace

// ---------------------------------------------------------------- CGPUInfo

CGPUInfo::CGPUInfo() {
    WindowSearch search;
    platform::ForEachWindowTitle(&FindGPUZWindow, &search);
    WindowFound = search.found;
    TitleVersion = search.version;
}

CGPUInfo::CGPUInfo(bool windowFound, std::string titleVersion)
    : WindowFound(windowFound), TitleVersion(std::move(titleVersion)) {}

CGPUInfo::~CGPUInfo() = default;

void CGPUInfo::AttachView(const uint8_t* view, size_t size) {
    View = view;
    ViewSize = view ? size : 0;
}

int CGPUInfo::OpenSharedMemory() {
    ErrorText.clear();
    platform::SharedBlock block;
    std::string error;
    if (!platform::OpenSharedBlock("GPUZShMem", block, error)) {
        ErrorText = error;
        return 0;
    }
    if (block.size < gpuz::kBlockSize) {
        // Reading the records would run past the end of the mapping.
        ErrorText = "The shared memory block is " + std::to_string(block.size) + " bytes long; GPU-Z's layout needs " +
                    std::to_string(gpuz::kBlockSize) + " bytes.\n";
        platform::CloseSharedBlockHandle(block);
        return 0;
    }
    MappingHandle = block.handle;
    AttachView(block.data, block.size);
    SharedMemoryOpen = true;
    ReadCardInfo();
    return 1;
}

void CGPUInfo::ReadCardInfo() {
    HasVideoEngine = false;
    bool versionText = !TitleVersion.empty();
    for (char character : TitleVersion) versionText = versionText && IsVersionCharacter(character);
    GPUZVersion = versionText ? TitleVersion : "Unknown";

    uint8_t cudaFlag = 0;
    double cudaCapability = 0.0;
    for (size_t i = 0; i < gpuz::kRecordCount; ++i) {
        size_t offset = gpuz::kDataRecordOffset + i * gpuz::kDataRecordSize;
        if (!View || offset + gpuz::kDataRecordSize > ViewSize) break;
        const uint8_t* record = View + offset;
        std::string value = FieldText(record + gpuz::kDataValueOffset);
        if (value.empty()) continue;
        if (FieldEquals(record, "CardName"))
            CardName = value;
        else if (FieldEquals(record, "GPUName"))
            GPUName = value;
        else if (FieldEquals(record, "MemSize"))
            MemSize = value;
        else if (FieldEquals(record, "DriverVersion"))
            DriverVersion = value;
        else if (FieldEquals(record, "OpenCL_Version"))
            OpenCLVersion = value;
        else if (FieldEquals(record, "CUDA"))
            cudaFlag = static_cast<uint8_t>(ParseInt64(value));  // strtol-like, kept in 8 bits
        else if (FieldEquals(record, "CUDA_Capability"))
            cudaCapability = LeadingNumber(value);
    }
    if (cudaFlag != 0 && cudaCapability >= 1.0) HasVideoEngine = true;
    HasMemoryUsed = false;
    HasMemoryDynamic = false;
    HasMemoryDedicated = false;
}

void CGPUInfo::CloseSharedMemory() {
    if (!SharedMemoryOpen) return;
    if (MappingHandle) {
        platform::SharedBlock block;
        block.data = View;
        block.size = ViewSize;
        block.handle = MappingHandle;
        platform::CloseSharedBlockHandle(block);
    }
    MappingHandle = nullptr;
    AttachView(nullptr, 0);
}

void CGPUInfo::ReadSensors() {
    uint64_t now = Clock();
    if (now - LastRefreshTick < 300) return;

    GPULoad = 0;
    VideoEngineLoad = 0;
    MemoryUsed = 0;
    MemoryDedicated = 0;
    MemoryDynamic = 0;
    for (size_t i = 0; i < gpuz::kRecordCount; ++i) {
        size_t offset = gpuz::kSensorRecordOffset + i * gpuz::kSensorRecordSize;
        if (!View || offset + gpuz::kSensorRecordSize > ViewSize) break;
        const uint8_t* record = View + offset;
        if (FieldEquals(record, "GPU Load")) {
            GPULoad = static_cast<uint16_t>(RoundReading(DoubleAt(record + gpuz::kSensorValueOffset)));
        } else if (FieldEquals(record, "Video Engine Load")) {
            if (HasVideoEngine)
                VideoEngineLoad = static_cast<uint16_t>(RoundReading(DoubleAt(record + gpuz::kSensorValueOffset)));
        } else if (FieldEquals(record, "Memory Used")) {
            HasMemoryUsed = true;
            MemoryUsed = static_cast<uint32_t>(RoundReading(DoubleAt(record + gpuz::kSensorValueOffset)));
        } else if (FieldEquals(record, "Memory Usage (Dedicated)")) {
            HasMemoryDedicated = true;
            MemoryDedicated = static_cast<uint32_t>(RoundReading(DoubleAt(record + gpuz::kSensorValueOffset)));
        } else if (FieldEquals(record, "Memory Usage (Dynamic)")) {
            HasMemoryDynamic = true;
            MemoryDynamic = static_cast<uint32_t>(RoundReading(DoubleAt(record + gpuz::kSensorValueOffset)));
        }
    }
    LastRefreshTick = Clock();
}

uint64_t CGPUInfo::TickMs() { return platform::MonotonicMs(); }

GraphicsCardFacts CGPUInfo::Facts() const {
    GraphicsCardFacts facts;
    facts.Kind = GPUSourceKind::GPUZ;
    facts.Source = "GPU-Z " + GPUZVersion;
    facts.DeviceCount = 1;
    facts.CardName = CardName;
    facts.GPUName = GPUName;
    facts.MemorySize = MemSize;
    facts.OpenCLVersion = OpenCLVersion;
    facts.DriverVersion = DriverVersion;
    return facts;
}
