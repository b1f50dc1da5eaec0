// The frame-server session against the test frame server: how each kind of
// failure of a guarded region comes back, and the clip's facts as plain
// values.
#include <gtest/gtest.h>

#include <string>

#include "frameserver/FrameSource.h"
#include "frameserver/Session.h"
#include "platform/Library.h"
#include "report/ClipReport.h"
#include "tests/support/ScratchDir.h"
#include "tests/unit/TestFSSession.h"

#if defined(__SANITIZE_ADDRESS__)
#define TACHORO_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TACHORO_LEAK_CHECKER 1
#endif
#endif
#if TACHORO_LEAK_CHECKER
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// What a session abandons by design (an environment it may not delete) is
// no leak of the test's: the leak checker ignores what this thread
// allocates while one of these lives, if `abandoned`.
class AbandonedByDesign {
public:
    explicit AbandonedByDesign(bool abandoned) : abandoned_(abandoned) {
#if TACHORO_LEAK_CHECKER
        if (abandoned_) __lsan_disable();
#endif
    }
    ~AbandonedByDesign() {
#if TACHORO_LEAK_CHECKER
        if (abandoned_) __lsan_enable();
#endif
    }
    AbandonedByDesign(const AbandonedByDesign&) = delete;
    AbandonedByDesign& operator=(const AbandonedByDesign&) = delete;

private:
    bool abandoned_;
};

// Opens the test frame server, evaluates a script with this text and
// requests its first frame, inside one region; the session stays open for
// the caller.
RunEnding EvaluateIn(FrameServerContext& session, ScratchDir& scratch, const std::string& text) {
    const std::string path = scratch.Path("clip.avs");
    EXPECT_TRUE(WriteBytes(path, text));
    EXPECT_TRUE(session.Load(TESTFS_LIBRARY));
    return RunFrameServerRegion(
        [&] {
            EXPECT_EQ(session.CreateEnvironment(7), EnvironmentOutcome::Ready);
            session.Evaluate(path, ScriptChecks{"not a clip: %s"}, true);
            session.Frames().Fetch(0);
        },
        [] { return std::string("other"); });
}

TEST(FrameServerSession, EachFailureComesBackAsItsKindWithItsText) {
    const struct {
        const char* script;
        RunEnding::Kind end;
        std::string text;  // a prefix for the script's path
    } cases[] = {
        {"frames=10\n", RunEnding::Kind::Completed, ""},
        {"import_error=Bad thing\n", RunEnding::Kind::FrameServerError, "Bad thing"},
        {"return=int\n", RunEnding::Kind::FrameServerError, "not a clip: "},
        {"fail_at=0\nfail_message=broken frame\n", RunEnding::Kind::FrameServerError, "broken frame"},
        {"fail_at=0\nfail_with=access_violation\n", RunEnding::Kind::Fault,
         "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION"},
        {"fail_at=0\nfail_with=foreign\n", RunEnding::Kind::Exception, "other"},
    };
    for (const auto& c : cases) {
        ScratchDir scratch;
        FrameServerContext session;
        const RunEnding result = EvaluateIn(session, scratch, c.script);
        EXPECT_EQ(result.How, c.end) << c.script;
        EXPECT_EQ(result.Message.rfind(c.text, 0), 0u) << c.script << result.Message;
        EXPECT_EQ(result.Failed(), c.end != RunEnding::Kind::Completed) << c.script;
        // The handler has ended: the environment that held the message and
        // the library may go; the copied message outlives them.
        const std::string copied = result.Message;
        session.ReleaseScript();
        EXPECT_TRUE(session.Unload()) << c.script;
        EXPECT_EQ(result.Message, copied);
    }
}

TEST(FrameServerSession, ClipFactsArePlainValues) {
    const struct {
        const char* script;
        ColourSpace colour;
        const char* pixelTypeName;  // asked only when no classic predicate holds
        bool audioOnly;
        uint32_t framesToRead;
        bool topFieldFirst, bottomFieldFirst;
        int64_t lengthMs;
    } cases[] = {
        {"frames=250\nfps=25\n", ColourSpace::YV12, "", false, 250, false, false, 10000},
        {"frames=3\nfps=30000/1001\npixel_type=RGB32\nfield_based=tff\n", ColourSpace::RGB32, "", false, 3, true, false,
         100},
        {"frames=3\npixel_type=YUY2\nfield_based=bff\n", ColourSpace::YUY2, "", false, 3, false, true, 120},
        {"frames=3\nfps=0/1\npixel_type=none\n", ColourSpace::Unknown, "", false, 3, false, false, 0},
        {"frames=3\npixel_type=YUV420P10\n", ColourSpace::Unknown, "YUV420P10", false, 3, false, false, 120},
        {"video=none\nsample_rate=48000\naudio_channels=2\naudio_samples=96000\n", ColourSpace::NoVideo, "", true, 0,
         false, false, 0},
    };
    for (const auto& c : cases) {
        ScratchDir scratch;
        FrameServerContext session;
        ASSERT_FALSE(EvaluateIn(session, scratch, c.script).Failed()) << c.script;
        const ClipFacts facts = session.Facts();
        EXPECT_EQ(facts.Colour, c.colour) << c.script;
        EXPECT_EQ(facts.PixelTypeName, c.pixelTypeName) << c.script;
        EXPECT_EQ(facts.AudioOnly, c.audioOnly) << c.script;
        EXPECT_EQ(facts.FramesToRead, c.framesToRead) << c.script;
        EXPECT_EQ(facts.TopFieldFirst, c.topFieldFirst) << c.script;
        EXPECT_EQ(facts.BottomFieldFirst, c.bottomFieldFirst) << c.script;
        EXPECT_EQ(facts.LengthMs, c.lengthMs) << c.script;
        session.ReleaseScript();
        EXPECT_TRUE(session.Close()) << c.script;
    }
}

TEST(ClipReport, ColourSpaceNameTakesTheFrameServersNameOnlyWhenNoPredicateHolds) {
    const struct {
        ColourSpace colour;
        std::string pixelTypeName;
        const char* shown;
    } cases[] = {
        {ColourSpace::YV12, "", "YV12"},
        {ColourSpace::YV411, "YUV420P10", "YV411"},  // a predicate holds: the classic name
        {ColourSpace::Unknown, "", "Unknown"},
        {ColourSpace::Unknown, "Y16", "Y16"},
        {ColourSpace::Unknown, "YUVA420", "YUVA420"},
        {ColourSpace::Unknown, "YUV420P10", "YUV420P10"},
        {ColourSpace::NoVideo, "", "n/a"},
        {ColourSpace::NoVideo, "Y32", "n/a"},
        // A name unfit for the console and the log is no name.
        {ColourSpace::Unknown, "Y16\n\x1b[2J", "Unknown"},
        {ColourSpace::Unknown, "Y 16", "Unknown"},
        {ColourSpace::Unknown, std::string(33, 'Y'), "Unknown"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ColourSpaceName(c.colour, c.pixelTypeName), c.shown) << c.pixelTypeName;
    }
}

// After a failed region: over the class interface the library is unloaded
// with the environment left as it is; over the C interface the environment
// is deleted first after an error that came back (or unwound) through the
// library, and the library stays loaded after a processor fault.
TEST(FrameServerSession, AFailedSessionEndsAsItsInterfaceAllows) {
#if TACHORO_FRAMESERVER_C
    const bool overC = true;
#else
    const bool overC = false;
#endif
    const struct {
        const char* script;
        RunEnding::Kind end;
    } cases[] = {
        {"fail_at=0\n", RunEnding::Kind::FrameServerError},
        {"fail_at=0\nfail_with=foreign\n", RunEnding::Kind::Exception},
        {"fail_at=0\nfail_with=access_violation\n", RunEnding::Kind::Fault},
    };
    for (const auto& c : cases) {
        const bool deletes = overC && c.end != RunEnding::Kind::Fault;
        const AbandonedByDesign abandoned(!deletes);
        ScratchDir scratch;
        const std::string countersFile = scratch.Path("counters.txt");
        ScopedVariable counters("TESTFS_COUNTERS_FILE", countersFile.c_str());
        FrameServerContext session;
        ASSERT_EQ(EvaluateIn(session, scratch, c.script).How, c.end) << c.script;
        EXPECT_TRUE(session.UnloadAfter(c.end)) << c.script;

        // A load and a release of our own: it unloads the library only when
        // the session left it loaded.
        void* again = platform::LoadDynamicLibrary(TESTFS_LIBRARY);
        ASSERT_NE(again, nullptr);
        const bool keptLoaded = ReadBytes(countersFile).empty();
        EXPECT_EQ(keptLoaded, overC && c.end == RunEnding::Kind::Fault) << c.script;
        platform::FreeDynamicLibrary(again);
        if (keptLoaded) platform::FreeDynamicLibrary(again);  // the session's reference
        const std::string first = ReadBytes(countersFile).substr(0, ReadBytes(countersFile).find('\n'));
        const bool deleted = first.find("environments_deleted=1") != std::string::npos;
        EXPECT_EQ(deleted, deletes) << c.script << "\n" << first;
        if (deleted) {
            EXPECT_NE(first.find("clips_alive_at_delete=0"), std::string::npos) << first;
            EXPECT_NE(first.find("frames_alive_at_delete=0"), std::string::npos) << first;
        }
    }
}

}  // namespace
