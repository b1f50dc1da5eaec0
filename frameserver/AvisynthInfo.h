// Facts about the installed frame-server library, gathered once at start-up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The largest library file the installation check reads (it is read whole):
// far beyond any frame-server library, debug information included.
constexpr uint64_t kLibraryFileLimit = 512u << 20;

// The installed frame server as the installation query found it: plain
// facts, for the console, the log and the JSON file (report/).
struct FrameServerFacts {
    bool MTSupport = false;
    int32_t InterfaceVersion = 0;
    // The auto-load folders, each "label:\tfolder" (see ReadPluginDirs).
    std::vector<std::string> PluginDirLines;
    std::vector<std::string> PluginFolders;  // the folders of those lines, as found
    // Why the frame server could not load the plug-ins of its auto-load
    // folders (its message, or the fault's); empty when it could or was not
    // asked to.
    std::string PluginLoadFailure;
    std::string DLLLocation;
    std::string LinkerVersion;
    std::string FileVersion;
    std::string FrameServerVersion;
    std::string TimeStamp;
    bool Is64Bit = false;
    bool DLLNotFound = false;
};

// Inspects the library named by `libraryPath` (empty: the default name) and
// fills `facts`. Non-zero on success; on failure 0 with `errorText` set.
int QueryFrameServer(FrameServerFacts& facts, std::string& errorText, const std::string& libraryPath);
// Highest interface version (5..7) the library accepts; 0 with errorText.
int ProbeInterfaceVersion(std::string& errorText, const std::string& libraryPath);
// The file's last write time as FormatFileTimeStamp gives it; "???" when it
// cannot be read.
std::string FileTimeStamp(const std::string& path);
// The folders the frame server loads plug-ins from on its own, in its
// order: those it names ("ListAutoloadDirs", AviSynth+ 3.7.4 and later)
// that exist, each labelled by where it comes from; without its list, the
// folders its older versions use.
void ReadPluginDirs(FrameServerFacts& facts, const std::optional<std::vector<std::string>>& listed);
// Has the frame server load the plug-ins of its auto-load folders, as it
// does for a script's first function it lacks, in a session of its own;
// what ends that load is kept in PluginLoadFailure (after a fault, which
// names no file, with the plug-ins whose bytes make no library).
void CheckPluginLoading(FrameServerFacts& facts, const std::string& libraryPath);

// "Month day, year, hh:mm:ss" of a local time; "???" as the month name when
// the month is not 1..12.
std::string FormatFileTimeStamp(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                                unsigned second);
