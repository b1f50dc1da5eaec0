#include "tests/support/ImageBuilder.h"

#include <fstream>

namespace testimage {

namespace {

class Writer {
public:
    explicit Writer(bool bigEndian = false) : bigEndian_(bigEndian) {}

    void Put(size_t offset, uint64_t value, unsigned bytes) {
        if (bytes_.size() < offset + bytes) bytes_.resize(offset + bytes, 0);
        for (unsigned i = 0; i < bytes; ++i) {
            unsigned shift = 8 * (bigEndian_ ? bytes - 1 - i : i);
            bytes_[offset + i] = static_cast<uint8_t>(value >> shift);
        }
    }
    void Text(size_t offset, const std::string& text) {
        if (bytes_.size() < offset + text.size() + 1) bytes_.resize(offset + text.size() + 1, 0);
        for (size_t i = 0; i < text.size(); ++i) bytes_[offset + i] = static_cast<uint8_t>(text[i]);
        bytes_[offset + text.size()] = 0;
    }
    void Grow(size_t size) {
        if (bytes_.size() < size) bytes_.resize(size, 0);
    }
    size_t Size() const { return bytes_.size(); }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    bool bigEndian_;
    std::vector<uint8_t> bytes_;
};

size_t AlignUp(size_t value, size_t alignment) { return (value + alignment - 1) / alignment * alignment; }

}  // namespace

std::vector<uint8_t> BuildPE(const PEOptions& options, PELayout* layout) {
    Writer out;
    PELayout where;
    out.Text(0, "MZ");
    out.Put(0x3C, 0x80, 4);
    where.PEHeader = 0x80;
    out.Put(0x80, 0x00004550, 4);  // "PE\0\0"
    where.FileHeader = 0x84;
    const size_t optionalSize = 240;  // PE32+ with 16 data directories
    out.Put(where.FileHeader + 0, options.Machine, 2);
    out.Put(where.FileHeader + 2, 2, 2);  // sections
    out.Put(where.FileHeader + 16, optionalSize, 2);
    out.Put(where.FileHeader + 18, 0x2022, 2);  // DLL, executable, large address aware

    where.OptionalHeader = where.FileHeader + 20;
    const size_t opt = where.OptionalHeader;
    out.Put(opt + 0, options.Magic, 2);
    out.Put(opt + 2, options.MajorLinker, 1);
    out.Put(opt + 3, options.MinorLinker, 1);
    out.Put(opt + 24, 0x180000000ull, 8);  // image base
    out.Put(opt + 32, 0x1000, 4);   // section alignment
    out.Put(opt + 36, 0x200, 4);    // file alignment
    out.Put(opt + 40, 6, 2);        // operating system version
    out.Put(opt + 48, 6, 2);        // subsystem version
    out.Put(opt + 56, 0x3000, 4);   // size of image
    out.Put(opt + 60, 0x400, 4);    // size of headers
    out.Put(opt + 68, 2, 2);        // subsystem: Windows GUI
    out.Put(opt + 72, 0x100000, 8); // stack reserve, commit, heap reserve, commit
    out.Put(opt + 80, 0x1000, 8);
    out.Put(opt + 88, 0x100000, 8);
    out.Put(opt + 96, 0x1000, 8);
    out.Put(opt + 108, 16, 4);      // NumberOfRvaAndSizes

    // Section .text at RVA 0x1000, .edata at RVA 0x2000.
    where.SectionTable = opt + optionalSize;
    where.SectionTableEnd = where.SectionTable + 2 * 40;
    const size_t textRaw = 0x400, textSize = 0x200;
    const size_t edataRaw = textRaw + textSize;
    const uint32_t edataRva = 0x2000;

    // Export directory, then the function, name and ordinal arrays, then the
    // DLL name and the export names.
    const size_t count = options.ExportNames.size();
    const size_t directory = 0;
    const size_t functions = 40;
    const size_t nameTable = functions + 4 * count;
    const size_t ordinals = nameTable + 4 * count;
    const size_t dllName = ordinals + 2 * count;
    size_t nameAt = dllName + sizeof("avisynth.dll");
    out.Text(edataRaw + dllName, "avisynth.dll");
    out.Put(edataRaw + directory + 12, edataRva + dllName, 4);
    out.Put(edataRaw + directory + 16, 1, 4);  // ordinal base
    out.Put(edataRaw + directory + 20, count, 4);
    out.Put(edataRaw + directory + 24, count, 4);
    out.Put(edataRaw + directory + 28, edataRva + functions, 4);
    out.Put(edataRaw + directory + 32, edataRva + nameTable, 4);
    out.Put(edataRaw + directory + 36, edataRva + ordinals, 4);
    where.Names = edataRaw + nameAt;
    for (size_t i = 0; i < count; ++i) {
        out.Put(edataRaw + functions + 4 * i, 0x1000 + 16 * i, 4);
        out.Put(edataRaw + nameTable + 4 * i, edataRva + nameAt, 4);
        out.Put(edataRaw + ordinals + 2 * i, i, 2);
        out.Text(edataRaw + nameAt, options.ExportNames[i]);
        nameAt += options.ExportNames[i].size() + 1;
    }
    where.NamesEnd = edataRaw + nameAt;
    where.ExportDirectory = edataRaw + directory;
    where.NameTable = edataRaw + nameTable;
    const size_t edataSize = AlignUp(nameAt, 0x200);
    out.Grow(edataRaw + edataSize);

    if (options.HasExportDirectory) {
        out.Put(opt + 112, edataRva, 4);
        out.Put(opt + 116, nameAt, 4);
    }

    auto section = [&](size_t index, const char* name, uint32_t rva, size_t raw, size_t size, uint32_t flags) {
        const size_t header = where.SectionTable + 40 * index;
        out.Text(header, name);
        out.Put(header + 8, size, 4);   // virtual size
        out.Put(header + 12, rva, 4);
        out.Put(header + 16, size, 4);  // raw size
        out.Put(header + 20, raw, 4);
        out.Put(header + 36, flags, 4);
    };
    section(0, ".text", 0x1000, textRaw, textSize, 0x60000020);    // code, executable, readable
    section(1, ".edata", edataRva, edataRaw, edataSize, 0x40000040);  // initialised data, readable

    // One 16-byte code slot per exported function, int3 in between.
    static const uint8_t kReturnZero[] = {0x31, 0xC0, 0xC3};  // xor eax, eax; ret
    static const uint8_t kFault[] = {0xC7, 0x04, 0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0xC3};  // mov dword [0], 0; ret
    for (size_t i = 0; i < textSize; ++i) out.Put(textRaw + i, 0xCC, 1);
    for (size_t i = 0; i < count && 16 * (i + 1) <= textSize; ++i) {
        const bool fault = options.FunctionCode == PEOptions::Code::Fault;
        const uint8_t* code = fault ? kFault : kReturnZero;
        const size_t length = fault ? sizeof kFault : sizeof kReturnZero;
        for (size_t b = 0; b < length; ++b) out.Put(textRaw + 16 * i + b, code[b], 1);
    }

    if (layout) *layout = where;
    return out.Take();
}

std::vector<uint8_t> BuildELF(const ELFOptions& options, ELFLayout* layout) {
    Writer out(options.BigEndian);
    ELFLayout where;
    out.Put(0, 0x7F, 1);
    out.Text(1, "ELF");
    out.Put(4, options.Class, 1);
    out.Put(5, options.BigEndian ? 2 : 1, 1);
    out.Put(6, 1, 1);  // version
    out.Put(16, 3, 2);  // ET_DYN
    out.Put(18, options.Machine, 2);
    out.Put(20, 1, 4);
    if (options.Class != 2) {
        out.Grow(52);
        out.Put(40, 52, 2);  // header size
        if (layout) *layout = where;
        return out.Take();
    }

    // .dynstr
    where.DynStr = 64;
    std::vector<size_t> nameOffsets;
    size_t at = 1;  // offset 0 is the empty name
    out.Grow(where.DynStr + 1);
    for (const ELFSymbol& symbol : options.Symbols) {
        nameOffsets.push_back(at);
        out.Text(where.DynStr + at, symbol.Name);
        at += symbol.Name.size() + 1;
    }
    where.DynStrSize = at;

    // .dynsym: the null symbol, then one per name.
    where.DynSym = AlignUp(where.DynStr + where.DynStrSize, 8);
    where.DynSymSize = 24 * (options.Symbols.size() + 1);
    out.Grow(where.DynSym + where.DynSymSize);
    for (size_t i = 0; i < options.Symbols.size(); ++i) {
        const size_t entry = where.DynSym + 24 * (i + 1);
        out.Put(entry, nameOffsets[i], 4);
        out.Put(entry + 4, 0x11, 1);  // global object
        out.Put(entry + 6, options.Symbols[i].Defined ? 5 : 0, 2);
        out.Put(entry + 8, options.Symbols[i].Defined ? 0x4000 + 8 * i : 0, 8);
    }

    // .comment
    where.Comment = where.DynSym + where.DynSymSize;
    size_t commentSize = 0;
    if (options.HasComment) {
        commentSize = options.CommentLeadingNuls + options.Comment.size() + 1;
        out.Grow(where.Comment + options.CommentLeadingNuls);
        out.Text(where.Comment + options.CommentLeadingNuls, options.Comment);
    }

    // .shstrtab
    where.ShStrTab = where.Comment + commentSize;
    const std::string sectionNames[] = {"", ".dynstr", ".dynsym", ".comment", ".shstrtab"};
    size_t sectionNameOffsets[5];
    at = 0;
    for (size_t i = 0; i < 5; ++i) {
        sectionNameOffsets[i] = at;
        out.Text(where.ShStrTab + at, sectionNames[i]);
        at += sectionNames[i].size() + 1;
    }
    const size_t shStrTabSize = at;

    struct Header {
        size_t name;
        uint32_t type;
        size_t offset, size;
        uint32_t link;
        size_t entrySize;
    };
    std::vector<Header> headers;
    headers.push_back({0, 0, 0, 0, 0, 0});
    headers.push_back({sectionNameOffsets[1], 3, where.DynStr, where.DynStrSize, 0, 0});
    where.DynStrIndex = 1;
    headers.push_back({sectionNameOffsets[2], 11, where.DynSym, where.DynSymSize, 1, 24});
    where.DynSymIndex = 2;
    if (options.HasComment) {
        where.CommentIndex = headers.size();
        headers.push_back({sectionNameOffsets[3], 1, where.Comment, commentSize, 0, 1});
    }
    where.ShStrTabIndex = headers.size();
    headers.push_back({sectionNameOffsets[4], 3, where.ShStrTab, shStrTabSize, 0, 0});

    where.SectionTable = AlignUp(where.ShStrTab + shStrTabSize, 8);
    where.SectionCount = headers.size();
    for (size_t i = 0; i < headers.size(); ++i) {
        const size_t h = where.SectionTable + 64 * i;
        out.Put(h + 0, headers[i].name, 4);
        out.Put(h + 4, headers[i].type, 4);
        out.Put(h + 24, headers[i].offset, 8);
        out.Put(h + 32, headers[i].size, 8);
        out.Put(h + 40, headers[i].link, 4);
        out.Put(h + 56, headers[i].entrySize, 8);
    }
    out.Grow(where.SectionTable + 64 * headers.size());
    out.Put(0x28, where.SectionTable, 8);
    out.Put(0x34, 64, 2);  // header size
    out.Put(0x3A, 64, 2);
    out.Put(0x3C, headers.size(), 2);
    out.Put(0x3E, where.ShStrTabIndex, 2);

    if (layout) *layout = where;
    return out.Take();
}

std::vector<uint8_t> BuildNativeImage(bool is64Bit, bool withLinkage) {
#if defined(_WIN32)
    PEOptions options;
    if (!is64Bit) {
        options.Machine = 0x14C;
        options.Magic = 0x10B;
    }
    if (!withLinkage) options.ExportNames = {"CreateScriptEnvironment"};
    return BuildPE(options);
#else
    ELFOptions options;
    if (!is64Bit) {
        options.Class = 1;
        options.Machine = 3;
    }
    if (!withLinkage) options.Symbols = {{"CreateScriptEnvironment", true}, {"AVS_linkage", false}};
    return BuildELF(options);
#endif
}

void Poke16(std::vector<uint8_t>& image, size_t offset, uint16_t value) {
    for (unsigned i = 0; i < 2; ++i) image.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}
void Poke32(std::vector<uint8_t>& image, size_t offset, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i) image.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}
void Poke64(std::vector<uint8_t>& image, size_t offset, uint64_t value) {
    for (unsigned i = 0; i < 8; ++i) image.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

}  // namespace testimage
