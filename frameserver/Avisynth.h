// Our own declarations of the frame server's class interface (2.6 generation,
// interface versions 5 to 7). Only what Tachoro uses is declared in full; the
// rest of each virtual table and of the linkage table is declared so that the
// slots and offsets line up with the library's binary layout.
//
// Every operation on AVSValue, PClip, PVideoFrame and every VideoInfo predicate
// calls through the process-wide AVS_linkage table, and only when the pointer
// is set and the table is large enough to hold the entry; otherwise it does
// nothing and yields false, 0 or an empty value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdarg>
#include <type_traits>

#include "frameserver/AvisynthC.h"

typedef unsigned char BYTE;
typedef int64_t int64;

class IClip;
class PClip;
class PVideoFrame;
class IScriptEnvironment;
class AVSValue;
struct AVS_Linkage;

// The frame server's exception. It is matched by type name across the
// library boundary, so the name and the single member must stay as they are.
class AvisynthError {
public:
    const char* const msg;
    AvisynthError(const char* message) : msg(message) {}
};

// Opaque library-side classes; only pointers to them pass through our code.
class VideoFrameBuffer {
    VideoFrameBuffer() = delete;
};
class VideoFrame {
    VideoFrame() = delete;
};

// The library's record (the C interface declares the same fields) with the
// predicates, which go through the linkage table.
struct VideoInfo : AVS_VideoInfo {
    bool HasVideo() const;
    bool HasAudio() const;
    bool IsRGB() const;
    bool IsRGB24() const;
    bool IsRGB32() const;
    bool IsYUV() const;
    bool IsYUY2() const;
    bool IsYV24() const;
    bool IsYV16() const;
    bool IsYV12() const;
    bool IsYV411() const;
    bool IsY8() const;
    bool IsPlanar() const;
    bool IsFieldBased() const;
    bool IsParityKnown() const;
    bool IsBFF() const;
    bool IsTFF() const;
    int AudioChannels() const;
    int SampleType() const;
    int SamplesPerSecond() const;
};

// Sample type codes of VideoInfo::sample_type.
enum : int {
    SAMPLE_INT8 = 1 << 0,
    SAMPLE_INT16 = 1 << 1,
    SAMPLE_INT24 = 1 << 2,
    SAMPLE_INT32 = 1 << 3,
    SAMPLE_FLOAT = 1 << 4,
};

// Reference-counted handles. Their copy constructor and destructor are
// user-provided on purpose: the library's versions are non-trivial for the
// purpose of calls, so ours must be too, or by-value returns through the
// virtual tables would read the wrong registers.
class PClip {
public:
    PClip();
    PClip(const PClip& other);
    PClip(IClip* clip);
    PClip& operator=(IClip* clip);
    PClip& operator=(const PClip& other);
    ~PClip();

    IClip* operator->() const { return p; }
    IClip* get() const { return p; }
    explicit operator bool() const { return p != nullptr; }

protected:
    IClip* p;
};

class PVideoFrame {
public:
    PVideoFrame();
    PVideoFrame(const PVideoFrame& other);
    PVideoFrame(VideoFrame* frame);
    PVideoFrame& operator=(VideoFrame* frame);
    PVideoFrame& operator=(const PVideoFrame& other);
    ~PVideoFrame();

    VideoFrame* get() const { return p; }

protected:
    VideoFrame* p;
};

class AVSValue {
public:
    AVSValue();
    AVSValue(IClip* clip);
    AVSValue(const PClip& clip);
    AVSValue(bool b);
    AVSValue(int i);
    AVSValue(float f);
    AVSValue(double d);
    AVSValue(const char* s);
    AVSValue(const AVSValue* array, int size);
    AVSValue(const AVSValue& other);
    ~AVSValue();
    AVSValue& operator=(const AVSValue& other);

    const AVSValue& operator[](int index) const;
    bool Defined() const;
    bool IsClip() const;
    bool IsBool() const;
    bool IsInt() const;
    bool IsFloat() const;
    bool IsString() const;
    bool IsArray() const;
    PClip AsClip() const;
    bool AsBool() const;
    int AsInt() const;
    const char* AsString() const;
    double AsFloat() const;
    int ArraySize() const;

protected:
    short type;  // character code, interpreted only by the library
    short array_size;
    union {
        IClip* clip;
        bool boolean;
        int integer;
        float floating_pt;
        const char* string;
        const AVSValue* array;
        int64_t longlong;
        double double_pt;
    };
    void MakeVoid();
};

class IClip {
public:
    virtual int GetVersion() = 0;
    virtual PVideoFrame GetFrame(int n, IScriptEnvironment* env) = 0;
    virtual bool GetParity(int n) = 0;
    virtual void GetAudio(void* buf, int64 start, int64 count, IScriptEnvironment* env) = 0;
    virtual int SetCacheHints(int cachehints, int frame_range) = 0;
    virtual const VideoInfo& GetVideoInfo() = 0;
    virtual ~IClip() {}
};

typedef AVSValue (*ApplyFunc)(AVSValue args, void* user_data, IScriptEnvironment* env);
typedef void (*ShutdownFunc)(void* user_data, IScriptEnvironment* env);

class IScriptEnvironment {
public:
    // Thrown by Invoke when no function of that name accepts the arguments.
    class NotFound {};

    virtual ~IScriptEnvironment() {}
    virtual int GetCPUFlags() = 0;
    virtual char* SaveString(const char* s, int length = -1) = 0;
    virtual char* Sprintf(const char* fmt, ...) = 0;
    virtual char* VSprintf(const char* fmt, va_list val) = 0;
    virtual void ThrowError(const char* fmt, ...) = 0;
    virtual void AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) = 0;
    virtual bool FunctionExists(const char* name) = 0;
    virtual AVSValue Invoke(const char* name, const AVSValue args, const char* const* arg_names = nullptr) = 0;
    virtual AVSValue GetVar(const char* name) = 0;
    virtual bool SetVar(const char* name, const AVSValue& val) = 0;
    virtual bool SetGlobalVar(const char* name, const AVSValue& val) = 0;
    virtual void PushContext(int level = 0) = 0;
    virtual void PopContext() = 0;
    virtual PVideoFrame NewVideoFrame(const VideoInfo& vi, int align) = 0;
    virtual bool MakeWritable(PVideoFrame* pvf) = 0;
    virtual void BitBlt(BYTE* dst, int dst_pitch, const BYTE* src, int src_pitch, int row_size, int height) = 0;
    virtual void AtExit(ShutdownFunc function, void* user_data) = 0;
    virtual void CheckVersion(int version) = 0;
    virtual PVideoFrame Subframe(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size, int new_height) = 0;
    virtual int SetMemoryMax(int mem) = 0;
    virtual int SetWorkingDir(const char* newdir) = 0;
    virtual void* ManageCache(int key, void* data) = 0;
    virtual bool PlanarChromaAlignment(int mode) = 0;
    virtual PVideoFrame SubframePlanar(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size,
                                       int new_height, int rel_offsetU, int rel_offsetV, int new_pitchUV) = 0;
    virtual void DeleteScriptEnvironment() = 0;
    virtual void ApplyMessage(PVideoFrame* frame, const VideoInfo& vi, const char* message, int size,
                              int textcolor, int halocolor, int bgcolor) = 0;
    virtual const AVS_Linkage* GetAVSLinkage() = 0;
    virtual AVSValue GetVarDef(const char* name, const AVSValue& def = AVSValue()) = 0;
};

typedef IScriptEnvironment* (*CreateScriptEnvironmentFunc)(int version);

// The library's table of functions, led by its size in bytes as the library
// built it. Entries are pointers to member functions, in the library's order.
struct AVS_Linkage {
    int Size;

    // VideoInfo
    bool (VideoInfo::*HasVideo)() const;
    bool (VideoInfo::*HasAudio)() const;
    bool (VideoInfo::*IsRGB)() const;
    bool (VideoInfo::*IsRGB24)() const;
    bool (VideoInfo::*IsRGB32)() const;
    bool (VideoInfo::*IsYUV)() const;
    bool (VideoInfo::*IsYUY2)() const;
    bool (VideoInfo::*IsYV24)() const;
    bool (VideoInfo::*IsYV16)() const;
    bool (VideoInfo::*IsYV12)() const;
    bool (VideoInfo::*IsYV411)() const;
    bool (VideoInfo::*IsY8)() const;
    bool (VideoInfo::*IsColorSpace)(int c_space) const;
    bool (VideoInfo::*Is)(int property) const;
    bool (VideoInfo::*IsPlanar)() const;
    bool (VideoInfo::*IsFieldBased)() const;
    bool (VideoInfo::*IsParityKnown)() const;
    bool (VideoInfo::*IsBFF)() const;
    bool (VideoInfo::*IsTFF)() const;
    bool (VideoInfo::*IsVPlaneFirst)() const;
    int (VideoInfo::*BytesFromPixels)(int pixels) const;
    int (VideoInfo::*RowSize)(int plane) const;
    int (VideoInfo::*BMPSize)() const;
    int64_t (VideoInfo::*AudioSamplesFromFrames)(int frames) const;
    int (VideoInfo::*FramesFromAudioSamples)(int64_t samples) const;
    int64_t (VideoInfo::*AudioSamplesFromBytes)(int64_t bytes) const;
    int64_t (VideoInfo::*BytesFromAudioSamples)(int64_t samples) const;
    int (VideoInfo::*AudioChannels)() const;
    int (VideoInfo::*SampleType)() const;
    bool (VideoInfo::*IsSampleType)(int testtype) const;
    int (VideoInfo::*SamplesPerSecond)() const;
    int (VideoInfo::*BytesPerAudioSample)() const;
    void (VideoInfo::*SetFieldBased)(bool isfieldbased);
    void (VideoInfo::*Set)(int property);
    void (VideoInfo::*Clear)(int property);
    int (VideoInfo::*GetPlaneWidthSubsampling)(int plane) const;
    int (VideoInfo::*GetPlaneHeightSubsampling)(int plane) const;
    int (VideoInfo::*BitsPerPixel)() const;
    int (VideoInfo::*BytesPerChannelSample)() const;
    void (VideoInfo::*SetFPS)(unsigned numerator, unsigned denominator);
    void (VideoInfo::*MulDivFPS)(unsigned multiplier, unsigned divisor);
    bool (VideoInfo::*IsSameColorspace)(const VideoInfo& vi) const;

    // VideoFrameBuffer
    const BYTE* (VideoFrameBuffer::*VFBGetReadPtr)() const;
    BYTE* (VideoFrameBuffer::*VFBGetWritePtr)();
    int (VideoFrameBuffer::*GetDataSize)() const;
    int (VideoFrameBuffer::*GetSequenceNumber)() const;
    int (VideoFrameBuffer::*GetRefcount)() const;

    // VideoFrame
    int (VideoFrame::*GetPitch)(int plane) const;
    int (VideoFrame::*GetRowSize)(int plane) const;
    int (VideoFrame::*GetHeight)(int plane) const;
    VideoFrameBuffer* (VideoFrame::*GetFrameBuffer)() const;
    int (VideoFrame::*GetOffset)(int plane) const;
    const BYTE* (VideoFrame::*VFGetReadPtr)(int plane) const;
    bool (VideoFrame::*IsWritable)() const;
    BYTE* (VideoFrame::*VFGetWritePtr)(int plane) const;
    void (VideoFrame::*VideoFrame_DESTRUCTOR)();

    // PClip
    void (PClip::*PClip_CONSTRUCTOR0)();
    void (PClip::*PClip_CONSTRUCTOR1)(const PClip& x);
    void (PClip::*PClip_CONSTRUCTOR2)(IClip* x);
    PClip& (PClip::*PClip_OPERATOR_ASSIGN0)(IClip* x);
    PClip& (PClip::*PClip_OPERATOR_ASSIGN1)(const PClip& x);
    void (PClip::*PClip_DESTRUCTOR)();

    // PVideoFrame
    void (PVideoFrame::*PVideoFrame_CONSTRUCTOR0)();
    void (PVideoFrame::*PVideoFrame_CONSTRUCTOR1)(const PVideoFrame& x);
    void (PVideoFrame::*PVideoFrame_CONSTRUCTOR2)(VideoFrame* x);
    PVideoFrame& (PVideoFrame::*PVideoFrame_OPERATOR_ASSIGN0)(VideoFrame* x);
    PVideoFrame& (PVideoFrame::*PVideoFrame_OPERATOR_ASSIGN1)(const PVideoFrame& x);
    void (PVideoFrame::*PVideoFrame_DESTRUCTOR)();

    // AVSValue
    void (AVSValue::*AVSValue_CONSTRUCTOR0)();
    void (AVSValue::*AVSValue_CONSTRUCTOR1)(IClip* c);
    void (AVSValue::*AVSValue_CONSTRUCTOR2)(const PClip& c);
    void (AVSValue::*AVSValue_CONSTRUCTOR3)(bool b);
    void (AVSValue::*AVSValue_CONSTRUCTOR4)(int i);
    void (AVSValue::*AVSValue_CONSTRUCTOR5)(float f);
    void (AVSValue::*AVSValue_CONSTRUCTOR6)(double f);
    void (AVSValue::*AVSValue_CONSTRUCTOR7)(const char* s);
    void (AVSValue::*AVSValue_CONSTRUCTOR8)(const AVSValue* a, int size);
    void (AVSValue::*AVSValue_CONSTRUCTOR9)(const AVSValue& v);
    void (AVSValue::*AVSValue_DESTRUCTOR)();
    AVSValue& (AVSValue::*AVSValue_OPERATOR_ASSIGN)(const AVSValue& v);
    const AVSValue& (AVSValue::*AVSValue_OPERATOR_INDEX)(int index) const;
    bool (AVSValue::*Defined)() const;
    bool (AVSValue::*IsClip)() const;
    bool (AVSValue::*IsBool)() const;
    bool (AVSValue::*IsInt)() const;
    bool (AVSValue::*IsFloat)() const;
    bool (AVSValue::*IsString)() const;
    bool (AVSValue::*IsArray)() const;
    PClip (AVSValue::*AsClip)() const;
    bool (AVSValue::*AsBool1)() const;
    int (AVSValue::*AsInt1)() const;
    const char* (AVSValue::*AsString1)() const;
    double (AVSValue::*AsFloat1)() const;
    bool (AVSValue::*AsBool2)(bool def) const;
    int (AVSValue::*AsInt2)(int def) const;
    double (AVSValue::*AsDblDef)(double def) const;
    double (AVSValue::*AsFloat2)(float def) const;
    const char* (AVSValue::*AsString2)(const char* def) const;
    int (AVSValue::*ArraySize)() const;

    // Reserved for later library generations; Tachoro uses none of them.
    void (VideoInfo::*reserved[32])();
};

// The process-wide table pointer: set from GetAVSLinkage right after an
// environment is created, cleared right before the library is unloaded.
extern const AVS_Linkage* AVS_linkage;

// Size of the table of the 2.6 generation, reserved slots included.
constexpr int kLinkageSize26 = static_cast<int>(sizeof(AVS_Linkage));

static_assert(sizeof(VideoInfo) == 48, "VideoInfo must match the library's layout");
static_assert(sizeof(PClip) == sizeof(void*), "PClip holds one pointer");
static_assert(sizeof(PVideoFrame) == sizeof(void*), "PVideoFrame holds one pointer");
static_assert(sizeof(AVSValue) == 8 + sizeof(void*) || sizeof(void*) == 4, "AVSValue: two shorts and an 8-byte union");
static_assert(!std::is_trivially_copyable<PClip>::value, "PClip must be non-trivial for calls");
static_assert(!std::is_trivially_copyable<PVideoFrame>::value, "PVideoFrame must be non-trivial for calls");
static_assert(!std::is_trivially_copyable<AVSValue>::value, "AVSValue must be non-trivial for calls");

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Itanium C++ ABI: pointers to member functions are 16 bytes.
static_assert(offsetof(VideoInfo, num_audio_samples) == 32, "VideoInfo layout");
static_assert(offsetof(VideoInfo, image_type) == 44, "VideoInfo layout");
static_assert(offsetof(AVS_Linkage, HasVideo) == 8, "linkage layout");
static_assert(offsetof(AVS_Linkage, IsY8) == 184, "linkage layout");
static_assert(offsetof(AVS_Linkage, IsFieldBased) == 248, "linkage layout");
static_assert(offsetof(AVS_Linkage, IsBFF) == 280, "linkage layout");
static_assert(offsetof(AVS_Linkage, IsTFF) == 296, "linkage layout");
static_assert(offsetof(AVS_Linkage, AudioChannels) == 440, "linkage layout");
static_assert(offsetof(AVS_Linkage, SampleType) == 456, "linkage layout");
static_assert(offsetof(AVS_Linkage, SamplesPerSecond) == 488, "linkage layout");
static_assert(offsetof(AVS_Linkage, PClip_CONSTRUCTOR0) == 904, "linkage layout");
static_assert(offsetof(AVS_Linkage, PVideoFrame_CONSTRUCTOR0) == 1000, "linkage layout");
static_assert(offsetof(AVS_Linkage, AVSValue_CONSTRUCTOR0) == 1096, "linkage layout");
static_assert(offsetof(AVS_Linkage, ArraySize) == 1576, "linkage layout");
static_assert(sizeof(AVS_Linkage) == 2104, "linkage table of the 2.6 generation");
#endif
