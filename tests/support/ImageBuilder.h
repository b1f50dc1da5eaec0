// Builds small, well-formed library images (PE and ELF) in memory, so that
// tests can feed the image parsers and the installation check with 32-bit,
// 64-bit, with and without the linkage export, and then damage them on
// purpose. The layouts report where each structure lies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testimage {

struct PEOptions {
    // What every exported function does (x86-64 code): return 0, or write
    // through a null pointer.
    enum class Code { ReturnZero, Fault };

    uint16_t Machine = 0x8664;
    uint16_t Magic = 0x20b;  // PE32+
    uint8_t MajorLinker = 14;
    uint8_t MinorLinker = 0;
    bool HasExportDirectory = true;
    std::vector<std::string> ExportNames{"CreateScriptEnvironment", "AVS_linkage"};
    Code FunctionCode = Code::ReturnZero;
};

struct PELayout {
    size_t PEHeader = 0;           // "PE\0\0"
    size_t FileHeader = 0;         // IMAGE_FILE_HEADER
    size_t OptionalHeader = 0;     // IMAGE_OPTIONAL_HEADER64
    size_t SectionTable = 0;       // two section headers: .text, .edata
    size_t SectionTableEnd = 0;
    size_t ExportDirectory = 0;    // file offset of the export directory
    size_t NameTable = 0;          // file offset of the name RVA array
    size_t Names = 0;              // file offset of the first name
    size_t NamesEnd = 0;           // one past the last name's NUL
};

std::vector<uint8_t> BuildPE(const PEOptions& options = PEOptions(), PELayout* layout = nullptr);

struct ELFSymbol {
    std::string Name;
    bool Defined = true;
};

struct ELFOptions {
    uint8_t Class = 2;        // 1: 32-bit, 2: 64-bit
    uint16_t Machine = 62;    // x86-64
    bool BigEndian = false;
    std::vector<ELFSymbol> Symbols{{"CreateScriptEnvironment", true}, {"AVS_linkage", true}, {"malloc", false}};
    bool HasComment = true;
    std::string Comment = "GCC: (test) 1.0";
    unsigned CommentLeadingNuls = 0;
};

struct ELFLayout {
    size_t SectionTable = 0;       // section header table (at the end of the file)
    size_t SectionCount = 0;
    size_t DynStr = 0, DynStrSize = 0;
    size_t DynSym = 0, DynSymSize = 0;
    size_t Comment = 0;
    size_t ShStrTab = 0;
    // Indexes into the section header table.
    size_t DynStrIndex = 0, DynSymIndex = 0, CommentIndex = 0, ShStrTabIndex = 0;
};

// A 32-bit class gives just the 52-byte header.
std::vector<uint8_t> BuildELF(const ELFOptions& options = ELFOptions(), ELFLayout* layout = nullptr);

// The image format the running platform loads (PE on Windows, ELF
// elsewhere), 64- or 32-bit, with or without the linkage export. The PE is
// complete enough for the Windows loader (its CreateScriptEnvironment
// returns null); the ELF has no program headers, so it cannot be loaded.
std::vector<uint8_t> BuildNativeImage(bool is64Bit, bool withLinkage);

// Little-endian field writes into an existing image, for damaging it.
void Poke16(std::vector<uint8_t>& image, size_t offset, uint16_t value);
void Poke32(std::vector<uint8_t>& image, size_t offset, uint32_t value);
void Poke64(std::vector<uint8_t>& image, size_t offset, uint64_t value);

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace testimage
