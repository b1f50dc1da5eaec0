#include "frameserver/AvisynthInfo.h"

#include <vector>

#include "frameserver/ImageInspect.h"
#include "frameserver/Session.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Library.h"
#include "support/Console.h"
#include "support/SEException.h"
#include "support/Text.h"

// The month "Febuary" of the time stamp keeps its odd spelling on purpose
// (as does a label of the report, report/FrameServerReport.cpp): other tools
// parse the reports and look for the texts exactly as they are.

namespace {

const char kUnknownVersion[] = "Unknown Avisynth Version";
const char kCannotOpen[] = "Cannot open avisynth.dll";
// The label of an auto-load folder that none of the known places names.
const char kOtherPluginFolder[] = "PluginDir     (other):\t";

std::string LoadFailureText() { return WithSystemErrorText(kCannotLoadLibrary); }

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

// One short session of the installation query: work(session) in a session
// of `interfaceVersion`, then the environment released and the library
// unloaded. `noEnvironment` is added to the text of an environment that was
// not created.
template <class Work>
QueryEnd RunQuerySession(const std::string& libraryPath, int interfaceVersion, const char* noEnvironment,
                         std::string& errorText, Work&& work) {
    const OpenedSession opened = OpenSession(libraryPath, interfaceVersion);
    switch (opened.Failure) {
    case OpenFailure::None: break;
    case OpenFailure::Failed: errorText = opened.Text; return QueryEnd::Failed;
    case OpenFailure::Faulted: errorText = opened.Text; return QueryEnd::Faulted;
    case OpenFailure::NoEnvironment: errorText = opened.Text + noEnvironment; return QueryEnd::NoEnvironment;
    case OpenFailure::NoLibrary:
    case OpenFailure::NoFactory: errorText = opened.Text; return QueryEnd::NoEnvironment;
    }
    FrameServerContext& session = *opened.Session;
    const SessionResult queried = RunSession(
        session,
        [&] {
            work(session);
            session.ReleaseScript();
        },
        LoadFailureText);
    QueryEnd end = QueryEnd::Done;
    if (queried.Work.Failed()) {
        end = queried.Work.How == RunEnding::Kind::Fault ? QueryEnd::Faulted : QueryEnd::Failed;
        errorText = queried.Work.Message;
    }
    if (!queried.UnloadFailure.empty()) {
        end = QueryEnd::Failed;
        errorText = queried.UnloadFailure;
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

int QueryFrameServer(FrameServerFacts& facts, std::string& errorText, const std::string& libraryPath) {
    facts.DLLLocation.clear();
    facts.FileVersion.clear();
    facts.LinkerVersion.clear();
    facts.TimeStamp.clear();
    facts.FrameServerVersion = kUnknownVersion;
    facts.MTSupport = false;
    facts.InterfaceVersion = 0;
    facts.Is64Bit = false;
    facts.DLLNotFound = false;
    facts.PluginLoadFailure.clear();
    errorText.clear();
    std::optional<std::vector<std::string>> listed;
    const std::string name = FrameServerLibraryName(libraryPath);

    // The image of the file the loader would pick, read as bytes.
    platform::ClearSystemError();
    std::string moduleName;
    std::vector<uint8_t> image;
    if (!platform::ResolveLibraryFile(name, moduleName) ||
        platform::ReadRegularFile(moduleName, kLibraryFileLimit, image) != platform::FileRead::Done) {
        facts.DLLNotFound = true;
        errorText = WithSystemErrorText(kCannotLoadLibrary);
        return 0;
    }

    ImageFacts imageFacts;
    std::string linkerVersion;
    const RunEnding inspected = RunFrameServerRegion([&] { imageFacts = InspectNativeImage(image, linkerVersion); },
                                                        LoadFailureText);
    if (inspected.Failed()) {
        errorText = inspected.Message;
        return 0;
    }
    // The bytes are not needed past this point (the mapping would be closed here).
    image.clear();
    image.shrink_to_fit();
    // Not an image at all: the system's image mapping would have refused it,
    // so it counts as not found rather than as a 32-bit library.
    if (!imageFacts.Valid) {
        facts.DLLNotFound = true;
        errorText = std::string(kCannotLoadLibrary) + "\n" + imageFacts.ErrorText;
        return 0;
    }
    if (!imageFacts.Is64Bit) {
        errorText = kCannotLoadLibrary;
        return 0;
    }
    facts.Is64Bit = true;
    facts.LinkerVersion = linkerVersion;
    if (!imageFacts.ErrorText.empty()) {
        errorText = std::string(kCannotLoadLibrary) + "\n" + imageFacts.ErrorText;
        return 0;
    }

    // Location. When no canonical form can be had the resolved path stands,
    // so that the version and time stamp below describe this library.
    const RunEnding located = RunFrameServerRegion(
        [&] {
            std::string location = moduleName;
            if (!platform::CanonicalFilePath(moduleName, location) || location.empty()) location = moduleName;
            facts.DLLLocation = location;
        },
        [] { return WithSystemErrorText(kCannotOpen); });
    if (located.Failed()) {
        errorText = located.Message;
        return 0;
    }

    facts.FileVersion = GetFileVersionText(facts.DLLLocation);
    // Any library can be named in the settings: one without a factory is no
    // frame server at all, however old.
    if (!imageFacts.HasLinkageExport && !imageFacts.HasFactoryExport) {
        errorText = FormatText("The library exports no frame-server interface:\n%s", facts.DLLLocation.c_str());
        return 0;
    }
    if (!imageFacts.HasLinkageExport) {
        errorText = FormatText("Avisynth version is too old (%s).\nPlease update to Avisynth 2.6 or Avisynth+.",
                               facts.FileVersion.c_str());
        return 0;
    }
    facts.TimeStamp = FileTimeStamp(facts.DLLLocation);

    facts.InterfaceVersion = ProbeInterfaceVersion(errorText, libraryPath);
    if (facts.InterfaceVersion == 0) return 0;

    const QueryEnd queried =
        RunQuerySession(libraryPath, facts.InterfaceVersion, "", errorText,
                        [&](FrameServerContext& session) {
                            if (!session.CallTextFunction("VersionString", facts.FrameServerVersion))
                                facts.FrameServerVersion = kUnknownVersion;
                            if (VersionStringNamesIcl10(facts.FrameServerVersion)) facts.LinkerVersion = kIcl10LinkerVersion;
                            facts.MTSupport = OffersFunction(session, "SetMTMode", facts.PluginLoadFailure) ||
                                        OffersFunction(session, "Prefetch", facts.PluginLoadFailure);
                            std::string folders;
                            if (session.HasBuiltIn("ListAutoloadDirs") == BuiltIn::Yes &&
                                session.CallTextFunction("ListAutoloadDirs", folders))
                                listed = SplitLines(folders);
                        });
    if (queried == QueryEnd::NoEnvironment) return 0;
    ReadPluginDirs(facts, listed);
    return queried == QueryEnd::Done ? 1 : 0;
}

int ProbeInterfaceVersion(std::string& errorText, const std::string& libraryPath) {
    errorText.clear();
    int version = 0;
    const QueryEnd probed = RunQuerySession(
        libraryPath, 5, " (AVISYNTH_INTERFACE_VERSION = 5)", errorText,
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

std::string FileTimeStamp(const std::string& path) {
    platform::LocalTime time;
    if (!platform::FileLastWriteTime(path, time)) return "???";
    return FormatFileTimeStamp(time.year, time.month, time.day, time.hour, time.minute, time.second);
}

void ReadPluginDirs(FrameServerFacts& facts, const std::optional<std::vector<std::string>>& listed) {
    const std::vector<platform::PluginFolderSource> sources = platform::PluginFolderSources(facts.Is64Bit, facts.DLLLocation);
    std::vector<std::string> folders;
    if (listed) {
        folders = *listed;
    } else {
        for (const platform::PluginFolderSource& source : sources)
            if (source.Older) folders.push_back(source.Folder);
    }
    facts.PluginDirLines.clear();
    facts.PluginFolders.clear();
    for (std::string folder : folders) {
        // "/a/b/" as the frame server writes it; a root ("/", "C:/") as it is.
        if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\') && folder[folder.size() - 2] != ':')
            folder.pop_back();
        if (platform::InspectFile(folder).Kind != platform::FileKind::Directory) continue;
        // A folder named twice (an entry of LD_LIBRARY_PATH beside the
        // library) is searched twice to no effect: listed once.
        bool repeated = false;
        for (const std::string& earlier : facts.PluginFolders) repeated = repeated || platform::SameFile(earlier, folder);
        if (repeated) continue;
        facts.PluginFolders.push_back(folder);
        std::string line = std::string(kOtherPluginFolder) + platform::NativePathText(folder);
        for (const platform::PluginFolderSource& source : sources)
            if (platform::SameFile(source.Folder, folder)) {
                line = source.Label + source.Folder;
                break;
            }
        facts.PluginDirLines.push_back(line);
    }
}

void CheckPluginLoading(FrameServerFacts& facts, const std::string& libraryPath) {
    std::string failure;
    const QueryEnd checked = RunQuerySession(libraryPath, facts.InterfaceVersion, "", failure, [](FrameServerContext& session) {
                                                 std::string none;
                                                 if (session.HasBuiltIn("AutoloadPlugins") == BuiltIn::Yes)
                                                     session.CallTextFunction("AutoloadPlugins", none);
                                             });
    if (checked == QueryEnd::Failed) facts.PluginLoadFailure = failure;
    if (checked == QueryEnd::Faulted) facts.PluginLoadFailure = failure + DamagedPlugins(facts.PluginFolders);
}

std::string FormatFileTimeStamp(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                                unsigned second) {
    static const char* const kMonths[] = {"January", "Febuary", "March",     "April",   "May",      "June",
                                          "July",    "August",  "September", "October", "November", "December"};
    const char* monthName = month >= 1 && month <= 12 ? kMonths[month - 1] : "???";
    return FormatText("%s %u, %u, %02u:%02u:%02u", monthName, day, year, hour, minute, second);
}
