#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "frameserver/ImageInspect.h"
#include "platform/Files.h"
#include "platform/Library.h"
#include "platform/Process.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TestPlatform.h"

using testimage::BuildELF;
using testimage::BuildPE;
using testimage::ELFLayout;
using testimage::ELFOptions;
using testimage::PELayout;
using testimage::PEOptions;
using testimage::Poke16;
using testimage::Poke32;
using testimage::Poke64;

namespace {

using Inspector = ImageFacts (*)(const uint8_t*, size_t);

// Each call gets a heap block of exactly the image's size, so that the
// sanitizer build reports any read past its end.
ImageFacts InspectCopy(Inspector inspect, const std::vector<uint8_t>& image, size_t length) {
    std::vector<uint8_t> copy(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length));
    return inspect(copy.data(), copy.size());
}

bool Failed(const ImageFacts& facts) { return !facts.Valid || !facts.ErrorText.empty(); }

bool SameAnswer(const ImageFacts& a, const ImageFacts& b) {
    return a.Valid == b.Valid && a.Is64Bit == b.Is64Bit && a.LinkerVersion == b.LinkerVersion &&
           a.HasLinkageExport == b.HasLinkageExport && a.ErrorText == b.ErrorText;
}

// Whatever the damage, the answer must hang together: a failure explains
// itself, and a 32-bit image reports nothing beyond that.
void ExpectCoherent(const ImageFacts& facts, const std::string& where) {
    if (!facts.Valid) {
        EXPECT_FALSE(facts.ErrorText.empty()) << where;
        EXPECT_FALSE(facts.Is64Bit) << where;
        EXPECT_FALSE(facts.HasLinkageExport) << where;
    }
    if (facts.Valid && !facts.Is64Bit) {
        EXPECT_TRUE(facts.LinkerVersion.empty()) << where;
        EXPECT_FALSE(facts.HasLinkageExport) << where;
        EXPECT_TRUE(facts.ErrorText.empty()) << where;
    }
}

// Every shorter length either fails or, when the cut only removed bytes
// nobody reads, gives exactly the full answer; below `mustFailBelow` it must
// fail.
void CheckEveryTruncation(Inspector inspect, const std::vector<uint8_t>& image, size_t mustFailBelow) {
    const ImageFacts full = inspect(image.data(), image.size());
    ASSERT_FALSE(Failed(full));
    for (size_t length = 0; length < image.size(); ++length) {
        ImageFacts cut = InspectCopy(inspect, image, length);
        ExpectCoherent(cut, "length " + std::to_string(length));
        if (length < mustFailBelow)
            EXPECT_TRUE(Failed(cut)) << "length " << length;
        else
            EXPECT_TRUE(Failed(cut) || SameAnswer(cut, full)) << "length " << length;
    }
}

// Overwrites every byte in turn with a few hostile values.
void CheckEveryByteDamaged(Inspector inspect, std::vector<uint8_t> image, size_t from, size_t to) {
    const uint8_t kValues[] = {0x00, 0xFF, 0x7F, 0x80};
    for (size_t offset = from; offset < to && offset < image.size(); ++offset) {
        const uint8_t original = image[offset];
        for (uint8_t value : kValues) {
            image[offset] = value;
            ExpectCoherent(inspect(image.data(), image.size()),
                           "byte " + std::to_string(offset) + " = " + std::to_string(value));
        }
        image[offset] = original;
    }
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    EXPECT_EQ(platform::ReadRegularFile(path, 1u << 30, bytes), platform::FileRead::Done) << path;
    return bytes;
}

const Inspector kNativeInspector = kOnWindows ? InspectPEImage : InspectELFImage;

}  // namespace

// ------------------------------------------------------------------- PE

TEST(PEImage, FactsOfWellFormedImages) {
    struct Case {
        const char* what;
        std::function<void(PEOptions&)> change;
        bool is64Bit;
        const char* linker;
        bool linkage;
    };
    const Case cases[] = {
        {"AMD64 with the linkage export", [](PEOptions&) {}, true, "14.0", true},
        {"IA64, decorated mixed-case name",
         [](PEOptions& o) {
             o.Machine = 0x200;
             o.MajorLinker = 7;
             o.MinorLinker = 10;
             o.ExportNames = {"CreateScriptEnvironment", "?AVS_Linkage@@3PEBUAVS_Linkage@@EB"};
         },
         true, "7.10", true},
        {"only near misses", [](PEOptions& o) { o.ExportNames = {"CreateScriptEnvironment", "avs_linkag", "linkage"}; },
         true, "14.0", false},
        {"no export directory", [](PEOptions& o) { o.HasExportDirectory = false; }, true, "14.0", false},
        {"32-bit",
         [](PEOptions& o) {
             o.Machine = 0x14C;
             o.Magic = 0x10B;
         },
         false, "", false},
    };
    for (const Case& c : cases) {
        PEOptions options;
        c.change(options);
        const std::vector<uint8_t> image = BuildPE(options);
        const ImageFacts facts = InspectCopy(InspectPEImage, image, image.size());
        EXPECT_TRUE(facts.Valid) << c.what;
        EXPECT_EQ(facts.Is64Bit, c.is64Bit) << c.what;
        EXPECT_EQ(facts.LinkerVersion, c.linker) << c.what;
        EXPECT_EQ(facts.HasLinkageExport, c.linkage) << c.what;
        EXPECT_EQ(facts.ErrorText, "") << c.what;
    }
}

TEST(Image, OtherFilesAreNotImages) {
    const std::string text = "This is not a library, just some text that is long enough to pass the first size check.";
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    const std::vector<uint8_t> elf = BuildELF(), pe = BuildPE();
    for (Inspector inspect : {InspectPEImage, InspectELFImage}) {
        EXPECT_FALSE(inspect(nullptr, 0).Valid);
        const ImageFacts facts = InspectCopy(inspect, bytes, bytes.size());
        EXPECT_FALSE(facts.Valid);
        EXPECT_FALSE(facts.ErrorText.empty());
    }
    EXPECT_FALSE(InspectCopy(InspectPEImage, elf, elf.size()).Valid);
    EXPECT_FALSE(InspectCopy(InspectELFImage, pe, pe.size()).Valid);
}

TEST(PEImage, EveryTruncationFailsOrChangesNothing) {
    PELayout layout;
    std::vector<uint8_t> image = BuildPE(PEOptions(), &layout);
    CheckEveryTruncation(InspectPEImage, image, layout.SectionTableEnd);
    // The linkage name is the last one: cutting into it must not find it.
    for (size_t length = layout.Names; length < layout.NamesEnd; ++length)
        EXPECT_FALSE(InspectCopy(InspectPEImage, image, length).HasLinkageExport) << length;

    PEOptions options;
    options.Machine = 0x14C;
    options.Magic = 0x10B;
    PELayout small;
    image = BuildPE(options, &small);
    CheckEveryTruncation(InspectPEImage, image, small.FileHeader + 20);
}

TEST(PEImage, DamagedOffsetsAndCountsAreReported) {
    PELayout at;
    const std::vector<uint8_t> good = BuildPE(PEOptions(), &at);
    const size_t opt = at.OptionalHeader;
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        bool valid;         // headers still readable
        bool error;         // a failure text is expected
    };
    const Case cases[] = {
        {"PE header offset far away", [](auto& i) { Poke32(i, 0x3C, 0xFFFFFFF0); }, false, true},
        {"PE header offset at the end", [&](auto& i) { Poke32(i, 0x3C, static_cast<uint32_t>(i.size() - 2)); }, false, true},
        {"PE signature wrong", [&](auto& i) { i[at.PEHeader + 1] = 'X'; }, false, true},
        {"65535 sections", [&](auto& i) { Poke16(i, at.FileHeader + 2, 0xFFFF); }, false, true},
        {"optional header too large", [&](auto& i) { Poke16(i, at.FileHeader + 16, 0xFFFF); }, false, true},
        {"optional header too small", [&](auto& i) { Poke16(i, at.FileHeader + 16, 16); }, false, true},
        {"PE32 header on a 64-bit machine", [&](auto& i) { Poke16(i, opt, 0x10B); }, false, true},
        {"no data directories", [&](auto& i) { Poke32(i, opt + 108, 0); }, true, false},
        {"export directory outside every section", [&](auto& i) { Poke32(i, opt + 112, 0xFFFFFFF0); }, true, true},
        {"export directory at the end of its section",
         [&](auto& i) { Poke32(i, opt + 112, 0x2000 + static_cast<uint32_t>(i.size() - at.ExportDirectory) - 8); },
         true, true},
        {"4 billion names", [&](auto& i) { Poke32(i, at.ExportDirectory + 24, 0xFFFFFFFF); }, true, true},
        {"name table outside the file", [&](auto& i) { Poke32(i, at.ExportDirectory + 32, 0x7FFFFFFF); }, true, true},
        {"first name outside the file", [&](auto& i) { Poke32(i, at.NameTable, 0x2000 + 0x100000); }, true, true},
        {"section raw data outside the file", [&](auto& i) { Poke32(i, at.SectionTable + 40 + 20, 0xFFFFFF00); }, true, true},
        {"section raw size beyond the file end (clipped)",
         [&](auto& i) { Poke32(i, at.SectionTable + 40 + 16, 0xFFFFFFFF); }, true, false},
        {"last name without terminator",
         [&](auto& i) {
             for (size_t o = at.NamesEnd - 1; o < i.size(); ++o) i[o] = 'x';
         },
         true, true},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> image = good;
        c.damage(image);
        ImageFacts facts = InspectCopy(InspectPEImage, image, image.size());
        EXPECT_EQ(facts.Valid, c.valid) << c.what;
        EXPECT_EQ(!facts.ErrorText.empty(), c.error) << c.what << ": " << facts.ErrorText;
        if (facts.Valid) {
            EXPECT_EQ(facts.LinkerVersion, "14.0") << c.what;
        }
        ExpectCoherent(facts, c.what);
    }
}

TEST(PEImage, AnyDamagedByteIsSurvived) {
    PELayout layout;
    std::vector<uint8_t> image = BuildPE(PEOptions(), &layout);
    CheckEveryByteDamaged(InspectPEImage, image, 0, layout.SectionTableEnd);
    CheckEveryByteDamaged(InspectPEImage, image, layout.ExportDirectory, layout.NamesEnd);
}

// ------------------------------------------------------------------- ELF

TEST(ELFImage, FactsOfWellFormedImages) {
    struct Case {
        const char* what;
        std::function<void(ELFOptions&)> change;
        bool is64Bit;
        const char* linker;
        bool linkage;
    };
    const Case cases[] = {
        {"x86-64 with the linkage export", [](ELFOptions&) {}, true, "GCC: (test) 1.0", true},
        {"only imported", [](ELFOptions& o) { o.Symbols = {{"CreateScriptEnvironment", true}, {"AVS_linkage", false}}; },
         true, "GCC: (test) 1.0", false},
        {"mangled name", [](ELFOptions& o) { o.Symbols = {{"_ZN11AVS_Linkage4SizeE", true}}; }, true, "GCC: (test) 1.0",
         true},
        {"no .comment", [](ELFOptions& o) { o.HasComment = false; }, true, "", true},
        {".comment after separators",
         [](ELFOptions& o) {
             o.CommentLeadingNuls = 2;
             o.Comment = "clang version 16.0.6";
         },
         true, "clang version 16.0.6", true},
        {"AArch64, big-endian",
         [](ELFOptions& o) {
             o.Machine = 183;
             o.BigEndian = true;
         },
         true, "GCC: (test) 1.0", true},
        {"RISC-V: 64-bit class, machine not loaded", [](ELFOptions& o) { o.Machine = 243; }, false, "", false},
        {"32-bit",
         [](ELFOptions& o) {
             o.Class = 1;
             o.Machine = 3;
         },
         false, "", false},
    };
    for (const Case& c : cases) {
        ELFOptions options;
        c.change(options);
        const std::vector<uint8_t> image = BuildELF(options);
        const ImageFacts facts = InspectCopy(InspectELFImage, image, image.size());
        EXPECT_TRUE(facts.Valid) << c.what;
        EXPECT_EQ(facts.Is64Bit, c.is64Bit) << c.what;
        EXPECT_EQ(facts.LinkerVersion, c.linker) << c.what;
        EXPECT_EQ(facts.HasLinkageExport, c.linkage) << c.what;
        EXPECT_EQ(facts.ErrorText, "") << c.what;
    }
}

TEST(ELFImage, EveryTruncationFails) {
    // The section header table closes the file, so every cut reaches it.
    std::vector<uint8_t> image = BuildELF();
    CheckEveryTruncation(InspectELFImage, image, image.size());

    ELFOptions options;
    options.Class = 1;
    options.Machine = 3;
    image = BuildELF(options);
    CheckEveryTruncation(InspectELFImage, image, 20);
}

TEST(ELFImage, DamagedOffsetsAndCountsAreReported) {
    ELFLayout at;
    const std::vector<uint8_t> good = BuildELF(ELFOptions(), &at);
    auto header = [&](size_t index) { return at.SectionTable + 64 * index; };
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        bool valid;
        bool error;
    };
    const Case cases[] = {
        {"section table far away", [](auto& i) { Poke64(i, 0x28, 0xFFFFFFFFFFFFFF00ull); }, false, true},
        {"no section table", [](auto& i) { Poke64(i, 0x28, 0); }, false, true},
        {"section headers too small", [](auto& i) { Poke16(i, 0x3A, 8); }, false, true},
        {"65535 sections", [](auto& i) { Poke16(i, 0x3C, 0xFFFF); }, false, true},
        {"extended count in section 0 too large",
         [&](auto& i) {
             Poke16(i, 0x3C, 0);
             Poke64(i, header(0) + 32, 0x4000000000000000ull);
         },
         false, true},
        {"extended count in section 0 correct",
         [&](auto& i) {
             Poke16(i, 0x3C, 0);
             Poke64(i, header(0) + 32, at.SectionCount);
         },
         true, false},
        {"name table index out of range", [](auto& i) { Poke16(i, 0x3E, 200); }, true, true},
        {"extended name table index out of range",
         [&](auto& i) {
             Poke16(i, 0x3E, 0xFFFF);
             Poke32(i, header(0) + 40, 0x7FFFFFFF);
         },
         true, true},
        {"name table outside the file", [&](auto& i) { Poke64(i, header(at.ShStrTabIndex) + 24, 1ull << 40); }, true, true},
        {"section name beyond its table", [&](auto& i) { Poke32(i, header(at.CommentIndex), 0xFFFFFF); }, true, true},
        {"symbol string table index out of range", [&](auto& i) { Poke32(i, header(at.DynSymIndex) + 40, 99); }, true, true},
        {"symbol string table is not a string table",
         [&](auto& i) { Poke32(i, header(at.DynSymIndex) + 40, static_cast<uint32_t>(at.DynSymIndex)); }, true, true},
        {"symbols outside the file", [&](auto& i) { Poke64(i, header(at.DynSymIndex) + 24, 0xFFFFFFFFFFFFFFF0ull); }, true, true},
        {"huge symbol count", [&](auto& i) { Poke64(i, header(at.DynSymIndex) + 32, 0x7FFFFFFFFFFFFFF8ull); }, true, true},
        {"symbol entries too small", [&](auto& i) { Poke64(i, header(at.DynSymIndex) + 56, 4); }, true, true},
        {"symbol name beyond its table", [&](auto& i) { Poke32(i, at.DynSym + 24, 0xFFFFFFF0); }, true, true},
        {"string table without terminator",
         [&](auto& i) {
             for (size_t o = at.DynStr; o < at.DynStr + at.DynStrSize; ++o) i[o] = 'a';
         },
         true, true},
        {"comment outside the file", [&](auto& i) { Poke64(i, header(at.CommentIndex) + 32, 1ull << 50); }, true, true},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> image = good;
        c.damage(image);
        ImageFacts facts = InspectCopy(InspectELFImage, image, image.size());
        EXPECT_EQ(facts.Valid, c.valid) << c.what;
        EXPECT_EQ(!facts.ErrorText.empty(), c.error) << c.what << ": " << facts.ErrorText;
        ExpectCoherent(facts, c.what);
    }
}

TEST(ELFImage, AnyDamagedByteIsSurvived) {
    ELFLayout layout;
    std::vector<uint8_t> image = BuildELF(ELFOptions(), &layout);
    CheckEveryByteDamaged(InspectELFImage, image, 0, image.size());
}

// ------------------------------------------------------- real libraries

TEST(RealImage, OnlyTheFrameServerHasTheLinkageExport) {
    std::vector<std::pair<std::string, bool>> files = {{TESTFS_LIBRARY, true}, {platform::ExecutablePath(), false}};
    if (!kOnWindows) {
        std::string system;
        ASSERT_TRUE(platform::ResolveLibraryFile("libc.so.6", system));
        files.emplace_back(system, false);
    }
    for (const auto& file : files) {
        const std::vector<uint8_t> image = ReadFile(file.first);
        ASSERT_FALSE(image.empty()) << file.first;
        const ImageFacts facts = kNativeInspector(image.data(), image.size());
        EXPECT_TRUE(facts.Valid) << file.first << ": " << facts.ErrorText;
        EXPECT_TRUE(facts.Is64Bit) << file.first;
        EXPECT_EQ(facts.HasLinkageExport, file.second) << file.first;
        EXPECT_EQ(facts.ErrorText, "") << file.first;
    }

    const std::vector<uint8_t> image = ReadFile(TESTFS_LIBRARY);
    const std::string linker = kNativeInspector(image.data(), image.size()).LinkerVersion;
    if (kOnWindows) {
        // GNU ld writes its own version (2.x), which gets no compiler label.
        EXPECT_NE(linker.find('.'), std::string::npos) << linker;
        EXPECT_EQ(CompilerLabel(linker), "");
    } else if (kBuiltWithGcc) {
        EXPECT_EQ(linker.rfind("GCC: ", 0), 0u) << linker;
    }
}

TEST(RealImage, TruncatedOrDamagedTestFrameServerIsSurvived) {
    std::vector<uint8_t> image = ReadFile(TESTFS_LIBRARY);
    ASSERT_FALSE(image.empty());
    const ImageFacts full = kNativeInspector(image.data(), image.size());
    // Every length across the headers, then a spread over the rest.
    std::vector<size_t> lengths;
    for (size_t length = 0; length < 4096 && length < image.size(); ++length) lengths.push_back(length);
    for (size_t length = 4096; length < image.size(); length += image.size() / 300 + 1) lengths.push_back(length);
    for (size_t back = 1; back <= 64 && back <= image.size(); ++back) lengths.push_back(image.size() - back);
    for (size_t length : lengths) {
        ImageFacts cut = InspectCopy(kNativeInspector, image, length);
        ExpectCoherent(cut, "length " + std::to_string(length));
        EXPECT_TRUE(Failed(cut) || SameAnswer(cut, full)) << "length " << length;
    }
    CheckEveryByteDamaged(kNativeInspector, image, 0, 1024);
    if (!kOnWindows) {
        // The section header table sits at the offset the ELF header names.
        uint64_t table = 0;
        for (unsigned i = 0; i < 8; ++i) table |= uint64_t(image[0x28 + i]) << (8 * i);
        CheckEveryByteDamaged(kNativeInspector, image, static_cast<size_t>(table), image.size());
    }
}

// ------------------------------------------------------ compiler labels

TEST(CompilerLabel, KnownLinkerVersions) {
    const std::pair<const char*, const char*> cases[] = {
        {"6.0", " (VC6)"},       {"7.0", " (VS2002)"},  {"7.10", " (VS2003)"}, {"8.0", " (VS2005)"},
        {"9.0", " (VS2008)"},    {"10.0", " (VS2010)"}, {"11.0", " (VS2012)"}, {"12.0", " (VS2013)"},
        {"14.0", " (VS2015)"},   {"14.29", " (VS2015)"}, {"13.0", ""},         {"15.0", ""},
        {"5.12", ""},            {"2.39", ""},          {"1.0", ""},           {"6", ""},
        {"", ""},                {"GCC: (Debian 12.2.0-14) 12.2.0", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(CompilerLabel(c.first), c.second) << c.first;
}

TEST(CompilerLabel, Icl10MarkerCountsOnlyAfterTheFirstTwoCharacters) {
    EXPECT_TRUE(VersionStringNamesIcl10("AviSynth 2.60, build:Mar 31 2015 (ICL10)"));
    EXPECT_TRUE(VersionStringNamesIcl10("ab(ICL10)"));
    EXPECT_FALSE(VersionStringNamesIcl10("a(ICL10)"));
    EXPECT_FALSE(VersionStringNamesIcl10("(ICL10) build"));
    EXPECT_TRUE(VersionStringNamesIcl10("(ICL10) build (ICL10)"));
    EXPECT_FALSE(VersionStringNamesIcl10("AviSynth+ 3.7.3 (r4003, 3.7, x86_64)"));
    EXPECT_FALSE(VersionStringNamesIcl10("AviSynth (ICL11)"));
    EXPECT_FALSE(VersionStringNamesIcl10(""));
    EXPECT_TRUE(VersionStringNamesIcl10(std::string(0xFFFE, 'x') + "(ICL10)"));
    EXPECT_FALSE(VersionStringNamesIcl10(std::string(0xFFFF, 'x') + "(ICL10)"));
    EXPECT_STREQ(kIcl10LinkerVersion, "6.0 (ICL 10.1)");
}
