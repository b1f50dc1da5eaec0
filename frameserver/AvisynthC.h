// Our own declarations of the frame server's C interface: plain C types and
// the platform's C calling convention, so that a program from one compiler
// can use a library from another (a MinGW build with an MSVC-built library),
// which the class interface cannot do. Only what Tachoro uses is declared.
//
// A wrong size or offset here does not fail to link: it crashes or returns
// garbage at run time, hence the static_asserts.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Opaque library-side records; only pointers to them pass through our code.
struct AVS_ScriptEnvironment;
struct AVS_Clip;
struct AVS_VideoFrame;

// A value: a type code ('v' void, 'c' clip, 'b' bool, 'i' int, 'f' float,
// 's' string, 'a' array, 'l' 64-bit int, 'd' double, 'e' error with its
// message in `string`) and the datum.
struct AVS_Value {
    short type;
    short array_size;
    union {
        void* clip;
        char boolean;
        int integer;
        float floating_pt;
        const char* string;
        const AVS_Value* array;
        int64_t longlong;
        double double_pt;
    } d;
};

// The clip's record, the same in both interfaces: the class interface's
// VideoInfo is this record with its predicates.
struct AVS_VideoInfo {
    int width;  // 0 means no video
    int height;
    unsigned fps_numerator;
    unsigned fps_denominator;
    int num_frames;
    int pixel_type;
    int audio_samples_per_second;  // 0 means no audio
    int sample_type;
    int64_t num_audio_samples;
    int nchannels;
    int image_type;
};

typedef AVS_ScriptEnvironment* (*avs_create_script_environment_func)(int version);
typedef void (*avs_delete_script_environment_func)(AVS_ScriptEnvironment*);
typedef const char* (*avs_get_error_func)(AVS_ScriptEnvironment*);
typedef int (*avs_check_version_func)(AVS_ScriptEnvironment*, int version);
typedef int (*avs_function_exists_func)(AVS_ScriptEnvironment*, const char* name);
typedef AVS_Value (*avs_invoke_func)(AVS_ScriptEnvironment*, const char* name, AVS_Value args,
                                     const char** arg_names);
typedef void (*avs_release_value_func)(AVS_Value);
typedef AVS_Clip* (*avs_take_clip_func)(AVS_Value, AVS_ScriptEnvironment*);
typedef void (*avs_release_clip_func)(AVS_Clip*);
typedef const AVS_VideoInfo* (*avs_get_video_info_func)(AVS_Clip*);
typedef AVS_VideoFrame* (*avs_get_frame_func)(AVS_Clip*, int n);
typedef void (*avs_release_video_frame_func)(AVS_VideoFrame*);
typedef const char* (*avs_clip_get_error_func)(AVS_Clip*);
typedef char* (*avs_save_string_func)(AVS_ScriptEnvironment*, const char* s, int length);
typedef int (*avs_set_global_var_func)(AVS_ScriptEnvironment*, const char* name, AVS_Value val);

}  // extern "C"

#if UINTPTR_MAX > 0xFFFFFFFFu
static_assert(sizeof(AVS_Value) == 16, "AVS_Value is 16 bytes on 64-bit targets");
#endif
static_assert(offsetof(AVS_Value, d) == 4 || offsetof(AVS_Value, d) == 8, "the datum follows the two shorts");
static_assert(sizeof(AVS_VideoInfo) == 48, "AVS_VideoInfo has the VideoInfo layout");
static_assert(offsetof(AVS_VideoInfo, num_frames) == 16, "AVS_VideoInfo::num_frames");
static_assert(offsetof(AVS_VideoInfo, pixel_type) == 20, "AVS_VideoInfo::pixel_type");
static_assert(offsetof(AVS_VideoInfo, audio_samples_per_second) == 24, "AVS_VideoInfo::audio_samples_per_second");
static_assert(offsetof(AVS_VideoInfo, num_audio_samples) == 32, "AVS_VideoInfo::num_audio_samples");
static_assert(offsetof(AVS_VideoInfo, nchannels) == 40, "AVS_VideoInfo::nchannels");
static_assert(offsetof(AVS_VideoInfo, image_type) == 44, "AVS_VideoInfo::image_type");

// The pixel-type and image-type bits the classic formats are made of. A C
// client reads the record itself (the predicates of the class interface go
// through its linkage table, which a C client cannot call).
namespace avs_c {

enum : uint32_t {
    kBGR = 1u << 28,
    kYUV = 1u << 29,
    kInterleaved = 1u << 30,
    kPlanar = 1u << 31,
    kYUVA = 1u << 27,
    kVPlaneFirst = 1u << 3,
    kUPlaneFirst = 1u << 4,
    kSubWidthMask = 7u,
    kSubHeightMask = 7u << 8,
    kSampleBitsMask = 7u << 16,
    kPlanarMask = kPlanar | kInterleaved | kYUV | kBGR | kYUVA | kSampleBitsMask | kSubWidthMask | kSubHeightMask,
    kPlanarFilter = ~(kVPlaneFirst | kUPlaneFirst),

    kBGR24 = 1u | kBGR | kInterleaved,
    kBGR32 = 2u | kBGR | kInterleaved,
    kYUY2 = 4u | kYUV | kInterleaved,
    kYV24 = kPlanar | kYUV | kVPlaneFirst | 3u | (3u << 8),
    kYV16 = kPlanar | kYUV | kVPlaneFirst | (3u << 8),
    kYV12 = kPlanar | kYUV | kVPlaneFirst,
    kYV411 = kPlanar | kYUV | kVPlaneFirst | 1u | (3u << 8),
    kY8 = kPlanar | kInterleaved | kYUV,
};

enum : int {
    kImageBFF = 1 << 0,
    kImageTFF = 1 << 1,
    kImageFieldBased = 1 << 2,
};

}  // namespace avs_c

// The record with the predicates of the class interface's VideoInfo, read
// from its fields as the library's own predicates do.
struct CVideoInfo : AVS_VideoInfo {
    CVideoInfo() : AVS_VideoInfo() {}
    explicit CVideoInfo(const AVS_VideoInfo& info) : AVS_VideoInfo(info) {}

    bool HasVideo() const { return width != 0; }
    bool HasAudio() const { return audio_samples_per_second != 0; }
    bool IsRGB24() const { return (Pixels() & avs_c::kBGR24) == avs_c::kBGR24 && (Pixels() & avs_c::kSampleBitsMask) == 0; }
    bool IsRGB32() const { return (Pixels() & avs_c::kBGR32) == avs_c::kBGR32 && (Pixels() & avs_c::kSampleBitsMask) == 0; }
    bool IsYUY2() const { return (Pixels() & avs_c::kYUY2) == avs_c::kYUY2; }
    bool IsYV24() const { return IsPlanarFormat(avs_c::kYV24); }
    bool IsYV16() const { return IsPlanarFormat(avs_c::kYV16); }
    bool IsYV12() const { return IsPlanarFormat(avs_c::kYV12); }
    bool IsYV411() const { return IsPlanarFormat(avs_c::kYV411); }
    bool IsY8() const { return IsPlanarFormat(avs_c::kY8); }
    bool IsFieldBased() const { return (image_type & avs_c::kImageFieldBased) != 0; }
    bool IsBFF() const { return (image_type & avs_c::kImageBFF) != 0; }
    bool IsTFF() const { return (image_type & avs_c::kImageTFF) != 0; }
    int AudioChannels() const { return HasAudio() ? nchannels : 0; }
    int SampleType() const { return sample_type; }
    int SamplesPerSecond() const { return audio_samples_per_second; }

private:
    uint32_t Pixels() const { return static_cast<uint32_t>(pixel_type); }
    bool IsPlanarFormat(uint32_t format) const {
        return (Pixels() & avs_c::kPlanarMask) == (format & avs_c::kPlanarFilter);
    }
};
