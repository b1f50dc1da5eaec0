// Internals shared by the parts of the test frame server.
#pragma once

#include <cstdint>
#include <string>

#if defined(_WIN32)
#define TESTFS_EXPORT __declspec(dllexport)
#else
#define TESTFS_EXPORT __attribute__((visibility("default")))
#endif

// The table pointer is exported (the installation check looks for its name
// among the exports); it must be declared so before the shared declarations.
struct AVS_Linkage;
extern TESTFS_EXPORT const AVS_Linkage* AVS_linkage;

#include "frameserver/Avisynth.h"
#include "tests/testfs/TestFSCounters.h"

extern "C" TESTFS_EXPORT IScriptEnvironment* CreateScriptEnvironment(int version);

namespace testfs {

// VideoInfo::pixel_type as the frame server encodes it (C clients read the
// bits themselves): family and layout bits, plus a format's own bits.
enum : int {
    kFamilyRGB = 1 << 28,
    kFamilyYUV = 1 << 29,
    kLayoutInterleaved = 1 << 30,
    kLayoutPlanar = INT32_MIN,  // bit 31
    kVPlaneFirst = 1 << 3,
    kFamilyYUVA = 1 << 27,
    kSampleBits10 = 5 << 16,
    kSampleBits16 = 1 << 16,
    kSampleBits32 = 2 << 16,

    kPixelNone = 0,
    kPixelYV12 = kLayoutPlanar | kFamilyYUV | kVPlaneFirst,
    kPixelYV411 = kLayoutPlanar | kFamilyYUV | kVPlaneFirst | 1 | (3 << 8),
    kPixelYV24 = kLayoutPlanar | kFamilyYUV | kVPlaneFirst | 3 | (3 << 8),
    kPixelYV16 = kLayoutPlanar | kFamilyYUV | kVPlaneFirst | (3 << 8),
    kPixelY8 = kLayoutPlanar | kLayoutInterleaved | kFamilyYUV,
    kPixelYUY2 = 4 | kFamilyYUV | kLayoutInterleaved,
    kPixelRGB24 = 1 | kFamilyRGB | kLayoutInterleaved,
    kPixelRGB32 = 2 | kFamilyRGB | kLayoutInterleaved,
    // Formats of newer libraries, as they encode them: no classic predicate
    // holds for them.
    kPixelYUV420P10 = kPixelYV12 | kSampleBits10,
    kPixelYUV444P16 = kPixelYV24 | kSampleBits16,
    kPixelRGBP = kLayoutPlanar | kFamilyRGB | 1,
    kPixelRGBAP10 = kLayoutPlanar | kFamilyRGB | 2 | kSampleBits10,
    kPixelYUVA420 = kLayoutPlanar | kFamilyYUVA | kVPlaneFirst,
    kPixelY16 = kPixelY8 | kSampleBits16,
    kPixelRGB48 = kPixelRGB24 | kSampleBits16,
    kPixelRGB64 = kPixelRGB32 | kSampleBits16,
    kPixelYUV420PS = kPixelYV12 | kSampleBits32,
    kPixelY32 = kPixelY8 | kSampleBits32,
};

// A pixel type a script can name; the name is also what "PixelType" answers,
// as the real frame server names it.
struct PixelFormat {
    const char* name;
    int type;
    int bitsPerPixel;
};
// Null when no format has that name or type.
const PixelFormat* PixelFormatNamed(const std::string& name);
const PixelFormat* PixelFormatOf(int pixelType);

// VideoInfo::image_type bits.
enum : int {
    kImageBFF = 1 << 0,
    kImageTFF = 1 << 1,
    kImageFieldBased = 1 << 2,
};

// Plane numbers understood by the row size and subsampling entries.
enum : int {
    kPlaneY = 1,
    kPlaneU = 2,
    kPlaneV = 4,
};

enum class Fault { None, AvisynthError, AccessViolation, DivideByZero, StackOverflow, Foreign, RuntimeError };

// Raises `fault` for real. AvisynthError goes through env->ThrowError when an
// environment is given, so that the message lives in the environment.
// RuntimeError throws std::runtime_error with the message (a default text
// when it is empty), as a filter using the standard library might.
[[noreturn]] void RaiseFault(Fault fault, IScriptEnvironment* env, const std::string& message);

// The class of the "foreign" fault: nothing the program catching it knows.
struct ForeignException {
    int code;
};

enum class ResultKind { Clip, Int, String, Float };

struct ClipSpec {
    VideoInfo vi{};
    int failAt = -1;  // frame number whose request fails; -1: none
    int failInLoad = 0;  // only in this load of the library (see LoadIndex); 0: every load
    Fault failWith = Fault::AvisynthError;
    std::string failMessage;  // empty: "frame K failed"
    int64_t frameDelayUs = 0;
    int64_t framePaceUs = 0;  // the k-th request returns no sooner than k times this after the first
    int burst = 1;  // only every burst-th frame waits frameDelayUs; the rest are ready at once
    bool workerThread = false;  // frames are rendered on a thread of the clip's own
};

struct ScriptSpec {
    ClipSpec clip;
    ResultKind result = ResultKind::Clip;
    bool hasImportError = false;
    std::string importError;
    Fault importFault = Fault::None;
    int64_t importDelayUs = 0;
    std::string delayGlobal;  // the clip's frame delay is this global's value (frame_delay_from)
};

// A whole decimal number (optional '-', digits, nothing else) within
// [minimum, maximum]. Written by hand: the standard conversions would bring in
// symbols that keep the library from ever being unloaded.
bool ParseInteger(const std::string& text, int64_t minimum, int64_t maximum, int64_t& value);
std::string DecimalText(int64_t value);

// Reads the directives of a script text. False with `error` on a line that
// is not understood.
bool ParseScript(const std::string& text, ScriptSpec& spec, std::string& error);

// ------------------------------------------------------------ counters

TestFSCounters& Counters();
// 1 for the first load of the library in this process, 2 for the next...
int LoadIndex();
// True while no environment is alive after at least one was deleted: handle
// operations then touch objects of a deleted environment.
bool AfterDelete();
// Counts a handle or value operation that touched a library object.
void NoteHandleOperation(bool touchesObject);
void NoteFrameCreated();
void NoteFrameDestroyed();

// -------------------------------------------------------- linkage table

// The full table this library uses for its own handle and value operations.
const AVS_Linkage& Table();
// The size the table reports to its users; false when `size` is larger than
// the storage behind the table.
bool SetReportedTableSize(int size);
void ResetReportedTableSize();

// --------------------------------------------------------- clips, frames

// Base of every clip: reference-counted, counted alive while it exists.
class CountedClip : public IClip {
public:
    CountedClip();
    ~CountedClip() override;
    CountedClip(const CountedClip&) = delete;
    CountedClip& operator=(const CountedClip&) = delete;

    void AddRef() { ++references_; }
    void Release() {
        if (--references_ == 0) delete this;
    }
    int References() const { return references_; }

private:
    int references_ = 0;
};

// A frame. Pixels are never read by the program under test, so a frame owns
// no pixel memory; its read and write pointers are null.
struct Frame {
    explicit Frame(const VideoInfo& vi);
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    int references = 0;
    int rowSize = 0;
    int height = 0;
    int sequenceNumber = 0;
};

inline VideoFrame* AsVideoFrame(Frame* frame) { return reinterpret_cast<VideoFrame*>(frame); }
inline Frame* AsFrame(VideoFrame* frame) { return reinterpret_cast<Frame*>(frame); }
inline const Frame* AsFrame(const VideoFrame* frame) { return reinterpret_cast<const Frame*>(frame); }

// The clip a script describes.
IClip* NewScriptClip(const ClipSpec& spec);
// The clip "Distributor" returns: forwards everything to `child`.
IClip* NewDistributorClip(const PClip& child);

// Busy-waits `microseconds` on a monotonic clock.
void SpendMicroseconds(int64_t microseconds);

// Per pixel format, for the VideoInfo entries.
int BitsPerPixelOf(int pixelType);
int BytesPerChannelSampleOf(int sampleType);

}  // namespace testfs
