// Dynamic libraries: loading them, finding the frame server's file, its
// version and its plug-in folders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The library name used when none is configured: "avisynth" on Windows,
// "libavisynth.so" on POSIX.
const char* DefaultFrameServerLibrary();

// The image format of the libraries the system's loader takes.
enum class ImageFormat { PE, ELF };
ImageFormat NativeLibraryFormat();

// (Not named LoadLibrary/FreeLibrary: those are macros in the Windows headers.)
void* LoadDynamicLibrary(const std::string& name);
void* DynamicSymbol(void* library, const char* name);
bool FreeDynamicLibrary(void* library);

// The file the loader would use for `name`: a path as given, a bare name
// through the system's search. False when it cannot be found.
bool ResolveLibraryFile(const std::string& name, std::string& path);

// The four parts of a file version. An empty name means the program itself.
// False when there is none.
bool FileVersion(const std::string& fileName, uint16_t parts[4]);

// A place the frame server takes a plug-in auto-load folder from: the label
// that says which (label, ":", tab) and the folder it names there (the
// registry's text, or the path formed).
struct PluginFolderSource {
    std::string Label;
    std::string Folder;
    // Read by the frame server's versions that do not name their folders.
    bool Older = true;
};

// The places AviSynth+ 3.7.5 builds its auto-load list from, in its order.
// POSIX: ~/.avisynth, ~/.local/lib/avisynth, "avisynth" in every entry of
// LD_LIBRARY_PATH, "avisynth" beside the library (`libraryPath`). Windows,
// the registry key Software\Avisynth in the view of `is64Bit`: "PluginDir+"
// of HKCU and HKLM, then "PluginDir2_5" of HKCU and HKLM (builds made with
// MSVC), and "PluginDir+GCC" of HKCU and HKLM (builds made with GCC, which
// read no other value); only the values present.
std::vector<PluginFolderSource> PluginFolderSources(bool is64Bit, const std::string& libraryPath);

}  // namespace platform
