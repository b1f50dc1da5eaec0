// Facts about the installed frame-server library, gathered once at start-up.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The largest library file the installation check reads (it is read whole):
// far beyond any frame-server library, debug information included.
constexpr uint64_t kLibraryFileLimit = 512u << 20;

class CAvisynthInfo {
public:
    CAvisynthInfo();
    virtual ~CAvisynthInfo();

    // Inspects the library named by `libraryPath` (empty: the default name).
    // Non-zero on success; on failure 0 with `errorText` set.
    int Query(std::string& errorText, std::string libraryPath);
    // Highest interface version (5..7) the library accepts; 0 with errorText.
    int ProbeInterfaceVersion(std::string& errorText, std::string libraryPath);
    std::string FileTimeStamp(const std::string& path);
    // The folders the frame server loads plug-ins from on its own, in its
    // order: those it names ("ListAutoloadDirs", AviSynth+ 3.7.4 and later)
    // that exist, each labelled by where it comes from; without its list,
    // the folders its older versions use.
    void ReadPluginDirs(const std::optional<std::vector<std::string>>& listed);
    // The plug-in directory entries, the tab after each label's colon
    // replaced by `gap` (see PluginDirDisplayLine).
    std::vector<std::string> PluginDirDisplayLines(const std::string& gap) const;
    // Has the frame server load the plug-ins of its auto-load folders, as it
    // does for a script's first function it lacks, in a session of its own;
    // what ends that load is kept in PluginLoadFailure (after a fault, which
    // names no file, with the plug-ins whose bytes make no library).
    void CheckPluginLoading(const std::string& libraryPath);

    bool MTSupport = false;
    int32_t InterfaceVersion = 0;
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

// "Month day, year, hh:mm:ss" of a local time; "???" as the month name when
// the month is not 1..12.
std::string FormatFileTimeStamp(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                                unsigned second);

// A plug-in directory entry (label, ":", tab, directory) with the text up to
// and including the first ":" that precedes a tab, then `gap` in place of the
// tab, then the directory. Entries without ":\t" come back unchanged.
std::string PluginDirDisplayLine(const std::string& entry, const std::string& gap);

// The lines of the "-avsinfo" report, without line ends. `toOem` converts the
// location and the plug-in lines for the console.
std::vector<std::string> AvisynthReportLines(const CAvisynthInfo& info,
                                             const std::function<std::string(const std::string&)>& toOem);

// Prints AvisynthReportLines on standard output in the report colour.
void PrintAvisynthReport(const CAvisynthInfo& info);
