// The frame-server session (FrameServerContext): load the library, create an
// environment, the work (evaluate a script, read the clip's facts, request
// frames, call named functions, ask for version facts), release the script,
// unload. The installation query, the calibration and the main connection
// all open it with OpenSession and run their work in it with RunSession. It
// is built over one of the frame server's two interfaces (SessionClass.cpp,
// SessionC.cpp; the shared part is Session.cpp). Its users see no type of
// either interface: a frame-server error reaches them as FrameServerError
// with the message copied, so the library can be unloaded once the handler
// is over.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "frameserver/ParameterScan.h"
#include "measure/RunEnding.h"

// A frame-server error, its message copied out of the library's memory.
struct FrameServerError {
    std::string Message;
};

enum class ColourSpace { YV411, YV24, YV16, Y8, YV12, YUY2, RGB24, RGB32, Unknown, NoVideo };

// The clip's properties as plain values, read once after the script was
// evaluated.
struct ClipFacts {
    bool HasVideo = false;
    bool AudioOnly = false;         // audio and no video
    int32_t FrameCount = 0;         // as the clip reports it
    uint32_t FramesToRead = 0;      // 0 for an audio-only clip
    int64_t LengthMs = 0;           // play length; 0 for an audio-only clip
    int32_t Width = 0;
    int32_t Height = 0;
    uint32_t FpsNumerator = 0;
    uint32_t FpsDenominator = 0;
    bool TopFieldFirst = false;     // field-based with that parity
    bool BottomFieldFirst = false;
    ColourSpace Colour = ColourSpace::NoVideo;
    // The frame server's own name of a format the classic predicates do not
    // know ("PixelType"); empty otherwise.
    std::string PixelTypeName;
    int32_t AudioChannels = 0;
    int32_t SampleType = 0;         // the frame server's sample-type code
    int32_t SamplesPerSecond = 0;
    int64_t AudioSamples = 0;
    bool MTModeQueried = false;     // the frame server knows "GetMTMode"
    int32_t ActiveMTMode = 0;
};

// What a script must deliver; each text is a format with one %s for the
// script's path, raised as the frame server's own error.
struct ScriptChecks {
    const char* NotAClip = nullptr;
    const char* NoVideo = nullptr;   // null: not checked
    const char* NoFrames = nullptr;  // null: not checked
};

enum class EnvironmentOutcome { Ready, NoFactory, NoEnvironment };

// Whether the frame server has a function of its own, as it answers without
// loading the plug-ins of its auto-load folders.
enum class BuiltIn { Yes, No, Unknown };

class FrameSource;

// Runs f() as a guarded region that talks to the frame server: a processor
// fault becomes SE_Exception and a frame-server error FrameServerError.
// Frames between a fault and this call may be abandoned (see Guarded).
void FrameServerGuardedCall(void (*fn)(void*), void* context);
template <class F>
void FrameServerGuarded(F&& f) {
    using Callable = std::remove_reference_t<F>;
    FrameServerGuardedCall([](void* context) { (*static_cast<Callable*>(context))(); },
                           const_cast<void*>(static_cast<const void*>(&f)));
}

class FrameServerContext {
public:
    FrameServerContext();
    // Unloads a library that is still loaded, leaving its values alone.
    ~FrameServerContext();
    FrameServerContext(const FrameServerContext&) = delete;
    FrameServerContext& operator=(const FrameServerContext&) = delete;

    // Loads the library (the configured path, else the platform's name).
    bool Load(const std::string& libraryPath);
    // An exported name of the loaded library; null when there is none.
    void* LibrarySymbol(const char* name) const;
    // Creates the environment for an interface version (call it guarded)
    // and takes the library's linkage table.
    EnvironmentOutcome CreateEnvironment(int interfaceVersion);

    // Version facts. AcceptsVersion: the environment's version check passes.
    bool AcceptsVersion(int version);
    bool FunctionExists(const char* name);
    // Asked through AviSynth+'s "InternalFunctionExists", which loads no
    // plug-in (FunctionExists and a call of a name the frame server does not
    // have make it load every plug-in of its auto-load folders, and one that
    // cannot be loaded fails the call). Unknown where that function is
    // missing (frame servers older than AviSynth+).
    BuiltIn HasBuiltIn(const char* name);
    // Calls a function without arguments; false when there is none of that
    // name or it gave no text.
    bool CallTextFunction(const char* name, std::string& text);

    // Imports the script, checks it and applies the multi-threading
    // convention: ask "GetMTMode" (unless the frame server says it has none
    // of its own) and, for modes 1 to 4 when allowed, let "Distributor" wrap
    // the result. Then reads the clip's facts.
    void Evaluate(const std::string& scriptPath, const ScriptChecks& checks, bool invokeDistributor);
    // Evaluates `text` as the frame server's Import evaluates the file
    // `scriptPath` (AviSynth+ 3.7.5): the script-name globals set as Import
    // sets them (ImportGlobalsOf), those that Import sets back made void
    // again afterwards, as a first Import leaves them; the working folder the script's folder while the
    // text is evaluated; errors naming `scriptPath` and its lines. Nothing
    // is written. Then the checks, the convention and the facts as Evaluate.
    void EvaluateText(const std::string& scriptPath, const std::string& text, const ScriptChecks& checks,
                      bool invokeDistributor);
    // Sets the script-level global `name` to the value, typed as its form
    // says, for the scripts evaluated after it (a parameter scan). A string
    // is copied into the frame server's own store, which outlives the
    // evaluation; the frame server's refusal is its error.
    void SetGlobal(const std::string& name, const ScanValue& value);
    const ClipFacts& Facts() const;
    // Raises a frame-server error formatted by the frame server (one %s).
    [[noreturn]] void RaiseError(const char* format, const std::string& argument);
    // The frames of the evaluated clip.
    FrameSource Frames() const;

    // Drops every reference and deletes the environment (after a pause,
    // see SettlesThreads).
    void ReleaseScript();
    // The remaining values go through the library's table, then Unload
    // (settled).
    bool Close();
    // Clears the linkage pointer and unloads the library (after an error the
    // values are abandoned). With settle, pauses afterwards (see
    // SettlesThreads). False when the system refused to unload it.
    bool Unload(bool settle = false);
    // Ends the session after a region that failed with `end`, as far as the
    // interface allows (see the implementations); true unless the system
    // refused to unload the library.
    bool UnloadAfter(RunEnding::Kind end, bool settle = false);

private:
    // Forgets everything that belongs to the loaded library.
    void ForgetLibrary();
    // Whether the closing pauses apply: 100 ms between dropping the
    // references and deleting the environment, 50 ms after unloading (with
    // settle). AviSynth+ has ended every thread that rendered frames once
    // the last reference to its clip is gone (its Prefetch waits for them),
    // and the environment's own when it is deleted, so the pauses guard
    // nothing there. They stay for a frame server in a multi-threading mode
    // of its own ("GetMTMode" 1 to 4: AviSynth 2.6 MT), whose threads were
    // not measured.
    bool SettlesThreads() const;
    // After the script's value is held: the checks, the multi-threading
    // convention and the facts.
    void Conclude(const std::string& scriptPath, const ScriptChecks& checks, bool invokeDistributor);
    // Checks the evaluated clip and reads its facts (SessionFacts.h).
    template <class Info>
    void ReadClip(const Info& info, const std::string& scriptPath, const ScriptChecks& checks);
    // The name the frame server gives the clip's format, for a format the
    // classic predicates do not know; empty when it has no "PixelType" (older
    // libraries) or names none.
    std::string AskPixelType();
    struct Values;
    void* Library = nullptr;
    void* Environment = nullptr;
    std::unique_ptr<Values> Held;
    ClipFacts Clip;
};

// The script-name globals as the frame server's Import sets them for a
// script: each global's name and its value.
struct ImportGlobal {
    const char* Name;
    std::string Value;
    bool SetBack;  // Import gives it its former value (void, in a fresh environment) when it ends
};
// For a full path: $ScriptName$ the path, $ScriptFile$ its last part,
// $ScriptDir$ the rest (with its closing separator), the same for the Utf8
// variants (converted from the ANSI code page on Windows), and the
// $MainScript...$ ones with the same values, as a first Import sets them
// (and leaves them).
std::vector<ImportGlobal> ImportGlobalsOf(const std::string& scriptPath);
// The folder of a full path, as $ScriptDir$ holds it.
std::string ImportFolderOf(const std::string& scriptPath);

// The working folder set to `folder` while it lives, then set back; as the
// frame server's Import does around a script's evaluation.
class WorkingFolderScope {
public:
    explicit WorkingFolderScope(const std::string& folder);
    ~WorkingFolderScope();
    WorkingFolderScope(const WorkingFolderScope&) = delete;
    WorkingFolderScope& operator=(const WorkingFolderScope&) = delete;

private:
    std::string previous;
    bool changed = false;
};

// The interface this build reaches the frame server through, as the JSON
// file names it: "class" or "c".
const char* FrameServerInterfaceName();

// After a fault on one of the frame server's worker threads that thread is
// parked for good: deleting the environment or unloading the library would
// wait for it, so a stranded session skips both.
bool FrameServerStranded();

// The line a fault on a worker thread adds to the fault's text.
extern const char* const kWorkerFaultLine;

// How a region that the processor fault `code` ended, ended; its text names
// a worker thread when the session is stranded.
RunEnding FaultResult(uint32_t code);

// The one place with the three catch clauses of a guarded frame-server
// region: Completed, or the failure with its text (the frame server's
// message, the fault's name, or otherText() followed, for an exception
// derived from std::exception, by a line with its text). When it returns,
// every handler has ended: only then may the caller unload the library.
template <class Region, class OtherText>
RunEnding RunFrameServerRegion(Region&& region, OtherText&& otherText);

// Inside a handler: the text of the exception being handled when it derives
// from std::exception (a plug-in's own, built with the same runtime), cut to
// a sane length; empty for any other exception.
std::string CurrentExceptionText();

// The library name rule: the configured path, else the platform's default.
std::string FrameServerLibraryName(const std::string& configuredPath);

// Play length in ms of `frames` at numerator/denominator; 0 when the rate is
// unusable.
int64_t ClipLengthMsFor(unsigned numerator, unsigned denominator, int frames);

#include "support/SEException.h"

template <class Region, class OtherText>
RunEnding RunFrameServerRegion(Region&& region, OtherText&& otherText) {
    RunEnding result;
    try {
        FrameServerGuarded(region);
    } catch (FrameServerError& error) {
        result.How = RunEnding::Kind::FrameServerError;
        result.Message = error.Message;
    } catch (SE_Exception& fault) {
        result = FaultResult(fault.ExceptionCode);
    } catch (...) {
        result.How = RunEnding::Kind::Exception;
        result.Message = otherText();
        const std::string own = CurrentExceptionText();
        if (!own.empty()) result.Message += "\n" + own;
    }
    return result;
}

// ------------------------------------------------------- the session scope

// "Cannot load avisynth.dll": the library could not be loaded.
extern const char* const kCannotLoadLibrary;
// "Cannot unload avisynth.dll" with the system's text, if it has one.
std::string UnloadFailureText();

// Where opening a session stopped.
enum class OpenFailure {
    None,
    NoLibrary,      // the library could not be loaded
    NoFactory,      // it has no factory (over the C interface: lacks a function)
    NoEnvironment,  // no environment for the interface version asked
    Failed,         // creating it ended in a frame-server error or another exception
    Faulted,        // creating it ended in a processor fault
};

// A session opened, or why it could not be.
struct OpenedSession {
    std::unique_ptr<FrameServerContext> Session;  // null when it could not be opened
    OpenFailure Failure = OpenFailure::None;
    // What to show for the failure: "Cannot load avisynth.dll" with the
    // system's text, "Failed to load CreateScriptEnvironment()", "Could not
    // create IScriptenvironment", or the failure's own text.
    std::string Text;
};

// Loads the library (the configured path, else the platform's name) and
// creates an environment for `interfaceVersion` in a guarded region. A
// session that cannot be opened is closed again: unloaded, or as
// UnloadAfter says after a failure.
OpenedSession OpenSession(const std::string& libraryPath, int interfaceVersion);

// What a session's work and its close came to.
struct SessionResult {
    RunEnding Work;  // Completed, or how the work failed
    // "Cannot unload avisynth.dll" with the system's text when the system
    // refused to unload the library; empty otherwise.
    std::string UnloadFailure;
};

// Runs work() in the open session as a guarded region (RunFrameServerRegion,
// otherText() naming a foreign exception) and closes the session: after work
// that completed, inside the same region, what it still holds is released
// and the library unloaded, so a fault there is the work's; after work that
// failed, once the handler has ended, as UnloadAfter says. A stranded
// session is left as it is (FrameServerStranded).
template <class Work, class OtherText>
SessionResult RunSession(FrameServerContext& session, Work&& work, OtherText&& otherText) {
    SessionResult result;
    bool unloaded = true;
    result.Work = RunFrameServerRegion(
        [&] {
            work();
            unloaded = session.Close();
        },
        otherText);
    if (result.Work.Failed()) unloaded = session.UnloadAfter(result.Work.How, true);
    if (!unloaded) result.UnloadFailure = UnloadFailureText();
    return result;
}
