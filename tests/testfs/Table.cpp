// The linkage table of the test frame server, the operations behind it, and
// this library's own definitions of the handle and value classes (which go
// through the same table, as a plug-in of the real library would).
#include <algorithm>
#include <cstring>

#include "tests/testfs/TestFS.h"

namespace testfs {

namespace {

int64_t Gcd(int64_t a, int64_t b) { return b == 0 ? a : Gcd(b, a % b); }

// ------------------------------------------------------------- VideoInfo

class VideoInfoOps : public VideoInfo {
public:
    bool HasVideo() const { return width != 0; }
    bool HasAudio() const { return audio_samples_per_second != 0; }
    bool IsRGB() const { return (pixel_type & kFamilyRGB) != 0; }
    bool IsRGB24() const { return pixel_type == kPixelRGB24; }
    bool IsRGB32() const { return pixel_type == kPixelRGB32; }
    bool IsYUV() const { return (pixel_type & kFamilyYUV) != 0; }
    bool IsYUY2() const { return pixel_type == kPixelYUY2; }
    bool IsYV24() const { return pixel_type == kPixelYV24; }
    bool IsYV16() const { return pixel_type == kPixelYV16; }
    bool IsYV12() const { return pixel_type == kPixelYV12; }
    bool IsYV411() const { return pixel_type == kPixelYV411; }
    bool IsY8() const { return pixel_type == kPixelY8; }
    bool IsColorSpace(int space) const { return pixel_type == space; }
    bool Is(int property) const { return (pixel_type & property) == property; }
    bool IsPlanar() const { return (pixel_type & kLayoutPlanar) != 0; }
    bool IsFieldBased() const { return (image_type & kImageFieldBased) != 0; }
    bool IsParityKnown() const { return IsFieldBased() && (image_type & (kImageBFF | kImageTFF)) != 0; }
    bool IsBFF() const { return (image_type & kImageBFF) != 0; }
    bool IsTFF() const { return (image_type & kImageTFF) != 0; }
    bool IsVPlaneFirst() const { return IsYV12() || IsYV411() || IsYV16() || IsYV24(); }
    int BytesFromPixels(int pixels) const {
        // Planar formats: bytes of the luma plane only.
        return IsPlanar() ? pixels : pixels * (BitsPerPixel() / 8);
    }
    int RowSize(int plane) const {
        if (plane == kPlaneU || plane == kPlaneV) {
            if (!IsPlanar() || IsY8()) return 0;
            return width >> GetPlaneWidthSubsampling(plane);
        }
        return BytesFromPixels(width);
    }
    int BMPSize() const { return ((width * BitsPerPixel() / 8 + 3) & ~3) * height; }
    int64_t AudioSamplesFromFrames(int frames) const {
        if (fps_numerator == 0) return 0;
        return static_cast<int64_t>(frames) * audio_samples_per_second * fps_denominator / fps_numerator;
    }
    int FramesFromAudioSamples(int64_t samples) const {
        const int64_t divisor = static_cast<int64_t>(audio_samples_per_second) * fps_denominator;
        return divisor == 0 ? 0 : static_cast<int>(samples * fps_numerator / divisor);
    }
    int64_t AudioSamplesFromBytes(int64_t bytes) const {
        const int perSample = BytesPerAudioSample();
        return perSample == 0 ? 0 : bytes / perSample;
    }
    int64_t BytesFromAudioSamples(int64_t samples) const { return samples * BytesPerAudioSample(); }
    int AudioChannels() const { return HasAudio() ? nchannels : 0; }
    int SampleType() const { return sample_type; }
    bool IsSampleType(int type) const { return (sample_type & type) != 0; }
    int SamplesPerSecond() const { return audio_samples_per_second; }
    int BytesPerAudioSample() const { return nchannels * BytesPerChannelSample(); }
    void SetFieldBased(bool fieldBased) {
        if (fieldBased) {
            image_type |= kImageFieldBased;
        } else {
            image_type &= ~kImageFieldBased;
        }
    }
    void Set(int property) { image_type |= property; }
    void Clear(int property) { image_type &= ~property; }
    int GetPlaneWidthSubsampling(int plane) const {
        if (plane != kPlaneU && plane != kPlaneV) return 0;
        if (IsYV411()) return 2;
        return (IsYV12() || IsYV16()) ? 1 : 0;
    }
    int GetPlaneHeightSubsampling(int plane) const {
        if (plane != kPlaneU && plane != kPlaneV) return 0;
        return IsYV12() ? 1 : 0;
    }
    int BitsPerPixel() const { return BitsPerPixelOf(pixel_type); }
    int BytesPerChannelSample() const { return BytesPerChannelSampleOf(sample_type); }
    void SetFPS(unsigned numerator, unsigned denominator) {
        const int64_t divisor = std::max<int64_t>(1, Gcd(numerator, denominator));
        fps_numerator = static_cast<unsigned>(numerator / divisor);
        fps_denominator = static_cast<unsigned>(denominator / divisor);
    }
    void MulDivFPS(unsigned multiplier, unsigned divisor) {
        int64_t numerator = static_cast<int64_t>(fps_numerator) * multiplier;
        int64_t denominator = static_cast<int64_t>(fps_denominator) * divisor;
        const int64_t common = std::max<int64_t>(1, Gcd(numerator, denominator));
        numerator /= common;
        denominator /= common;
        while (numerator > 0xFFFFFFFF || denominator > 0xFFFFFFFF) {
            numerator >>= 1;
            denominator >>= 1;
        }
        fps_numerator = static_cast<unsigned>(numerator);
        fps_denominator = static_cast<unsigned>(denominator);
    }
    bool IsSameColorspace(const VideoInfo& other) const { return other.pixel_type == pixel_type; }
    // Fills the reserved slots and those beyond the 2.6 table.
    void Reserved() {}
};

// ------------------------------------------------------- frame, buffer
// A frame is its own buffer: both views point at the same Frame object.

class FrameBufferOps : public VideoFrameBuffer {
public:
    const Frame* Self() const { return reinterpret_cast<const Frame*>(this); }
    const BYTE* GetReadPtr() const { return nullptr; }
    BYTE* GetWritePtr() { return nullptr; }
    int GetDataSize() const { return 0; }
    int GetSequenceNumber() const { return Self()->sequenceNumber; }
    int GetRefcount() const { return Self()->references; }
};

class FrameOps : public VideoFrame {
public:
    const Frame* Self() const { return AsFrame(this); }
    int GetPitch(int) const { return Self()->rowSize; }
    int GetRowSize(int) const { return Self()->rowSize; }
    int GetHeight(int) const { return Self()->height; }
    VideoFrameBuffer* GetFrameBuffer() const {
        return reinterpret_cast<VideoFrameBuffer*>(const_cast<Frame*>(Self()));
    }
    int GetOffset(int) const { return 0; }
    const BYTE* GetReadPtr(int) const { return nullptr; }
    bool IsWritable() const { return Self()->references == 1; }
    BYTE* GetWritePtr(int) const { return nullptr; }
    // Frames are freed by their last handle, never through this entry.
    void Destroy() {}
};

// ------------------------------------------------------------ handles

void AddRef(IClip* clip) {
    if (clip) static_cast<CountedClip*>(clip)->AddRef();
}
void Release(IClip* clip) {
    if (clip) static_cast<CountedClip*>(clip)->Release();
}
void AddRef(VideoFrame* frame) {
    if (frame) ++AsFrame(frame)->references;
}
void Release(VideoFrame* frame) {
    if (frame && --AsFrame(frame)->references == 0) delete AsFrame(frame);
}

// The operations of both handle types, which differ only in what they hold.
template <class Handle, class Object>
class HandleOps : public Handle {
public:
    void Construct0() { this->p = nullptr; }
    void Construct1(const Handle& other) { Construct2(other.get()); }
    void Construct2(Object* object) {
        NoteHandleOperation(object != nullptr);
        AddRef(object);
        this->p = object;
    }
    Handle& Assign0(Object* object) {
        NoteHandleOperation(object != nullptr || this->p != nullptr);
        AddRef(object);  // before the release: assigning a handle its own object
        Object* previous = this->p;
        this->p = object;
        Release(previous);
        return *this;
    }
    Handle& Assign1(const Handle& other) { return Assign0(other.get()); }
    void Destroy() {
        NoteHandleOperation(this->p != nullptr);
        Release(this->p);
        this->p = nullptr;
    }
};
using ClipOps = HandleOps<PClip, IClip>;
using FrameHandleOps = HandleOps<PVideoFrame, VideoFrame>;

// ------------------------------------------------------------- values
// Arrays own a deep copy of their elements; strings are never owned (the
// environment keeps the strings it hands out).

class ValueOps : public AVSValue {
public:
    static const ValueOps& Of(const AVSValue& value) { return static_cast<const ValueOps&>(value); }

    void Construct0() { Clear(); }
    void Construct1(IClip* clip) {
        Clear();
        type = 'c';
        this->clip = clip;
        Acquire();
    }
    void Construct2(const PClip& clip) { Construct1(clip.get()); }
    void Construct3(bool b) {
        Clear();
        type = 'b';
        boolean = b;
    }
    void Construct4(int i) {
        Clear();
        type = 'i';
        integer = i;
    }
    void Construct5(float f) {
        Clear();
        type = 'f';
        floating_pt = f;
    }
    void Construct6(double d) {
        Clear();
        type = 'd';
        double_pt = d;
    }
    void Construct7(const char* s) {
        Clear();
        type = 's';
        string = s;
    }
    void Construct8(const AVSValue* elements, int size) {
        Clear();
        type = 'a';
        if (elements == nullptr || size <= 0) return;
        if (size > 0x7FFF) size = 0x7FFF;  // array_size is a short
        AVSValue* copy = new AVSValue[size];
        for (int i = 0; i < size; ++i) copy[i] = elements[i];
        array = copy;
        array_size = static_cast<short>(size);
        Acquire();
    }
    void Construct9(const AVSValue& other) {
        Clear();
        CopyFrom(Of(other));
    }
    void Destroy() {
        NoteHandleOperation(HoldsObject());
        ReleaseContent();
    }
    AVSValue& Assign(const AVSValue& other) {
        if (&other == this) return *this;
        // Copy first: `other` may be an element of this value's own array.
        ValueOps copy;
        copy.CopyFrom(Of(other));
        NoteHandleOperation(HoldsObject());
        ReleaseContent();
        MoveFrom(copy);
        return *this;
    }
    const AVSValue& Index(int index) const {
        NoteHandleOperation(HoldsObject());
        if (type == 'a') {
            if (index >= 0 && index < array_size) return array[index];
        } else if (index == 0 && type != 'v') {
            return *this;  // a single value reads as an array of one
        }
        return VoidValue();
    }
    bool Defined() const { return type != 'v'; }
    bool IsClip() const { return type == 'c'; }
    bool IsBool() const { return type == 'b'; }
    bool IsInt() const { return type == 'i'; }
    bool IsFloat() const { return type == 'f' || type == 'd' || type == 'i'; }
    bool IsString() const { return type == 's'; }
    bool IsArray() const { return type == 'a'; }
    PClip AsClip() const {
        NoteHandleOperation(HoldsObject());
        return type == 'c' ? PClip(clip) : PClip();
    }
    bool AsBool1() const { return type == 'b' && boolean; }
    int AsInt1() const { return type == 'i' ? integer : 0; }
    const char* AsString1() const { return type == 's' ? string : nullptr; }
    double AsFloat1() const {
        switch (type) {
            case 'f': return floating_pt;
            case 'd': return double_pt;
            case 'i': return integer;
            default: return 0.0;
        }
    }
    bool AsBool2(bool def) const { return Defined() ? AsBool1() : def; }
    int AsInt2(int def) const { return Defined() ? AsInt1() : def; }
    double AsDblDef(double def) const { return Defined() ? AsFloat1() : def; }
    double AsFloat2(float def) const { return Defined() ? AsFloat1() : def; }
    const char* AsString2(const char* def) const { return Defined() ? AsString1() : def; }
    int ArraySize() const { return type == 'a' ? array_size : (type == 'v' ? 0 : 1); }

private:
    ValueOps() { Clear(); }
    ~ValueOps() { ReleaseContent(); }

    static const AVSValue& VoidValue() {
        static const ValueOps value;
        return value;
    }

    bool HoldsObject() const { return (type == 'c' && clip != nullptr) || (type == 'a' && array != nullptr); }

    void Clear() {
        type = 'v';
        array_size = 0;
        longlong = 0;
    }
    // Counts and references the object the fields now name.
    void Acquire() {
        if (type == 'c') AddRef(clip);
        if (HoldsObject()) ++Counters().values_alive;
    }
    void ReleaseContent() {
        if (HoldsObject()) --Counters().values_alive;
        if (type == 'c') Release(clip);
        if (type == 'a') delete[] array;
        Clear();
    }
    void CopyFrom(const ValueOps& other) {
        if (other.type == 'a') {
            Construct8(other.array, other.array_size);
            return;
        }
        NoteHandleOperation(other.HoldsObject());
        type = other.type;
        array_size = other.array_size;
        std::memcpy(&longlong, &other.longlong, sizeof longlong);
        Acquire();
    }
    // Takes over the content of `other`, which is left void (no counting:
    // the object changes hands, it neither appears nor disappears).
    void MoveFrom(ValueOps& other) {
        type = other.type;
        array_size = other.array_size;
        std::memcpy(&longlong, &other.longlong, sizeof longlong);
        other.Clear();
    }
};

// ---------------------------------------------------------------- table

// The table with room behind it, so that a reported size beyond the 2.6
// table (as newer libraries report) still covers only callable slots.
struct LinkageStorage {
    AVS_Linkage table;
    void (VideoInfo::*extra[96])();
};

template <class Field, class Implementation>
void Store(Field& field, Implementation implementation) {
    field = static_cast<Field>(implementation);
}

LinkageStorage BuildTable() {
    LinkageStorage storage;
    AVS_Linkage& t = storage.table;
    t.Size = static_cast<int>(sizeof(AVS_Linkage));

    Store(t.HasVideo, &VideoInfoOps::HasVideo);
    Store(t.HasAudio, &VideoInfoOps::HasAudio);
    Store(t.IsRGB, &VideoInfoOps::IsRGB);
    Store(t.IsRGB24, &VideoInfoOps::IsRGB24);
    Store(t.IsRGB32, &VideoInfoOps::IsRGB32);
    Store(t.IsYUV, &VideoInfoOps::IsYUV);
    Store(t.IsYUY2, &VideoInfoOps::IsYUY2);
    Store(t.IsYV24, &VideoInfoOps::IsYV24);
    Store(t.IsYV16, &VideoInfoOps::IsYV16);
    Store(t.IsYV12, &VideoInfoOps::IsYV12);
    Store(t.IsYV411, &VideoInfoOps::IsYV411);
    Store(t.IsY8, &VideoInfoOps::IsY8);
    Store(t.IsColorSpace, &VideoInfoOps::IsColorSpace);
    Store(t.Is, &VideoInfoOps::Is);
    Store(t.IsPlanar, &VideoInfoOps::IsPlanar);
    Store(t.IsFieldBased, &VideoInfoOps::IsFieldBased);
    Store(t.IsParityKnown, &VideoInfoOps::IsParityKnown);
    Store(t.IsBFF, &VideoInfoOps::IsBFF);
    Store(t.IsTFF, &VideoInfoOps::IsTFF);
    Store(t.IsVPlaneFirst, &VideoInfoOps::IsVPlaneFirst);
    Store(t.BytesFromPixels, &VideoInfoOps::BytesFromPixels);
    Store(t.RowSize, &VideoInfoOps::RowSize);
    Store(t.BMPSize, &VideoInfoOps::BMPSize);
    Store(t.AudioSamplesFromFrames, &VideoInfoOps::AudioSamplesFromFrames);
    Store(t.FramesFromAudioSamples, &VideoInfoOps::FramesFromAudioSamples);
    Store(t.AudioSamplesFromBytes, &VideoInfoOps::AudioSamplesFromBytes);
    Store(t.BytesFromAudioSamples, &VideoInfoOps::BytesFromAudioSamples);
    Store(t.AudioChannels, &VideoInfoOps::AudioChannels);
    Store(t.SampleType, &VideoInfoOps::SampleType);
    Store(t.IsSampleType, &VideoInfoOps::IsSampleType);
    Store(t.SamplesPerSecond, &VideoInfoOps::SamplesPerSecond);
    Store(t.BytesPerAudioSample, &VideoInfoOps::BytesPerAudioSample);
    Store(t.SetFieldBased, &VideoInfoOps::SetFieldBased);
    Store(t.Set, &VideoInfoOps::Set);
    Store(t.Clear, &VideoInfoOps::Clear);
    Store(t.GetPlaneWidthSubsampling, &VideoInfoOps::GetPlaneWidthSubsampling);
    Store(t.GetPlaneHeightSubsampling, &VideoInfoOps::GetPlaneHeightSubsampling);
    Store(t.BitsPerPixel, &VideoInfoOps::BitsPerPixel);
    Store(t.BytesPerChannelSample, &VideoInfoOps::BytesPerChannelSample);
    Store(t.SetFPS, &VideoInfoOps::SetFPS);
    Store(t.MulDivFPS, &VideoInfoOps::MulDivFPS);
    Store(t.IsSameColorspace, &VideoInfoOps::IsSameColorspace);

    Store(t.VFBGetReadPtr, &FrameBufferOps::GetReadPtr);
    Store(t.VFBGetWritePtr, &FrameBufferOps::GetWritePtr);
    Store(t.GetDataSize, &FrameBufferOps::GetDataSize);
    Store(t.GetSequenceNumber, &FrameBufferOps::GetSequenceNumber);
    Store(t.GetRefcount, &FrameBufferOps::GetRefcount);

    Store(t.GetPitch, &FrameOps::GetPitch);
    Store(t.GetRowSize, &FrameOps::GetRowSize);
    Store(t.GetHeight, &FrameOps::GetHeight);
    Store(t.GetFrameBuffer, &FrameOps::GetFrameBuffer);
    Store(t.GetOffset, &FrameOps::GetOffset);
    Store(t.VFGetReadPtr, &FrameOps::GetReadPtr);
    Store(t.IsWritable, &FrameOps::IsWritable);
    Store(t.VFGetWritePtr, &FrameOps::GetWritePtr);
    Store(t.VideoFrame_DESTRUCTOR, &FrameOps::Destroy);

    Store(t.PClip_CONSTRUCTOR0, &ClipOps::Construct0);
    Store(t.PClip_CONSTRUCTOR1, &ClipOps::Construct1);
    Store(t.PClip_CONSTRUCTOR2, &ClipOps::Construct2);
    Store(t.PClip_OPERATOR_ASSIGN0, &ClipOps::Assign0);
    Store(t.PClip_OPERATOR_ASSIGN1, &ClipOps::Assign1);
    Store(t.PClip_DESTRUCTOR, &ClipOps::Destroy);

    Store(t.PVideoFrame_CONSTRUCTOR0, &FrameHandleOps::Construct0);
    Store(t.PVideoFrame_CONSTRUCTOR1, &FrameHandleOps::Construct1);
    Store(t.PVideoFrame_CONSTRUCTOR2, &FrameHandleOps::Construct2);
    Store(t.PVideoFrame_OPERATOR_ASSIGN0, &FrameHandleOps::Assign0);
    Store(t.PVideoFrame_OPERATOR_ASSIGN1, &FrameHandleOps::Assign1);
    Store(t.PVideoFrame_DESTRUCTOR, &FrameHandleOps::Destroy);

    Store(t.AVSValue_CONSTRUCTOR0, &ValueOps::Construct0);
    Store(t.AVSValue_CONSTRUCTOR1, &ValueOps::Construct1);
    Store(t.AVSValue_CONSTRUCTOR2, &ValueOps::Construct2);
    Store(t.AVSValue_CONSTRUCTOR3, &ValueOps::Construct3);
    Store(t.AVSValue_CONSTRUCTOR4, &ValueOps::Construct4);
    Store(t.AVSValue_CONSTRUCTOR5, &ValueOps::Construct5);
    Store(t.AVSValue_CONSTRUCTOR6, &ValueOps::Construct6);
    Store(t.AVSValue_CONSTRUCTOR7, &ValueOps::Construct7);
    Store(t.AVSValue_CONSTRUCTOR8, &ValueOps::Construct8);
    Store(t.AVSValue_CONSTRUCTOR9, &ValueOps::Construct9);
    Store(t.AVSValue_DESTRUCTOR, &ValueOps::Destroy);
    Store(t.AVSValue_OPERATOR_ASSIGN, &ValueOps::Assign);
    Store(t.AVSValue_OPERATOR_INDEX, &ValueOps::Index);
    Store(t.Defined, &ValueOps::Defined);
    Store(t.IsClip, &ValueOps::IsClip);
    Store(t.IsBool, &ValueOps::IsBool);
    Store(t.IsInt, &ValueOps::IsInt);
    Store(t.IsFloat, &ValueOps::IsFloat);
    Store(t.IsString, &ValueOps::IsString);
    Store(t.IsArray, &ValueOps::IsArray);
    Store(t.AsClip, &ValueOps::AsClip);
    Store(t.AsBool1, &ValueOps::AsBool1);
    Store(t.AsInt1, &ValueOps::AsInt1);
    Store(t.AsString1, &ValueOps::AsString1);
    Store(t.AsFloat1, &ValueOps::AsFloat1);
    Store(t.AsBool2, &ValueOps::AsBool2);
    Store(t.AsInt2, &ValueOps::AsInt2);
    Store(t.AsDblDef, &ValueOps::AsDblDef);
    Store(t.AsFloat2, &ValueOps::AsFloat2);
    Store(t.AsString2, &ValueOps::AsString2);
    Store(t.ArraySize, &ValueOps::ArraySize);

    for (auto& slot : t.reserved) Store(slot, &VideoInfoOps::Reserved);
    for (auto& slot : storage.extra) Store(slot, &VideoInfoOps::Reserved);
    return storage;
}

LinkageStorage storage = BuildTable();

}  // namespace

const AVS_Linkage& Table() { return storage.table; }

bool SetReportedTableSize(int size) {
    if (size > static_cast<int>(sizeof(LinkageStorage))) return false;
    storage.table.Size = size;
    return true;
}

void ResetReportedTableSize() { storage.table.Size = static_cast<int>(sizeof(AVS_Linkage)); }

namespace {

const PixelFormat kPixelFormats[] = {
    {"YV12", kPixelYV12, 12},           {"YV411", kPixelYV411, 12},         {"YV24", kPixelYV24, 24},
    {"YV16", kPixelYV16, 16},           {"Y8", kPixelY8, 8},                {"YUY2", kPixelYUY2, 16},
    {"RGB24", kPixelRGB24, 24},         {"RGB32", kPixelRGB32, 32},         {"YUV420P10", kPixelYUV420P10, 24},
    {"YUV444P16", kPixelYUV444P16, 48}, {"RGBP", kPixelRGBP, 24},           {"RGBAP10", kPixelRGBAP10, 64},
    {"YUVA420", kPixelYUVA420, 20},     {"Y16", kPixelY16, 16},             {"RGB48", kPixelRGB48, 48},
    {"RGB64", kPixelRGB64, 64},         {"YUV420PS", kPixelYUV420PS, 48},   {"Y32", kPixelY32, 32},
};

}  // namespace

const PixelFormat* PixelFormatNamed(const std::string& name) {
    for (const PixelFormat& format : kPixelFormats) {
        if (name == format.name) return &format;
    }
    return nullptr;
}

const PixelFormat* PixelFormatOf(int pixelType) {
    for (const PixelFormat& format : kPixelFormats) {
        if (pixelType == format.type) return &format;
    }
    return nullptr;
}

int BitsPerPixelOf(int pixelType) {
    const PixelFormat* format = PixelFormatOf(pixelType);
    return format ? format->bitsPerPixel : 0;
}

int BytesPerChannelSampleOf(int sampleType) {
    switch (sampleType) {
        case SAMPLE_INT8: return 1;
        case SAMPLE_INT16: return 2;
        case SAMPLE_INT24: return 3;
        case SAMPLE_INT32: return 4;
        case SAMPLE_FLOAT: return 4;
        default: return 0;
    }
}

}  // namespace testfs

const AVS_Linkage* AVS_linkage = &testfs::Table();

// ------------------------------------------------------------------------
// This library's own handle and value operations: straight through its table.

namespace {
const AVS_Linkage& T() { return testfs::Table(); }
}  // namespace

bool VideoInfo::HasVideo() const { return (this->*T().HasVideo)(); }
bool VideoInfo::HasAudio() const { return (this->*T().HasAudio)(); }
bool VideoInfo::IsRGB() const { return (this->*T().IsRGB)(); }
bool VideoInfo::IsRGB24() const { return (this->*T().IsRGB24)(); }
bool VideoInfo::IsRGB32() const { return (this->*T().IsRGB32)(); }
bool VideoInfo::IsYUV() const { return (this->*T().IsYUV)(); }
bool VideoInfo::IsYUY2() const { return (this->*T().IsYUY2)(); }
bool VideoInfo::IsYV24() const { return (this->*T().IsYV24)(); }
bool VideoInfo::IsYV16() const { return (this->*T().IsYV16)(); }
bool VideoInfo::IsYV12() const { return (this->*T().IsYV12)(); }
bool VideoInfo::IsYV411() const { return (this->*T().IsYV411)(); }
bool VideoInfo::IsY8() const { return (this->*T().IsY8)(); }
bool VideoInfo::IsPlanar() const { return (this->*T().IsPlanar)(); }
bool VideoInfo::IsFieldBased() const { return (this->*T().IsFieldBased)(); }
bool VideoInfo::IsParityKnown() const { return (this->*T().IsParityKnown)(); }
bool VideoInfo::IsBFF() const { return (this->*T().IsBFF)(); }
bool VideoInfo::IsTFF() const { return (this->*T().IsTFF)(); }
int VideoInfo::AudioChannels() const { return (this->*T().AudioChannels)(); }
int VideoInfo::SampleType() const { return (this->*T().SampleType)(); }
int VideoInfo::SamplesPerSecond() const { return (this->*T().SamplesPerSecond)(); }

PClip::PClip() { (this->*T().PClip_CONSTRUCTOR0)(); }
PClip::PClip(const PClip& other) { (this->*T().PClip_CONSTRUCTOR1)(other); }
PClip::PClip(IClip* clip) { (this->*T().PClip_CONSTRUCTOR2)(clip); }
PClip& PClip::operator=(IClip* clip) { return (this->*T().PClip_OPERATOR_ASSIGN0)(clip); }
PClip& PClip::operator=(const PClip& other) { return (this->*T().PClip_OPERATOR_ASSIGN1)(other); }
PClip::~PClip() { (this->*T().PClip_DESTRUCTOR)(); }

PVideoFrame::PVideoFrame() { (this->*T().PVideoFrame_CONSTRUCTOR0)(); }
PVideoFrame::PVideoFrame(const PVideoFrame& other) { (this->*T().PVideoFrame_CONSTRUCTOR1)(other); }
PVideoFrame::PVideoFrame(VideoFrame* frame) { (this->*T().PVideoFrame_CONSTRUCTOR2)(frame); }
PVideoFrame& PVideoFrame::operator=(VideoFrame* frame) { return (this->*T().PVideoFrame_OPERATOR_ASSIGN0)(frame); }
PVideoFrame& PVideoFrame::operator=(const PVideoFrame& other) {
    return (this->*T().PVideoFrame_OPERATOR_ASSIGN1)(other);
}
PVideoFrame::~PVideoFrame() { (this->*T().PVideoFrame_DESTRUCTOR)(); }

void AVSValue::MakeVoid() { (this->*T().AVSValue_CONSTRUCTOR0)(); }
AVSValue::AVSValue() { (this->*T().AVSValue_CONSTRUCTOR0)(); }
AVSValue::AVSValue(IClip* clip) { (this->*T().AVSValue_CONSTRUCTOR1)(clip); }
AVSValue::AVSValue(const PClip& clip) { (this->*T().AVSValue_CONSTRUCTOR2)(clip); }
AVSValue::AVSValue(bool b) { (this->*T().AVSValue_CONSTRUCTOR3)(b); }
AVSValue::AVSValue(int i) { (this->*T().AVSValue_CONSTRUCTOR4)(i); }
AVSValue::AVSValue(float f) { (this->*T().AVSValue_CONSTRUCTOR5)(f); }
AVSValue::AVSValue(double d) { (this->*T().AVSValue_CONSTRUCTOR6)(d); }
AVSValue::AVSValue(const char* s) { (this->*T().AVSValue_CONSTRUCTOR7)(s); }
AVSValue::AVSValue(const AVSValue* array, int size) { (this->*T().AVSValue_CONSTRUCTOR8)(array, size); }
AVSValue::AVSValue(const AVSValue& other) { (this->*T().AVSValue_CONSTRUCTOR9)(other); }
AVSValue::~AVSValue() { (this->*T().AVSValue_DESTRUCTOR)(); }
AVSValue& AVSValue::operator=(const AVSValue& other) { return (this->*T().AVSValue_OPERATOR_ASSIGN)(other); }
const AVSValue& AVSValue::operator[](int index) const { return (this->*T().AVSValue_OPERATOR_INDEX)(index); }
bool AVSValue::Defined() const { return (this->*T().Defined)(); }
bool AVSValue::IsClip() const { return (this->*T().IsClip)(); }
bool AVSValue::IsBool() const { return (this->*T().IsBool)(); }
bool AVSValue::IsInt() const { return (this->*T().IsInt)(); }
bool AVSValue::IsFloat() const { return (this->*T().IsFloat)(); }
bool AVSValue::IsString() const { return (this->*T().IsString)(); }
bool AVSValue::IsArray() const { return (this->*T().IsArray)(); }
PClip AVSValue::AsClip() const { return (this->*T().AsClip)(); }
bool AVSValue::AsBool() const { return (this->*T().AsBool1)(); }
int AVSValue::AsInt() const { return (this->*T().AsInt1)(); }
const char* AVSValue::AsString() const { return (this->*T().AsString1)(); }
double AVSValue::AsFloat() const { return (this->*T().AsFloat1)(); }
int AVSValue::ArraySize() const { return (this->*T().ArraySize)(); }
