// Writes the binary seed files of the fuzz corpora (the settings seeds are
// plain text and kept as they are):
//   fuzz_make_seeds CORPUS_DIR
// writes CORPUS_DIR/{image,gpu_block,arguments}/*. The images come from the
// tests' image builder, so they are laid out as the unit tests' images are.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "measure/GPUInfo.h"
#include "tests/support/ImageBuilder.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool Write(const std::filesystem::path& path, const Bytes& bytes) {
    std::filesystem::create_directories(path.parent_path());
    if (testimage::WriteFileBytes(path.string(), bytes)) return true;
    std::fprintf(stderr, "Cannot write %s\n", path.string().c_str());
    return false;
}

bool WriteImages(const std::filesystem::path& folder) {
    using namespace testimage;
    PEOptions pe32;
    pe32.Machine = 0x14C;
    pe32.Magic = 0x10B;
    PEOptions peNoExports;
    peNoExports.HasExportDirectory = false;
    peNoExports.MajorLinker = 6;
    PEOptions peOtherNames;
    peOtherNames.ExportNames = {"avs_create", "avs_get_version", "DllMain"};
    ELFOptions elfBig;
    elfBig.BigEndian = true;
    elfBig.Machine = 183;
    ELFOptions elfNuls;
    elfNuls.CommentLeadingNuls = 3;
    elfNuls.Symbols = {{"avs_create", true}, {"avs_linkage_v2", false}};
    ELFOptions elf32;
    elf32.Class = 1;
    elf32.Machine = 3;
    return Write(folder / "pe64-linkage", BuildPE()) && Write(folder / "pe32", BuildPE(pe32)) &&
           Write(folder / "pe64-no-exports", BuildPE(peNoExports)) &&
           Write(folder / "pe64-other-names", BuildPE(peOtherNames)) && Write(folder / "elf64-linkage", BuildELF()) &&
           Write(folder / "elf64-big-endian", BuildELF(elfBig)) && Write(folder / "elf64-comment-nuls", BuildELF(elfNuls)) &&
           Write(folder / "elf32", BuildELF(elf32));
}

// ------------------------------------------------ GPU block, harness format

class BlockInput {
public:
    BlockInput(const std::string& title, size_t viewUnits) {
        bytes_.assign(title.begin(), title.end());
        bytes_.push_back('\n');
        Word(viewUnits);
    }
    void Data(unsigned index, const std::u16string& key, const std::u16string& value) {
        bytes_.push_back(static_cast<uint8_t>(index & 0x7F));
        Field(Utf16(key));
        Field(Utf16(value));
    }
    void Sensor(unsigned index, const std::u16string& name, double value) {
        bytes_.push_back(static_cast<uint8_t>(0x80 | (index & 0x7F)));
        Field(Utf16(name));
        Bytes rest(20 + 8, 0);
        std::memcpy(rest.data() + 20, &value, sizeof value);  // little-endian, as GPU-Z writes it
        Field(rest);
    }
    // A key field filled to the end, without a terminator.
    void UnterminatedData(unsigned index) {
        bytes_.push_back(static_cast<uint8_t>(index & 0x7F));
        Field(Bytes(512, 'A'));
        Field(Utf16(u"value"));
    }
    const Bytes& Get() const { return bytes_; }

private:
    static Bytes Utf16(const std::u16string& text) {
        Bytes bytes;
        for (char16_t unit : text) {
            bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
            bytes.push_back(static_cast<uint8_t>(unit >> 8));
        }
        bytes.push_back(0);
        bytes.push_back(0);
        return bytes;
    }
    void Word(size_t value) {
        bytes_.push_back(static_cast<uint8_t>(value & 0xFF));
        bytes_.push_back(static_cast<uint8_t>(value >> 8));
    }
    void Field(const Bytes& field) {
        Word(field.size());
        bytes_.insert(bytes_.end(), field.begin(), field.end());
    }
    Bytes bytes_;
};

bool WriteGpuBlocks(const std::filesystem::path& folder) {
    BlockInput full("TechPowerUp GPU-Z 2.61.0", 0xFFFF);
    full.Data(0, u"CardName", u"NVIDIA GeForce RTX 3060");
    full.Data(1, u"GPUName", u"GA106");
    full.Data(2, u"MemSize", u"12288 MB");
    full.Data(3, u"DriverVersion", u"31.0.15.3623");
    full.Data(4, u"OpenCL_Version", u"OpenCL 3.0");
    full.Data(5, u"CUDA", u"1");
    full.Data(6, u"CUDA_Capability", u"8.6");
    full.Sensor(0, u"GPU Load", 42.4);
    full.Sensor(1, u"Video Engine Load", 17.5);
    full.Sensor(2, u"Memory Used", 1024.0);
    full.Sensor(3, u"Memory Usage (Dedicated)", 900.0);
    full.Sensor(4, u"Memory Usage (Dynamic)", 124.0);

    // An old GPU-Z, a view that ends inside the sensor records, texts
    // beyond ASCII and an unpaired surrogate.
    BlockInput cut("GPU-Z 0.8.5", (gpuz::kSensorRecordOffset + 10 * gpuz::kSensorRecordSize + 100) / 4);
    cut.Data(0, u"CardName", u"Radeon \u00e9\u4e2d \U0001F600 \xD800 end");
    cut.UnterminatedData(1);
    cut.Data(127, u"MemSize", u"  8 GB  ");
    cut.Sensor(0, u"GPU Load", 99.9);
    cut.Sensor(127, u"GPU Load", 1.0);
    cut.Sensor(10, u"GPU Load", 5.0);  // its value lies past the view

    // A view that ends inside the value of a data record.
    BlockInput cutData("GPU-Z 2.0.0", (gpuz::kDataRecordOffset + 3 * gpuz::kDataRecordSize + 600) / 4);
    cutData.Data(0, u"GPUName", u"Navi 21");
    cutData.Data(3, u"CardName", u"Radeon RX 6800 XT");

    // Readings GPU-Z may show while it rewrites the block.
    BlockInput odd("gpu-z", 0xFFFF);
    odd.Data(0, u"CUDA", u"300");
    odd.Data(1, u"CUDA_Capability", u"+1e308");
    odd.Sensor(0, u"GPU Load", 1e300);
    odd.Sensor(1, u"Memory Used", -1.0);
    odd.Sensor(2, u"Memory Usage (Dynamic)", std::numeric_limits<double>::quiet_NaN());
    odd.Sensor(3, u"Memory Usage (Dedicated)", -std::numeric_limits<double>::infinity());

    BlockInput none("Untitled - Notepad", 3);
    none.Data(0, u"CardName", u"outside the view");

    return Write(folder / "full", full.Get()) && Write(folder / "cut-view", cut.Get()) &&
           Write(folder / "cut-in-data", cutData.Get()) &&
           Write(folder / "odd-readings", odd.Get()) && Write(folder / "no-window", none.Get());
}

// ------------------------------------------------ arguments, harness format

Bytes Arguments(uint8_t flags, const std::vector<std::string>& args) {
    Bytes bytes{flags};
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) bytes.push_back(0);
        bytes.insert(bytes.end(), args[i].begin(), args[i].end());
    }
    return bytes;
}

bool WriteArguments(const std::filesystem::path& folder) {
    return Write(folder / "switches", Arguments(4, {"clip.avs", "-log", "-csv", "-gpu", "-i"})) &&
           Write(folder / "values", Arguments(5, {"clip", "-range=10,99", "-timelimit=30", "-priority=3"})) &&
           Write(folder / "case-and-blanks", Arguments(4, {" -AVSINFO ", "-L", "CLIP.AVS\t", "-Info"})) &&
           Write(folder / "bad-range", Arguments(4, {"-range=5", "clip.avs"})) &&
           Write(folder / "missing-file", Arguments(0, {"-priority=2", "clip.avs"})) &&
           Write(folder / "no-full-path", Arguments(3, {"x", "-timelimit=0"})) &&
           Write(folder / "malformed-numbers", Arguments(4, {"clip.avs", "-timelimit=1-", "-priority=2-", "-range=5-,9"})) &&
           Write(folder / "pipe-script", Arguments(12, {"-log", "pipe.avs"})) &&
           Write(folder / "huge-script", Arguments(20, {"huge.avs", "-csv"}));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: fuzz_make_seeds CORPUS_DIR\n");
        return 1;
    }
    const std::filesystem::path corpus = argv[1];
    if (!WriteImages(corpus / "image") || !WriteGpuBlocks(corpus / "gpu_block") ||
        !WriteArguments(corpus / "arguments"))
        return 1;
    return 0;
}
