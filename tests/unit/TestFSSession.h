// One load of the test frame server for an in-process test: the library, an
// environment, the linkage pointer and the library's counters. Environment
// variables that steer the library are set before the environment is made.
#pragma once

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "frameserver/Avisynth.h"
#include "platform/Library.h"
#include "tests/support/ScratchDir.h"
#include "tests/testfs/TestFSCounters.h"

// Sets (or removes, with null) a variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            hadOld_ = true;
            old_ = old;
        }
        Set(value);
    }
    ~ScopedVariable() { Set(hadOld_ ? old_.c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void Set(const char* value) {
#if defined(_WIN32)
        _putenv_s(name_.c_str(), value ? value : "");
#else
        if (value) {
            setenv(name_.c_str(), value, 1);
        } else {
            unsetenv(name_.c_str());
        }
#endif
    }

    std::string name_;
    bool hadOld_ = false;
    std::string old_;
};

class TestFSSession {
public:
    TestFSSession() {
        library_ = platform::LoadDynamicLibrary(TESTFS_LIBRARY);
        if (!library_) return;
        create_ = reinterpret_cast<CreateScriptEnvironmentFunc>(
            platform::DynamicSymbol(library_, "CreateScriptEnvironment"));
        counters_ = reinterpret_cast<TestFSGetCountersFunc>(
            platform::DynamicSymbol(library_, kTestFSGetCountersSymbol));
    }

    ~TestFSSession() {
        if (env_) DeleteEnvironment();
        AVS_linkage = nullptr;
        if (library_) platform::FreeDynamicLibrary(library_);
    }

    TestFSSession(const TestFSSession&) = delete;
    TestFSSession& operator=(const TestFSSession&) = delete;

    bool Loaded() const { return library_ && create_ && counters_; }

    // Creates the environment and sets the linkage pointer from it.
    IScriptEnvironment* Open(int version = 7) {
        env_ = create_ ? create_(version) : nullptr;
        AVS_linkage = env_ ? env_->GetAVSLinkage() : nullptr;
        return env_;
    }

    // Deletes the environment; the linkage pointer stays, as it does in the
    // program until the library is unloaded.
    void DeleteEnvironment() {
        env_->DeleteScriptEnvironment();
        env_ = nullptr;
    }

    // Unloads the library now (the counters are gone afterwards).
    bool Unload() {
        if (env_) DeleteEnvironment();
        AVS_linkage = nullptr;
        const bool freed = platform::FreeDynamicLibrary(library_);
        library_ = nullptr;
        return freed;
    }

    IScriptEnvironment* Env() const { return env_; }
    const TestFSCounters& Counters() const { return *counters_(); }
    CreateScriptEnvironmentFunc Factory() const { return create_; }

    // Writes a script into the scratch directory and returns its path.
    std::string Script(const std::string& text, const std::string& name = "clip.avs") {
        const std::string path = scratch_.Path(name);
        WriteBytes(path, text);
        return path;
    }

    // Invoke("Import") of a script with this text.
    AVSValue Import(const std::string& text) { return env_->Invoke("Import", AVSValue(Script(text).c_str())); }

    // The clip a script returns, and a copy of its VideoInfo.
    PClip ImportClip(const std::string& text) { return Import(text).AsClip(); }
    VideoInfo ImportInfo(const std::string& text) { return ImportClip(text)->GetVideoInfo(); }

    std::string ScratchPath(const std::string& name) const { return scratch_.Path(name); }

private:
    ScratchDir scratch_;
    void* library_ = nullptr;
    CreateScriptEnvironmentFunc create_ = nullptr;
    TestFSGetCountersFunc counters_ = nullptr;
    IScriptEnvironment* env_ = nullptr;
};

// Runs `body` and returns the message of the AvisynthError it throws; fails
// the test when it throws nothing or something else.
template <class Body>
std::string AvisynthErrorOf(Body body) {
    try {
        body();
    } catch (const AvisynthError& error) {
        return error.msg ? error.msg : "(null message)";
    } catch (...) {
        ADD_FAILURE() << "an exception other than AvisynthError";
        return std::string();
    }
    ADD_FAILURE() << "no AvisynthError";
    return std::string();
}
