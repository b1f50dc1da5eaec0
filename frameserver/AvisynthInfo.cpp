#include "frameserver/AvisynthInfo.h"

#include <vector>

#include "frameserver/Avisynth.h"
#include "frameserver/FrameServer.h"
#include "frameserver/ImageInspect.h"
#include "platform/Platform.h"
#include "support/Console.h"
#include "support/SEException.h"
#include "support/Text.h"

CAvisynthInfo AvisynthInfo;

namespace {

const char kUnknownVersion[] = "Unknown Avisynth Version";
const char kCannotLoad[] = "Cannot load avisynth.dll";
const char kCannotUnload[] = "Cannot unload avisynth.dll";
const char kCannotOpen[] = "Cannot open avisynth.dll";

std::string LoadFailureText() { return WithSystemErrorText(kCannotLoad); }

// The loader of each platform reads its own image format.
ImageFacts InspectNativeImage(const std::vector<uint8_t>& image, std::string& linkerVersion) {
#if defined(_WIN32)
    ImageFacts facts = InspectPEImage(image.data(), image.size());
    linkerVersion = facts.LinkerVersion + CompilerLabel(facts.LinkerVersion);
#else
    ImageFacts facts = InspectELFImage(image.data(), image.size());
    linkerVersion = facts.LinkerVersion;
#endif
    return facts;
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
    MTSupport = 0;
    InterfaceVersion = 0;
    Is64Bit = 0;
    DLLNotFound = 0;
    errorText.clear();
    int result = 1;
    const std::string name = FrameServerLibraryName(libraryPath);

    // The image of the file the loader would pick, read as bytes.
    platform::ClearSystemError();
    std::string moduleName;
    std::vector<uint8_t> image;
    if (!platform::ResolveLibraryFile(name, moduleName) || !platform::ReadWholeFile(moduleName, image)) {
        DLLNotFound = 1;
        errorText = WithSystemErrorText(kCannotLoad);
        return 0;
    }

    ImageFacts facts;
    std::string linkerVersion;
    if (!RunFrameServerRegion([&] { facts = InspectNativeImage(image, linkerVersion); }, errorText,
                              LoadFailureText))
        return 0;
    // The bytes are not needed past this point (the mapping would be closed here).
    image.clear();
    image.shrink_to_fit();
    // Not an image at all: the system's image mapping would have refused it,
    // so it counts as not found rather than as a 32-bit library.
    if (!facts.Valid) {
        DLLNotFound = 1;
        errorText = std::string(kCannotLoad) + "\n" + facts.ErrorText;
        return 0;
    }
    if (!facts.Is64Bit) {
        errorText = kCannotLoad;
        return 0;
    }
    Is64Bit = 1;
    LinkerVersion = linkerVersion;
    if (!facts.ErrorText.empty()) {
        errorText = std::string(kCannotLoad) + "\n" + facts.ErrorText;
        return 0;
    }

    // Location. When no canonical form can be had the resolved path stands,
    // so that the version and time stamp below describe this library.
    const bool located = RunFrameServerRegion(
        [&] {
            std::string location = moduleName;
            if (!platform::CanonicalFilePath(moduleName, location) || location.empty()) location = moduleName;
            DLLLocation = location;
        },
        errorText, [] { return WithSystemErrorText(kCannotOpen); });
    if (!located) return 0;

    FileVersion = GetFileVersionText(DLLLocation);
    if (!facts.HasLinkageExport) {
        errorText = FormatText("Avisynth version is too old (%s).\nPlease update to Avisynth 2.6 or Avisynth+.",
                               FileVersion.c_str());
        return 0;
    }
    TimeStamp = FileTimeStamp(DLLLocation);

    InterfaceVersion = ProbeInterfaceVersion(errorText, libraryPath);
    if (InterfaceVersion == 0) return 0;

    void* library = platform::LoadDynamicLibrary(name);
    if (!library) {
        errorText = WithSystemErrorText(kCannotLoad);
        return 0;
    }

    EnvironmentOutcome outcome = EnvironmentOutcome::Ready;
    const bool queried = RunFrameServerRegion(
        [&] {
            IScriptEnvironment* environment = CreateEnvironment(library, InterfaceVersion, outcome);
            if (!environment) return;
            AVS_linkage = environment->GetAVSLinkage();

            AVSValue version;
            try {
                version = environment->Invoke("VersionString", AVSValue(nullptr, 0));
                const char* text = version.AsString();
                FrameServerVersion = text ? FormatText("%s", text) : std::string(kUnknownVersion);
            } catch (IScriptEnvironment::NotFound&) {
                FrameServerVersion = kUnknownVersion;
            }
            if (VersionStringNamesIcl10(FrameServerVersion)) LinkerVersion = kIcl10LinkerVersion;
            MTSupport = environment->FunctionExists("SetMTMode") || environment->FunctionExists("Prefetch") ? 1 : 0;

            version = AVSValue(0);
            platform::SleepMs(100);
            environment->DeleteScriptEnvironment();
        },
        errorText, LoadFailureText);
    if (!queried) result = 0;
    if (outcome != EnvironmentOutcome::Ready) {
        errorText = outcome == EnvironmentOutcome::NoFactory ? "Failed to load CreateScriptEnvironment()"
                                                             : "Could not create IScriptenvironment";
        AVS_linkage = nullptr;
        platform::FreeDynamicLibrary(library);
        return 0;
    }

    AVS_linkage = nullptr;
    if (!platform::FreeDynamicLibrary(library)) {
        result = 0;
        errorText = WithSystemErrorText(kCannotUnload);
    }
    platform::SleepMs(50);
    ReadPluginDirs();
    return result;
}

int CAvisynthInfo::ProbeInterfaceVersion(std::string& errorText, std::string libraryPath) {
    errorText.clear();
    void* library = platform::LoadDynamicLibrary(FrameServerLibraryName(libraryPath));
    if (!library) {
        errorText = WithSystemErrorText(kCannotLoad);
        return 0;
    }

    int version = 0;
    EnvironmentOutcome outcome = EnvironmentOutcome::Ready;
    const bool probed = RunFrameServerRegion(
        [&] {
            IScriptEnvironment* environment = CreateEnvironment(library, 5, outcome);
            if (!environment) return;
            version = 5;
            // A refusal only ends the climb; the last accepted version stands.
            try {
                environment->CheckVersion(6);
                version = 6;
                environment->CheckVersion(7);
                version = 7;
            } catch (AvisynthError&) {
            }
            platform::SleepMs(100);
            environment->DeleteScriptEnvironment();
        },
        errorText, LoadFailureText);
    if (!probed) version = 0;
    if (outcome != EnvironmentOutcome::Ready) {
        errorText = outcome == EnvironmentOutcome::NoFactory
                        ? "Failed to load CreateScriptEnvironment()"
                        : "Could not create IScriptenvironment (AVISYNTH_INTERFACE_VERSION = 5)";
        platform::FreeDynamicLibrary(library);
        return 0;
    }

    if (!platform::FreeDynamicLibrary(library)) {
        version = 0;
        errorText = WithSystemErrorText(kCannotUnload);
    }
    platform::SleepMs(50);
    return version;
}

std::string CAvisynthInfo::FileTimeStamp(const std::string& path) {
    platform::LocalTime time;
    if (!platform::FileLastWriteTime(path, time)) return "???";
    return FormatFileTimeStamp(time.year, time.month, time.day, time.hour, time.minute, time.second);
}

void CAvisynthInfo::ReadPluginDirs() {
    PluginDirLines = platform::PluginDirectoryLines(Is64Bit != 0, DLLLocation);
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
    const size_t count = info.PluginDirCount < info.PluginDirLines.size() ? info.PluginDirCount
                                                                          : info.PluginDirLines.size();
    for (size_t slot = 0; slot < count; ++slot)
        if (!info.PluginDirLines[slot].empty())
            lines.push_back(toOem(PluginDirDisplayLine(info.PluginDirLines[slot], "   ")));
    return lines;
}

void PrintAvisynthReport(const CAvisynthInfo& info) {
    for (const std::string& line : AvisynthReportLines(info, ToOemText))
        ConsolePrint(1, ColourReport, "%s\n", line.c_str());
}
