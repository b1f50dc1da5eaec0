// The C interface of the test frame server: plain functions over the same
// environment, clips and values as the class interface, behaving as the real
// library's do (errors come back as values and texts, never as exceptions;
// faults and foreign exceptions pass through).
#include <cstring>
#include <new>
#include <string>

#include "frameserver/AvisynthC.h"
#include "tests/testfs/TestFS.h"

static_assert(sizeof(AVSValue) == sizeof(AVS_Value), "a C value is a class value");
static_assert(sizeof(PVideoFrame) == sizeof(AVS_VideoFrame*), "a frame handle is its pointer");

struct AVS_ScriptEnvironment {
    IScriptEnvironment* env = nullptr;
    const char* error = nullptr;
    std::string refusal;  // the text of a refused creation
};

struct AVS_Clip {
    PClip clip;
    IScriptEnvironment* env = nullptr;
    const char* error = nullptr;
};

namespace {

const char kFunctionNotFound[] = "Function Not Found";

const AVSValue& AsClassValue(const AVS_Value& value) { return *reinterpret_cast<const AVSValue*>(&value); }

AVS_Value ErrorValue(const char* message) {
    AVS_Value value;
    std::memset(&value, 0, sizeof value);
    value.type = 'e';
    value.d.string = message;
    return value;
}

}  // namespace

extern "C" {

TESTFS_EXPORT AVS_ScriptEnvironment* avs_create_script_environment(int version) {
    AVS_ScriptEnvironment* handle = new AVS_ScriptEnvironment;
    handle->env = CreateScriptEnvironment(version);
    if (!handle->env) {
        handle->refusal = "testfs: no environment of interface version " + testfs::DecimalText(version);
        handle->error = handle->refusal.c_str();
    }
    return handle;
}

TESTFS_EXPORT void avs_delete_script_environment(AVS_ScriptEnvironment* handle) {
    if (!handle) return;
    if (handle->env) handle->env->DeleteScriptEnvironment();
    delete handle;
}

TESTFS_EXPORT const char* avs_get_error(AVS_ScriptEnvironment* handle) { return handle->error; }

TESTFS_EXPORT int avs_check_version(AVS_ScriptEnvironment* handle, int version) {
    handle->error = nullptr;
    try {
        handle->env->CheckVersion(version);
        return 0;
    } catch (const AvisynthError& error) {
        handle->error = error.msg;
        return -1;
    }
}

TESTFS_EXPORT char* avs_save_string(AVS_ScriptEnvironment* handle, const char* s, int length) {
    handle->error = nullptr;
    return handle->env->SaveString(s, length);
}

TESTFS_EXPORT int avs_set_global_var(AVS_ScriptEnvironment* handle, const char* name, AVS_Value value) {
    handle->error = nullptr;
    try {
        return handle->env->SetGlobalVar(name, AsClassValue(value)) ? 1 : 0;
    } catch (AvisynthError& error) {
        handle->error = error.msg;
        return -1;
    }
}

TESTFS_EXPORT int avs_function_exists(AVS_ScriptEnvironment* handle, const char* name) {
    handle->error = nullptr;
    return handle->env->FunctionExists(name) ? 1 : 0;
}

TESTFS_EXPORT AVS_Value avs_invoke(AVS_ScriptEnvironment* handle, const char* name, AVS_Value args,
                                   const char** argNames) {
    AVS_Value result;
    std::memset(&result, 0, sizeof result);
    result.type = 'v';
    handle->error = nullptr;
    try {
        const AVSValue value = handle->env->Invoke(name, AsClassValue(args), argNames);
        new (&result) AVSValue(value);
    } catch (const IScriptEnvironment::NotFound&) {
        handle->error = kFunctionNotFound;
    } catch (const AvisynthError& error) {
        handle->error = error.msg;
    }
    return handle->error ? ErrorValue(handle->error) : result;
}

TESTFS_EXPORT void avs_release_value(AVS_Value value) {
    reinterpret_cast<AVSValue*>(&value)->~AVSValue();
}

TESTFS_EXPORT AVS_Clip* avs_take_clip(AVS_Value value, AVS_ScriptEnvironment* handle) {
    AVS_Clip* clip = new AVS_Clip;
    clip->env = handle->env;
    clip->clip = AsClassValue(value).AsClip();
    return clip;
}

TESTFS_EXPORT void avs_release_clip(AVS_Clip* clip) { delete clip; }

TESTFS_EXPORT const AVS_VideoInfo* avs_get_video_info(AVS_Clip* clip) {
    return &clip->clip->GetVideoInfo();  // the class record is the C record with methods
}

TESTFS_EXPORT AVS_VideoFrame* avs_get_frame(AVS_Clip* clip, int n) {
    clip->error = nullptr;
    try {
        const PVideoFrame frame = clip->clip->GetFrame(n, clip->env);
        // The caller's pointer holds a reference of its own.
        alignas(PVideoFrame) unsigned char held[sizeof(PVideoFrame)];
        return reinterpret_cast<AVS_VideoFrame*>((new (held) PVideoFrame(frame))->get());
    } catch (const AvisynthError& error) {
        clip->error = error.msg;
        return nullptr;
    }
}

TESTFS_EXPORT void avs_release_video_frame(AVS_VideoFrame* frame) {
    alignas(PVideoFrame) unsigned char held[sizeof(PVideoFrame)];
    std::memcpy(held, &frame, sizeof frame);
    reinterpret_cast<PVideoFrame*>(held)->~PVideoFrame();
}

TESTFS_EXPORT const char* avs_clip_get_error(AVS_Clip* clip) { return clip->error; }

TESTFS_EXPORT int avs_get_version(AVS_Clip* clip) { return clip->clip->GetVersion(); }

}  // extern "C"
