// GPU-Z's window title and shared-memory block come from another program
// that may be any version, or half-way through rewriting the block. Input:
//   the window title, up to the first '\n';
//   two bytes (little-endian): the size of the view in units of 4 bytes,
//     cut to the full block;
//   then records until the input ends, each
//     a tag: bit 7 set for a sensor record, else a data record; bits 0-6 the
//       record's index;
//     two bytes of length and the bytes of its name (key) field;
//     two bytes of length and the bytes of the rest of the record (a data
//       record's value field; a sensor record's unread bytes and value).
// Bytes beyond a field or the view are dropped; a short input ends early.
// The view ends where its heap block ends, so that a read past it is caught;
// the block is allocated once, as a fresh one per input costs more than the
// reading itself.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "measure/GPUInfo.h"
#include "report/LogFile.h"

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return position_ >= size_; }
    std::string Line() {
        std::string line;
        while (position_ < size_ && data_[position_] != '\n') line += static_cast<char>(data_[position_++]);
        if (position_ < size_) ++position_;
        return line;
    }
    size_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
    size_t Word() {
        size_t low = Byte();
        return low | (Byte() << 8);
    }
    // Up to `length` bytes of the input; copies at most `room` of them.
    void CopyTo(uint8_t* target, size_t room, size_t length) {
        length = std::min(length, size_ - position_);
        std::memcpy(target, data_ + position_, std::min(length, room));
        position_ += length;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

uint64_t FixedClock() { return 1000; }

bool IsVersionText(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input(data, size);
    std::string version;
    const bool found = MatchGPUZWindowTitle(input.Line(), version);

    static std::vector<uint8_t> block(gpuz::kBlockSize);
    const size_t viewSize = std::min(input.Word() * 4, gpuz::kBlockSize);
    uint8_t* const view = block.data() + block.size() - viewSize;
    std::memset(view, 0, viewSize);
    while (!input.Empty()) {
        const size_t tag = input.Byte();
        const bool sensor = (tag & 0x80) != 0;
        const size_t recordSize = sensor ? gpuz::kSensorRecordSize : gpuz::kDataRecordSize;
        const size_t offset = (sensor ? gpuz::kSensorRecordOffset : gpuz::kDataRecordOffset) + (tag & 0x7F) * recordSize;
        uint8_t record[gpuz::kDataRecordSize] = {};
        const size_t nameLength = input.Word();
        input.CopyTo(record, gpuz::kTextFieldSize, nameLength);
        const size_t restLength = input.Word();
        input.CopyTo(record + gpuz::kTextFieldSize, recordSize - gpuz::kTextFieldSize, restLength);
        // A record the view cuts off keeps the part inside it, as a short
        // mapping would.
        if (offset < viewSize) std::memcpy(view + offset, record, std::min(recordSize, viewSize - offset));
    }

    CGPUInfo gpu(found ? 1 : 0, version);
    gpu.Clock = &FixedClock;
    gpu.AttachView(view, viewSize);
    gpu.ReadCardInfo();
    gpu.ReadSensors();
    GraphicsCardSection(gpu.Facts());

    if (found) FUZZ_CHECK(version.size() <= 63);
    FUZZ_CHECK(gpu.GPUZVersion == "Unknown" || IsVersionText(gpu.GPUZVersion));
    for (const std::string* text : {&gpu.CardName, &gpu.GPUName, &gpu.MemSize, &gpu.OpenCLVersion, &gpu.DriverVersion})
        FUZZ_CHECK(text->size() <= gpuz::kMaxValueBytes);
    FUZZ_CHECK(gpu.HasVideoEngine == 0 || gpu.HasVideoEngine == 1);
    return 0;
}
