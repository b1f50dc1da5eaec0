// The client side of the frame server's linkage table: every operation on
// VideoInfo, PClip, PVideoFrame and AVSValue is forwarded to the function the
// loaded library placed in its table. An entry is only used when the table is
// set and the library built it large enough to contain that entry; otherwise
// the operation does nothing and yields false, 0, a null handle or a void
// value, so that a missing or older library can never be called through a
// slot it does not have.
#include <cstddef>

#include "frameserver/Avisynth.h"

const AVS_Linkage* AVS_linkage = nullptr;

// The member pointer of table entry `entry`, or null when it may not be used.
#define LINKAGE_ENTRY(entry)                                                     \
    ((AVS_linkage != nullptr &&                                                  \
      static_cast<long long>(offsetof(AVS_Linkage, entry)) < AVS_linkage->Size) \
         ? AVS_linkage->entry                                                    \
         : nullptr)

namespace {

// Calls a const entry on `self`, or yields `fallback` when the entry is unusable.
template <class Self, class Entry, class Result, class... Args>
Result CallOr(const Self* self, Entry entry, Result fallback, Args... args) {
    return entry ? (self->*entry)(args...) : fallback;
}

// A void value for lookups that cannot be answered. It is created once and
// never destroyed, so no table call can happen for it at process exit.
class DetachedVoidValue : public AVSValue {
public:
    DetachedVoidValue() { MakeVoid(); }
};

const AVSValue& DetachedVoid() {
    static const AVSValue* const value = new DetachedVoidValue();
    return *value;
}

}  // namespace

// ------------------------------------------------------------- VideoInfo

bool VideoInfo::HasVideo() const { return CallOr(this, LINKAGE_ENTRY(HasVideo), false); }
bool VideoInfo::HasAudio() const { return CallOr(this, LINKAGE_ENTRY(HasAudio), false); }
bool VideoInfo::IsRGB() const { return CallOr(this, LINKAGE_ENTRY(IsRGB), false); }
bool VideoInfo::IsRGB24() const { return CallOr(this, LINKAGE_ENTRY(IsRGB24), false); }
bool VideoInfo::IsRGB32() const { return CallOr(this, LINKAGE_ENTRY(IsRGB32), false); }
bool VideoInfo::IsYUV() const { return CallOr(this, LINKAGE_ENTRY(IsYUV), false); }
bool VideoInfo::IsYUY2() const { return CallOr(this, LINKAGE_ENTRY(IsYUY2), false); }
bool VideoInfo::IsYV24() const { return CallOr(this, LINKAGE_ENTRY(IsYV24), false); }
bool VideoInfo::IsYV16() const { return CallOr(this, LINKAGE_ENTRY(IsYV16), false); }
bool VideoInfo::IsYV12() const { return CallOr(this, LINKAGE_ENTRY(IsYV12), false); }
bool VideoInfo::IsYV411() const { return CallOr(this, LINKAGE_ENTRY(IsYV411), false); }
bool VideoInfo::IsY8() const { return CallOr(this, LINKAGE_ENTRY(IsY8), false); }
bool VideoInfo::IsPlanar() const { return CallOr(this, LINKAGE_ENTRY(IsPlanar), false); }
bool VideoInfo::IsFieldBased() const { return CallOr(this, LINKAGE_ENTRY(IsFieldBased), false); }
bool VideoInfo::IsParityKnown() const { return CallOr(this, LINKAGE_ENTRY(IsParityKnown), false); }
bool VideoInfo::IsBFF() const { return CallOr(this, LINKAGE_ENTRY(IsBFF), false); }
bool VideoInfo::IsTFF() const { return CallOr(this, LINKAGE_ENTRY(IsTFF), false); }
int VideoInfo::AudioChannels() const { return CallOr(this, LINKAGE_ENTRY(AudioChannels), 0); }
int VideoInfo::SampleType() const { return CallOr(this, LINKAGE_ENTRY(SampleType), 0); }
int VideoInfo::SamplesPerSecond() const { return CallOr(this, LINKAGE_ENTRY(SamplesPerSecond), 0); }

// ----------------------------------------------------------------- PClip
// The pointer is cleared before each constructor call so that a handle is
// null whether or not the library gets to construct it.

PClip::PClip() : p(nullptr) {
    if (auto entry = LINKAGE_ENTRY(PClip_CONSTRUCTOR0)) (this->*entry)();
}

PClip::PClip(const PClip& other) : p(nullptr) {
    if (auto entry = LINKAGE_ENTRY(PClip_CONSTRUCTOR1)) (this->*entry)(other);
}

PClip::PClip(IClip* clip) : p(nullptr) {
    if (auto entry = LINKAGE_ENTRY(PClip_CONSTRUCTOR2)) (this->*entry)(clip);
}

PClip& PClip::operator=(IClip* clip) {
    if (auto entry = LINKAGE_ENTRY(PClip_OPERATOR_ASSIGN0)) (this->*entry)(clip);
    return *this;
}

PClip& PClip::operator=(const PClip& other) {
    if (auto entry = LINKAGE_ENTRY(PClip_OPERATOR_ASSIGN1)) (this->*entry)(other);
    return *this;
}

PClip::~PClip() {
    if (auto entry = LINKAGE_ENTRY(PClip_DESTRUCTOR)) (this->*entry)();
}

// ----------------------------------------------------------- PVideoFrame

PVideoFrame::PVideoFrame() : p(nullptr) {
    if (auto entry = LINKAGE_ENTRY(PVideoFrame_CONSTRUCTOR0)) (this->*entry)();
}

PVideoFrame::PVideoFrame(const PVideoFrame& other) : p(nullptr) {
    if (auto entry = LINKAGE_ENTRY(PVideoFrame_CONSTRUCTOR1)) (this->*entry)(other);
}

PVideoFrame::PVideoFrame(VideoFrame* frame) : p(nullptr) {
    if (auto entry = LINKAGE_ENTRY(PVideoFrame_CONSTRUCTOR2)) (this->*entry)(frame);
}

PVideoFrame& PVideoFrame::operator=(VideoFrame* frame) {
    if (auto entry = LINKAGE_ENTRY(PVideoFrame_OPERATOR_ASSIGN0)) (this->*entry)(frame);
    return *this;
}

PVideoFrame& PVideoFrame::operator=(const PVideoFrame& other) {
    if (auto entry = LINKAGE_ENTRY(PVideoFrame_OPERATOR_ASSIGN1)) (this->*entry)(other);
    return *this;
}

PVideoFrame::~PVideoFrame() {
    if (auto entry = LINKAGE_ENTRY(PVideoFrame_DESTRUCTOR)) (this->*entry)();
}

// -------------------------------------------------------------- AVSValue

void AVSValue::MakeVoid() {
    type = 'v';
    array_size = 0;
    longlong = 0;
}

AVSValue::AVSValue() {
    MakeVoid();
    if (auto entry = LINKAGE_ENTRY(AVSValue_CONSTRUCTOR0)) (this->*entry)();
}

AVSValue::AVSValue(IClip* clip) {
    MakeVoid();
    if (auto entry = LINKAGE_ENTRY(AVSValue_CONSTRUCTOR1)) (this->*entry)(clip);
}

AVSValue::AVSValue(const PClip& clip) {
    MakeVoid();
    if (auto entry = LINKAGE_ENTRY(AVSValue_CONSTRUCTOR2)) (this->*entry)(clip);
}

AVSValue::AVSValue(bool b) {
    MakeVoid();
    if (auto entry = LINKAGE_ENTRY(AVSValue_CONSTRUCTOR3)) (this->*entry)(b);
}

AVSValue::AVSValue(int i) {
    MakeVoid();
    if (auto entry = LINKAGE_ENTRY(AVSValue_CONSTRUCTOR4)) (this->*entry)(i);
}

AVSValue::AVSValue(float f) {
    MakeVoid();
    if (auto entry = LINKAGE_ENTRY(AVSValue_CONSTRUCTOR5)) (this->*entry)(f);
}

AVSValue::AVSValue(double d) {
    MakeVoid();
    if (auto entry = LINKAGE_ENTRY(AVSValue_CONSTRUCTOR6)) (this->*entry)(d);
}

AVSValue::AVSValue(const char* s) {
    MakeVoid();
    if (auto entry = LINKAGE_ENTRY(AVSValue_CONSTRUCTOR7)) (this->*entry)(s);
}

AVSValue::AVSValue(const AVSValue* array, int size) {
    MakeVoid();
    if (auto entry = LINKAGE_ENTRY(AVSValue_CONSTRUCTOR8)) (this->*entry)(array, size);
}

AVSValue::AVSValue(const AVSValue& other) {
    MakeVoid();
    if (auto entry = LINKAGE_ENTRY(AVSValue_CONSTRUCTOR9)) (this->*entry)(other);
}

AVSValue::~AVSValue() {
    if (auto entry = LINKAGE_ENTRY(AVSValue_DESTRUCTOR)) (this->*entry)();
}

AVSValue& AVSValue::operator=(const AVSValue& other) {
    if (auto entry = LINKAGE_ENTRY(AVSValue_OPERATOR_ASSIGN)) (this->*entry)(other);
    return *this;
}

const AVSValue& AVSValue::operator[](int index) const {
    if (auto entry = LINKAGE_ENTRY(AVSValue_OPERATOR_INDEX)) return (this->*entry)(index);
    return DetachedVoid();
}

bool AVSValue::Defined() const { return CallOr(this, LINKAGE_ENTRY(Defined), false); }
bool AVSValue::IsClip() const { return CallOr(this, LINKAGE_ENTRY(IsClip), false); }
bool AVSValue::IsBool() const { return CallOr(this, LINKAGE_ENTRY(IsBool), false); }
bool AVSValue::IsInt() const { return CallOr(this, LINKAGE_ENTRY(IsInt), false); }
bool AVSValue::IsFloat() const { return CallOr(this, LINKAGE_ENTRY(IsFloat), false); }
bool AVSValue::IsString() const { return CallOr(this, LINKAGE_ENTRY(IsString), false); }
bool AVSValue::IsArray() const { return CallOr(this, LINKAGE_ENTRY(IsArray), false); }

PClip AVSValue::AsClip() const {
    if (auto entry = LINKAGE_ENTRY(AsClip)) return (this->*entry)();
    return PClip();
}

bool AVSValue::AsBool() const { return CallOr(this, LINKAGE_ENTRY(AsBool1), false); }
int AVSValue::AsInt() const { return CallOr(this, LINKAGE_ENTRY(AsInt1), 0); }
const char* AVSValue::AsString() const {
    return CallOr(this, LINKAGE_ENTRY(AsString1), static_cast<const char*>(nullptr));
}
double AVSValue::AsFloat() const { return CallOr(this, LINKAGE_ENTRY(AsFloat1), 0.0); }
int AVSValue::ArraySize() const { return CallOr(this, LINKAGE_ENTRY(ArraySize), 0); }
