#include "frameserver/ImageInspect.h"

#include <cstring>

#include "support/Text.h"

const char* const kIcl10LinkerVersion = "6.0 (ICL 10.1)";

namespace {

const char kLinkageMarker[] = "avs_linkage";

// Bounds-checked little/big-endian reads. Offsets are 64-bit so that sums of
// untrusted 32-bit fields cannot wrap around.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size, bool bigEndian = false)
        : data_(data), size_(size), bigEndian_(bigEndian) {}

    uint64_t Size() const { return size_; }
    bool Has(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }
    const uint8_t* At(uint64_t offset) const { return data_ + offset; }

    // Callers check Has() first.
    uint64_t Read(uint64_t offset, unsigned bytes) const {
        uint64_t value = 0;
        for (unsigned i = 0; i < bytes; ++i) {
            unsigned index = bigEndian_ ? i : bytes - 1 - i;
            value = (value << 8) | data_[offset + index];
        }
        return value;
    }
    uint32_t U8(uint64_t offset) const { return data_[offset]; }
    uint32_t U16(uint64_t offset) const { return static_cast<uint32_t>(Read(offset, 2)); }
    uint32_t U32(uint64_t offset) const { return static_cast<uint32_t>(Read(offset, 4)); }
    uint64_t U64(uint64_t offset) const { return Read(offset, 8); }

    // The NUL-terminated text starting at `offset` that ends before `limit`.
    // False when no terminator lies in that range.
    bool Text(uint64_t offset, uint64_t limit, std::string& text) const {
        if (limit > size_) limit = size_;
        if (offset >= limit) return false;
        const void* end = std::memchr(data_ + offset, 0, static_cast<size_t>(limit - offset));
        if (!end) return false;
        text.assign(reinterpret_cast<const char*>(data_ + offset), static_cast<const uint8_t*>(end) - (data_ + offset));
        return true;
    }

private:
    const uint8_t* data_;
    uint64_t size_;
    bool bigEndian_;
};

bool NamesLinkage(std::string name) {
    ToLowerText(name);
    return name.find(kLinkageMarker) != std::string::npos;
}

// Notes what an exported name tells; true once nothing more can be learnt.
bool NoteExport(const std::string& name, ImageFacts& facts) {
    if (name == "CreateScriptEnvironment" || name == "avs_create_script_environment") facts.HasFactoryExport = true;
    if (NamesLinkage(name)) facts.HasLinkageExport = true;
    return facts.HasLinkageExport && facts.HasFactoryExport;
}

ImageFacts Invalid(const char* reason) {
    ImageFacts facts;
    facts.ErrorText = reason;
    return facts;
}

ImageFacts Damaged(ImageFacts facts, const char* reason) {
    facts.ErrorText = reason;
    return facts;
}

// ------------------------------------------------------------------- PE

constexpr uint32_t kMachineAmd64 = 0x8664;
constexpr uint32_t kMachineIa64 = 0x200;
constexpr uint32_t kOptionalMagicPE32Plus = 0x20b;
constexpr uint64_t kFileHeaderSize = 20;
constexpr uint64_t kOptionalFixedSize64 = 112;  // up to NumberOfRvaAndSizes
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kExportDirectorySize = 40;

struct PESections {
    const ByteReader* reader;
    uint64_t tableOffset;
    uint32_t count;

    // File offset of `rva` and the end of the raw data of its section (the
    // end is clipped to the file). False when no section holds the RVA in
    // file data, the way the image-help translation finds nothing.
    bool Translate(uint32_t rva, uint64_t& offset, uint64_t& limit) const {
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t header = tableOffset + uint64_t(i) * kSectionHeaderSize;
            uint32_t virtualAddress = reader->U32(header + 12);
            uint32_t rawSize = reader->U32(header + 16);
            uint32_t rawOffset = reader->U32(header + 20);
            if (rva < virtualAddress || uint64_t(rva) - virtualAddress >= rawSize) continue;
            offset = uint64_t(rawOffset) + (rva - virtualAddress);
            limit = uint64_t(rawOffset) + rawSize;
            if (limit > reader->Size()) limit = reader->Size();
            return offset < limit;
        }
        return false;
    }
};

}  // namespace

ImageFacts InspectPEImage(const uint8_t* data, size_t size) {
    ByteReader reader(data, size);
    if (!reader.Has(0, 64)) return Invalid("The file is too short to be a PE image");
    if (data[0] != 'M' || data[1] != 'Z') return Invalid("The file is not a PE image (no MZ signature)");

    const uint64_t peHeader = reader.U32(0x3C);
    if (!reader.Has(peHeader, 4 + kFileHeaderSize)) return Invalid("The PE header lies outside the file");
    if (std::memcmp(reader.At(peHeader), "PE\0\0", 4) != 0)
        return Invalid("The file is not a PE image (no PE signature)");

    const uint64_t fileHeader = peHeader + 4;
    const uint32_t machine = reader.U16(fileHeader);
    const uint32_t sectionCount = reader.U16(fileHeader + 2);
    const uint64_t optionalSize = reader.U16(fileHeader + 16);
    const uint64_t optional = fileHeader + kFileHeaderSize;

    ImageFacts facts;
    facts.Valid = true;
    facts.Is64Bit = machine == kMachineAmd64 || machine == kMachineIa64;
    if (!facts.Is64Bit) return facts;

    if (optionalSize < kOptionalFixedSize64 || !reader.Has(optional, optionalSize))
        return Invalid("The optional header of the PE image is missing or truncated");
    if (reader.U16(optional) != kOptionalMagicPE32Plus)
        return Invalid("The PE image is marked 64-bit but its optional header is not PE32+");
    facts.LinkerVersion = FormatText("%u.%u", reader.U8(optional + 2), reader.U8(optional + 3));

    PESections sections{&reader, optional + optionalSize, sectionCount};
    if (!reader.Has(sections.tableOffset, uint64_t(sectionCount) * kSectionHeaderSize))
        return Invalid("The section table of the PE image lies outside the file");

    // Data-directory entry 0 is the export directory.
    const uint32_t directoryCount = reader.U32(optional + 108);
    if (directoryCount < 1 || optionalSize < kOptionalFixedSize64 + 8) return facts;
    const uint32_t exportRva = reader.U32(optional + kOptionalFixedSize64);
    if (exportRva == 0) return facts;

    uint64_t directory = 0, directoryLimit = 0;
    if (!sections.Translate(exportRva, directory, directoryLimit) || directory + kExportDirectorySize > directoryLimit)
        return Damaged(facts, "The export directory of the PE image lies outside the file");
    const uint32_t nameCount = reader.U32(directory + 24);
    const uint32_t namesRva = reader.U32(directory + 32);
    if (nameCount == 0) return facts;

    uint64_t names = 0, namesLimit = 0;
    if (!sections.Translate(namesRva, names, namesLimit) || uint64_t(nameCount) * 4 > namesLimit - names)
        return Damaged(facts, "The export name table of the PE image lies outside the file");
    for (uint32_t i = 0; i < nameCount; ++i) {
        uint64_t name = 0, nameLimit = 0;
        std::string text;
        if (!sections.Translate(reader.U32(names + uint64_t(i) * 4), name, nameLimit) ||
            !reader.Text(name, nameLimit, text))
            return Damaged(facts, "An export name of the PE image lies outside the file");
        if (NoteExport(text, facts)) break;
    }
    return facts;
}

// ------------------------------------------------------------------- ELF

namespace {

constexpr uint32_t kElfMachineX86_64 = 62;
constexpr uint32_t kElfMachineAArch64 = 183;
constexpr uint64_t kElf64HeaderSize = 64;
constexpr uint64_t kElf64SectionHeaderSize = 64;
constexpr uint64_t kElf64SymbolSize = 24;
constexpr uint32_t kSectionTypeStringTable = 3;
constexpr uint32_t kSectionTypeNoBits = 8;
constexpr uint32_t kSectionTypeDynamicSymbols = 11;
constexpr uint32_t kSectionIndexExtended = 0xFFFF;

struct ElfSection {
    uint32_t name = 0;
    uint32_t type = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint32_t link = 0;
    uint64_t entrySize = 0;
};

ElfSection ReadSection(const ByteReader& reader, uint64_t header) {
    ElfSection section;
    section.name = reader.U32(header);
    section.type = reader.U32(header + 4);
    section.offset = reader.U64(header + 24);
    section.size = reader.U64(header + 32);
    section.link = reader.U32(header + 40);
    section.entrySize = reader.U64(header + 56);
    return section;
}

bool InFile(const ByteReader& reader, const ElfSection& section) {
    return section.type == kSectionTypeNoBits || reader.Has(section.offset, section.size);
}

}  // namespace

ImageFacts InspectELFImage(const uint8_t* data, size_t size) {
    if (size < 20 || std::memcmp(data, "\x7f" "ELF", 4) != 0) return Invalid("The file is not an ELF image");
    const uint8_t elfClass = data[4];
    const uint8_t encoding = data[5];
    if (elfClass != 1 && elfClass != 2) return Invalid("The ELF image has an unknown class");
    if (encoding != 1 && encoding != 2) return Invalid("The ELF image has an unknown byte order");
    ByteReader reader(data, size, encoding == 2);

    const uint32_t machine = reader.U16(18);
    ImageFacts facts;
    facts.Valid = true;
    facts.Is64Bit = elfClass == 2 && (machine == kElfMachineX86_64 || machine == kElfMachineAArch64);
    if (!facts.Is64Bit) return facts;

    if (!reader.Has(0, kElf64HeaderSize)) return Invalid("The ELF header is truncated");
    const uint64_t tableOffset = reader.U64(0x28);
    const uint64_t entrySize = reader.U16(0x3A);
    uint64_t sectionCount = reader.U16(0x3C);
    uint64_t namesIndex = reader.U16(0x3E);
    if (tableOffset == 0) return Invalid("The ELF image has no section headers, so its symbols cannot be read");
    if (entrySize < kElf64SectionHeaderSize) return Invalid("The section headers of the ELF image are too small");
    // Many sections: the real count and name-table index sit in section 0.
    if (sectionCount == 0 || namesIndex == kSectionIndexExtended) {
        if (!reader.Has(tableOffset, kElf64SectionHeaderSize))
            return Invalid("The section header table of the ELF image lies outside the file");
        ElfSection first = ReadSection(reader, tableOffset);
        if (sectionCount == 0) sectionCount = first.size;
        if (namesIndex == kSectionIndexExtended) namesIndex = first.link;
    }
    if (sectionCount > reader.Size() / entrySize || !reader.Has(tableOffset, sectionCount * entrySize))
        return Invalid("The section header table of the ELF image lies outside the file");
    auto section = [&](uint64_t index) { return ReadSection(reader, tableOffset + index * entrySize); };

    // Section names, needed to find .comment.
    ElfSection names;
    bool haveNames = namesIndex != 0;
    if (haveNames) {
        if (namesIndex >= sectionCount) return Damaged(facts, "The section name table of the ELF image is missing");
        names = section(namesIndex);
        if (names.type == kSectionTypeNoBits || !InFile(reader, names))
            return Damaged(facts, "The section name table of the ELF image lies outside the file");
    }

    bool haveComment = false;
    for (uint64_t index = 1; index < sectionCount; ++index) {
        ElfSection current = section(index);
        if (current.type == kSectionTypeDynamicSymbols && !(facts.HasLinkageExport && facts.HasFactoryExport)) {
            if (current.link == 0 || current.link >= sectionCount)
                return Damaged(facts, "The dynamic symbol table of the ELF image has no string table");
            ElfSection strings = section(current.link);
            if (strings.type != kSectionTypeStringTable || !InFile(reader, strings) || !InFile(reader, current))
                return Damaged(facts, "The dynamic symbols of the ELF image lie outside the file");
            const uint64_t symbolSize = current.entrySize ? current.entrySize : kElf64SymbolSize;
            if (symbolSize < kElf64SymbolSize)
                return Damaged(facts, "The dynamic symbol entries of the ELF image are too small");
            const uint64_t symbolCount = current.size / symbolSize;
            // Entry 0 is the reserved null symbol.
            for (uint64_t symbol = 1; symbol < symbolCount; ++symbol) {
                const uint64_t entry = current.offset + symbol * symbolSize;
                if (reader.U16(entry + 6) == 0) continue;  // undefined: imported, not exported
                std::string text;
                const uint64_t nameOffset = reader.U32(entry);
                if (nameOffset >= strings.size ||
                    !reader.Text(strings.offset + nameOffset, strings.offset + strings.size, text))
                    return Damaged(facts, "A dynamic symbol name of the ELF image lies outside its string table");
                if (NoteExport(text, facts)) break;
            }
        }
        if (haveNames && !haveComment) {
            std::string name;
            if (current.name >= names.size || !reader.Text(names.offset + current.name, names.offset + names.size, name))
                return Damaged(facts, "A section name of the ELF image lies outside the section name table");
            if (name == ".comment" && current.type != kSectionTypeNoBits) {
                if (!InFile(reader, current))
                    return Damaged(facts, "The .comment section of the ELF image lies outside the file");
                haveComment = true;
                // Leading NULs separate nothing; the first real string names the tool.
                uint64_t start = current.offset, end = current.offset + current.size;
                while (start < end && data[start] == 0) ++start;
                uint64_t stop = start;
                while (stop < end && data[stop] != 0) ++stop;
                facts.LinkerVersion.assign(reinterpret_cast<const char*>(data + start), stop - start);
            }
        }
    }
    return facts;
}

// ------------------------------------------------------ compiler labels

std::string CompilerLabel(const std::string& linkerVersion) {
    static const struct {
        const char* prefix;
        const char* label;
    } kLabels[] = {
        {"6.", " (VC6)"},     {"7.0", " (VS2002)"}, {"7.1", " (VS2003)"},
        {"8.", " (VS2005)"},  {"9.", " (VS2008)"},  {"10.", " (VS2010)"},
        {"11.", " (VS2012)"}, {"12.", " (VS2013)"}, {"14.", " (VS2015)"},
    };
    for (const auto& entry : kLabels)
        if (linkerVersion.compare(0, std::strlen(entry.prefix), entry.prefix) == 0) return entry.label;
    return std::string();
}

bool VersionStringNamesIcl10(const std::string& versionString) {
    const size_t position = versionString.find("(ICL10)", 2);
    return position != std::string::npos && position <= 0xFFFE;
}
