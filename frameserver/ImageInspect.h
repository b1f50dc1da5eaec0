// Reads the facts the installation check needs straight from the bytes of a
// library file: PE images (Windows) and ELF images (Linux). The parsers never
// read outside the buffer they are given; a damaged image yields a failure
// text instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ImageFacts {
    // The headers and the section table could be read. When false the file
    // is not a usable image at all and ErrorText says why.
    bool Valid = false;
    // PE machine AMD64 or IA64; ELF class 64 with machine x86-64 or AArch64.
    bool Is64Bit = false;
    // PE: "%u.%u" of the optional header's linker version (no compiler
    // label). ELF: the first string of the .comment section, empty when the
    // section is absent. Only filled for 64-bit images.
    std::string LinkerVersion;
    // Some exported name contains "avs_linkage" once lower-cased. Only looked
    // for in 64-bit images.
    bool HasLinkageExport = false;
    // It exports one of the frame server's factories ("CreateScriptEnvironment"
    // or "avs_create_script_environment"): a frame server, if perhaps an old
    // one. Only looked for in 64-bit images.
    bool HasFactoryExport = false;
    // Empty when the image could be read in full; otherwise what is damaged.
    // A Valid image can still carry a text here (a damaged export table).
    std::string ErrorText;
};

ImageFacts InspectPEImage(const uint8_t* data, size_t size);
ImageFacts InspectELFImage(const uint8_t* data, size_t size);

// The label that names the compiler behind a PE linker version text such as
// "14.0" (" (VS2015)"); empty when the version is not one of the known ones.
std::string CompilerLabel(const std::string& linkerVersion);

// True when "(ICL10)" appears in the frame server's version string after its
// first two characters: such a build was made with the Intel compiler 10.1.
bool VersionStringNamesIcl10(const std::string& versionString);

// The linker text shown for builds recognised by VersionStringNamesIcl10.
extern const char* const kIcl10LinkerVersion;
