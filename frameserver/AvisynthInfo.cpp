#include "frameserver/AvisynthInfo.h"

#include <vector>

#include "frameserver/ImageInspect.h"
#include "frameserver/Session.h"
#include "platform/Platform.h"
#include "support/Console.h"
#include "support/SEException.h"
#include "support/Text.h"

// Two texts of the reports keep their odd spellings on purpose: the month
// "Febuary" of the time stamp and the label "Muli-threading support:". Other
// tools parse these reports and look for the texts exactly as they are.

namespace {

const char kUnknownVersion[] = "Unknown Avisynth Version";
const char kCannotLoad[] = "Cannot load avisynth.dll";
const char kCannotUnload[] = "Cannot unload avisynth.dll";
const char kCannotOpen[] = "Cannot open avisynth.dll";
// The label of an auto-load folder that none of the known places names.
const char kOtherPluginFolder[] = "PluginDir     (other):\t";

std::string LoadFailureText() { return WithSystemErrorText(kCannotLoad); }

// The loader of each platform reads its own image format.
ImageFacts InspectNativeImage(const std::vector<uint8_t>& image, std::string& linkerVersion) {
    if (platform::NativeLibraryFormat() == platform::ImageFormat::PE) {
        ImageFacts facts = InspectPEImage(image.data(), image.size());
        linkerVersion = facts.LinkerVersion + CompilerLabel(facts.LinkerVersion);
        return facts;
    }
    ImageFacts facts = InspectELFImage(image.data(), image.size());
    linkerVersion = facts.LinkerVersion;
    return facts;
}

enum class QueryEnd {
    Done,
    Failed,         // errorText says why
    Faulted,        // failed with a processor fault; errorText says which
    NoEnvironment,  // no library or no environment; errorText says why
};

// One short session of the installation query: load, an environment of
// `interfaceVersion`, work(session), release the environment, unload.
template <class Work>
QueryEnd RunQuerySession(const std::string& libraryPath, int interfaceVersion, const char* noEnvironmentText,
                         std::string& errorText, Work&& work) {
    FrameServerContext session;
    if (!session.Load(libraryPath)) {
        errorText = WithSystemErrorText(kCannotLoad);
        return QueryEnd::NoEnvironment;
    }
    EnvironmentOutcome outcome = EnvironmentOutcome::Ready;
    const RegionResult region = RunFrameServerRegion(
        [&] {
            outcome = session.CreateEnvironment(interfaceVersion);
            if (outcome != EnvironmentOutcome::Ready) return;
            work(session);
            session.ReleaseScript();
        },
        LoadFailureText);
    QueryEnd end = QueryEnd::Done;
    if (region.Failed()) {
        end = region.End == RegionEnd::ProcessorFault ? QueryEnd::Faulted : QueryEnd::Failed;
        errorText = region.Text;
    }
    if (outcome != EnvironmentOutcome::Ready) {
        errorText = outcome == EnvironmentOutcome::NoFactory ? "Failed to load CreateScriptEnvironment()"
                                                             : noEnvironmentText;
        session.Unload();
        return QueryEnd::NoEnvironment;
    }
    if (!session.UnloadAfter(region.End, true)) {
        end = QueryEnd::Failed;
        errorText = WithSystemErrorText(kCannotUnload);
    }
    return end;
}

// Whether the frame server offers a function, asked without loading its
// plug-ins where it can tell. An older frame server is asked FunctionExists,
// which may load them: one that cannot be loaded makes the answer no, its
// message kept in `pluginFailure`, instead of failing the query.
bool OffersFunction(FrameServerContext& session, const char* name, std::string& pluginFailure) {
    switch (session.HasBuiltIn(name)) {
    case BuiltIn::Yes: return true;
    case BuiltIn::No: return false;
    case BuiltIn::Unknown: break;
    }
    try {
        return session.FunctionExists(name);
    } catch (FrameServerError& error) {
        pluginFailure = error.Message;
        return false;
    }
}

// A fault names no file: the plug-ins of the folders whose bytes make no
// library of this system ("; path: reason" each), found without running
// anything of theirs.
std::string DamagedPlugins(const std::vector<std::string>& folders) {
    const bool pe = platform::NativeLibraryFormat() == platform::ImageFormat::PE;
    const std::string extension = pe ? ".dll" : ".so";
    std::string damaged;
    for (const std::string& folder : folders)
        for (const std::string& name : platform::FolderEntryNames(folder)) {
            if (name.size() <= extension.size()) continue;
            std::string ending = name.substr(name.size() - extension.size());
            if (platform::FileNamesIgnoreCase()) ToLowerText(ending);
            std::vector<uint8_t> image;
            const std::string path = folder + "/" + name;
            if (ending != extension ||
                platform::ReadRegularFile(path, kLibraryFileLimit, image) != platform::FileRead::Done)
                continue;
            std::string linkerVersion;
            const ImageFacts facts = InspectNativeImage(image, linkerVersion);
            if (!facts.Valid || !facts.ErrorText.empty())
                damaged += "; " + platform::NativePathText(path) + ": " + facts.ErrorText;
        }
    return damaged;
}

}  // namespace

CAvisynthInfo::CAvisynthInfo() = default;
CAvisynthInfo::~CAvisynthInfo() = default;

int CAvisynthInfo::Query(std::string& errorText, std::string libraryPath) {
    DLLLocation.clear();
    FileVersion.clear();
    LinkerVersion.clear();
    TimeStamp.clear();
    FrameServerVersion = kUnknownVersion;
    MTSupport = false;
    InterfaceVersion = 0;
    Is64Bit = false;
    DLLNotFound = false;
    PluginLoadFailure.clear();
    errorText.clear();
    std::optional<std::vector<std::string>> listed;
    const std::string name = FrameServerLibraryName(libraryPath);

    // The image of the file the loader would pick, read as bytes.
    platform::ClearSystemError();
    std::string moduleName;
    std::vector<uint8_t> image;
    if (!platform::ResolveLibraryFile(name, moduleName) ||
        platform::ReadRegularFile(moduleName, kLibraryFileLimit, image) != platform::FileRead::Done) {
        DLLNotFound = true;
        errorText = WithSystemErrorText(kCannotLoad);
        return 0;
    }

    ImageFacts facts;
    std::string linkerVersion;
    const RegionResult inspected = RunFrameServerRegion([&] { facts = InspectNativeImage(image, linkerVersion); },
                                                        LoadFailureText);
    if (inspected.Failed()) {
        errorText = inspected.Text;
        return 0;
    }
    // The bytes are not needed past this point (the mapping would be closed here).
    image.clear();
    image.shrink_to_fit();
    // Not an image at all: the system's image mapping would have refused it,
    // so it counts as not found rather than as a 32-bit library.
    if (!facts.Valid) {
        DLLNotFound = true;
        errorText = std::string(kCannotLoad) + "\n" + facts.ErrorText;
        return 0;
    }
    if (!facts.Is64Bit) {
        errorText = kCannotLoad;
        return 0;
    }
    Is64Bit = true;
    LinkerVersion = linkerVersion;
    if (!facts.ErrorText.empty()) {
        errorText = std::string(kCannotLoad) + "\n" + facts.ErrorText;
        return 0;
    }

    // Location. When no canonical form can be had the resolved path stands,
    // so that the version and time stamp below describe this library.
    const RegionResult located = RunFrameServerRegion(
        [&] {
            std::string location = moduleName;
            if (!platform::CanonicalFilePath(moduleName, location) || location.empty()) location = moduleName;
            DLLLocation = location;
        },
        [] { return WithSystemErrorText(kCannotOpen); });
    if (located.Failed()) {
        errorText = located.Text;
        return 0;
    }

    FileVersion = GetFileVersionText(DLLLocation);
    // Any library can be named in the settings: one without a factory is no
    // frame server at all, however old.
    if (!facts.HasLinkageExport && !facts.HasFactoryExport) {
        errorText = FormatText("The library exports no frame-server interface:\n%s", DLLLocation.c_str());
        return 0;
    }
    if (!facts.HasLinkageExport) {
        errorText = FormatText("Avisynth version is too old (%s).\nPlease update to Avisynth 2.6 or Avisynth+.",
                               FileVersion.c_str());
        return 0;
    }
    TimeStamp = FileTimeStamp(DLLLocation);

    InterfaceVersion = ProbeInterfaceVersion(errorText, libraryPath);
    if (InterfaceVersion == 0) return 0;

    const QueryEnd queried =
        RunQuerySession(libraryPath, InterfaceVersion, "Could not create IScriptenvironment", errorText,
                        [&](FrameServerContext& session) {
                            if (!session.CallTextFunction("VersionString", FrameServerVersion))
                                FrameServerVersion = kUnknownVersion;
                            if (VersionStringNamesIcl10(FrameServerVersion)) LinkerVersion = kIcl10LinkerVersion;
                            MTSupport = OffersFunction(session, "SetMTMode", PluginLoadFailure) ||
                                        OffersFunction(session, "Prefetch", PluginLoadFailure);
                            std::string folders;
                            if (session.HasBuiltIn("ListAutoloadDirs") == BuiltIn::Yes &&
                                session.CallTextFunction("ListAutoloadDirs", folders))
                                listed = SplitLines(folders);
                        });
    if (queried == QueryEnd::NoEnvironment) return 0;
    ReadPluginDirs(listed);
    return queried == QueryEnd::Done ? 1 : 0;
}

int CAvisynthInfo::ProbeInterfaceVersion(std::string& errorText, std::string libraryPath) {
    errorText.clear();
    int version = 0;
    const QueryEnd probed = RunQuerySession(
        libraryPath, 5, "Could not create IScriptenvironment (AVISYNTH_INTERFACE_VERSION = 5)", errorText,
        [&](FrameServerContext& session) {
            // A refusal only ends the climb; the last accepted version stands.
            version = 5;
            if (session.AcceptsVersion(6)) {
                version = 6;
                if (session.AcceptsVersion(7)) version = 7;
            }
        });
    return probed == QueryEnd::Done ? version : 0;
}

std::string CAvisynthInfo::FileTimeStamp(const std::string& path) {
    platform::LocalTime time;
    if (!platform::FileLastWriteTime(path, time)) return "???";
    return FormatFileTimeStamp(time.year, time.month, time.day, time.hour, time.minute, time.second);
}

void CAvisynthInfo::ReadPluginDirs(const std::optional<std::vector<std::string>>& listed) {
    const std::vector<platform::PluginFolderSource> sources = platform::PluginFolderSources(Is64Bit, DLLLocation);
    std::vector<std::string> folders;
    if (listed) {
        folders = *listed;
    } else {
        for (const platform::PluginFolderSource& source : sources)
            if (source.Older) folders.push_back(source.Folder);
    }
    PluginDirLines.clear();
    PluginFolders.clear();
    for (std::string folder : folders) {
        // "/a/b/" as the frame server writes it; a root ("/", "C:/") as it is.
        if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\') && folder[folder.size() - 2] != ':')
            folder.pop_back();
        if (platform::InspectFile(folder).Kind != platform::FileKind::Directory) continue;
        // A folder named twice (an entry of LD_LIBRARY_PATH beside the
        // library) is searched twice to no effect: listed once.
        bool repeated = false;
        for (const std::string& earlier : PluginFolders) repeated = repeated || platform::SameFile(earlier, folder);
        if (repeated) continue;
        PluginFolders.push_back(folder);
        std::string line = std::string(kOtherPluginFolder) + platform::NativePathText(folder);
        for (const platform::PluginFolderSource& source : sources)
            if (platform::SameFile(source.Folder, folder)) {
                line = source.Label + source.Folder;
                break;
            }
        PluginDirLines.push_back(line);
    }
}

std::vector<std::string> CAvisynthInfo::PluginDirDisplayLines(const std::string& gap) const {
    std::vector<std::string> lines;
    for (const std::string& entry : PluginDirLines) lines.push_back(PluginDirDisplayLine(entry, gap));
    return lines;
}

void CAvisynthInfo::CheckPluginLoading(const std::string& libraryPath) {
    std::string failure;
    const QueryEnd checked = RunQuerySession(libraryPath, InterfaceVersion, "Could not create IScriptenvironment",
                                             failure, [](FrameServerContext& session) {
                                                 std::string none;
                                                 if (session.HasBuiltIn("AutoloadPlugins") == BuiltIn::Yes)
                                                     session.CallTextFunction("AutoloadPlugins", none);
                                             });
    if (checked == QueryEnd::Failed) PluginLoadFailure = failure;
    if (checked == QueryEnd::Faulted) PluginLoadFailure = failure + DamagedPlugins(PluginFolders);
}

std::string FormatFileTimeStamp(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                                unsigned second) {
    static const char* const kMonths[] = {"January", "Febuary", "March",     "April",   "May",      "June",
                                          "July",    "August",  "September", "October", "November", "December"};
    const char* monthName = month >= 1 && month <= 12 ? kMonths[month - 1] : "???";
    return FormatText("%s %u, %u, %02u:%02u:%02u", monthName, day, year, hour, minute, second);
}

std::string PluginDirDisplayLine(const std::string& entry, const std::string& gap) {
    const size_t colon = entry.find(":\t");
    if (colon == std::string::npos) return entry;
    return entry.substr(0, colon + 1) + gap + entry.substr(colon + 2);
}

std::vector<std::string> AvisynthReportLines(const CAvisynthInfo& info,
                                             const std::function<std::string(const std::string&)>& toOem) {
    std::vector<std::string> lines;
    lines.push_back(FormatText("Avisynth version string:     %s", info.FrameServerVersion.c_str()));
    lines.push_back(FormatText("File version:                %s", info.FileVersion.c_str()));
    lines.push_back(FormatText("Avisynth Interface Version:  %d", info.InterfaceVersion));
    lines.push_back(FormatText("Muli-threading support:      %s", info.MTSupport ? "Yes" : "No"));
    lines.push_back(FormatText("Linker/compiler version:     %s", info.LinkerVersion.c_str()));
    lines.push_back(FormatText("Avisynth DLL location:       %s", toOem(info.DLLLocation).c_str()));
    lines.push_back(FormatText("Avisynth DLL time stamp:     %s", info.TimeStamp.c_str()));
    for (const std::string& line : info.PluginDirDisplayLines("   ")) lines.push_back(toOem(line));
    if (!info.PluginLoadFailure.empty()) {
        // The frame server's message can take several lines: one here.
        std::string failure;
        for (const std::string& part : SplitLines(info.PluginLoadFailure)) {
            std::string trimmed = part;
            TrimText(trimmed);
            if (!trimmed.empty()) failure += (failure.empty() ? "" : " ") + trimmed;
        }
        lines.push_back(toOem("Plug-in auto-load failed:    " + failure));
    }
    return lines;
}

void PrintAvisynthReport(const CAvisynthInfo& info) {
    for (const std::string& line : AvisynthReportLines(info, ToOemText))
        ConsolePrint(platform::Stream::Out, ColourReport, "%s\n", line.c_str());
}
