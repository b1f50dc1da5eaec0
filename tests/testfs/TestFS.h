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

namespace testfs {

// Our own encoding of VideoInfo::pixel_type: a format number in the low byte
// plus family and layout bits.
enum : int {
    kFamilyRGB = 1 << 8,
    kFamilyYUV = 1 << 9,
    kLayoutPlanar = 1 << 10,

    kPixelNone = 0,
    kPixelYV12 = 1 | kFamilyYUV | kLayoutPlanar,
    kPixelYV411 = 2 | kFamilyYUV | kLayoutPlanar,
    kPixelYV24 = 3 | kFamilyYUV | kLayoutPlanar,
    kPixelYV16 = 4 | kFamilyYUV | kLayoutPlanar,
    kPixelY8 = 5 | kFamilyYUV | kLayoutPlanar,
    kPixelYUY2 = 6 | kFamilyYUV,
    kPixelRGB24 = 7 | kFamilyRGB,
    kPixelRGB32 = 8 | kFamilyRGB,
};

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
    bool workerThread = false;  // frames are rendered on a thread of the clip's own
};

struct ScriptSpec {
    ClipSpec clip;
    ResultKind result = ResultKind::Clip;
    bool hasImportError = false;
    std::string importError;
    Fault importFault = Fault::None;
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
