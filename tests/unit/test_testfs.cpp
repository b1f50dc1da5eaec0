// The test frame server as the program sees it across the library boundary:
// script directives read back through the VideoInfo predicates, Invoke and
// its exceptions, the environment variables, frame failures and the counters.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frameserver/Avisynth.h"
#include "platform/Errors.h"
#include "tests/unit/TestFSSession.h"

namespace {

// The colour-space predicates that hold, by name; exactly one for a known
// pixel type.
std::string ColourSpaces(const VideoInfo& vi) {
    std::string names;
    const auto add = [&names](bool holds, const char* name) {
        if (!holds) return;
        if (!names.empty()) names += ",";
        names += name;
    };
    add(vi.IsYV411(), "YV411");
    add(vi.IsYV24(), "YV24");
    add(vi.IsYV16(), "YV16");
    add(vi.IsY8(), "Y8");
    add(vi.IsYV12(), "YV12");
    add(vi.IsYUY2(), "YUY2");
    add(vi.IsRGB24(), "RGB24");
    add(vi.IsRGB32(), "RGB32");
    return names;
}

// Runs `body`; true when it throws something that is neither AvisynthError
// nor NotFound.
template <class Body>
bool ThrowsForeign(Body body) {
    try {
        body();
    } catch (const AvisynthError&) {
        return false;
    } catch (const IScriptEnvironment::NotFound&) {
        return false;
    } catch (...) {
        return true;
    }
    return false;
}

class TestFSTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.Loaded()) << platform::SystemErrorText();
        ASSERT_NE(nullptr, session.Open());
    }

    IScriptEnvironment* Env() { return session.Env(); }
    const TestFSCounters& Counters() const { return session.Counters(); }

    TestFSSession session;
};

// --------------------------------------------------------- clip directives

struct ClipCase {
    const char* name;
    const char* script;
    int width, height;
    unsigned fpsNumerator, fpsDenominator;
    int frames;
    const char* colourSpace;
    const char* fieldOrder;  // "" frame-based, "tff", "bff", "unknown"
    bool hasVideo, hasAudio;
    int channels, sampleType, sampleRate;
    int64_t samples;
};

std::ostream& operator<<(std::ostream& out, const ClipCase& c) { return out << c.name; }

class ClipDirectiveTest : public TestFSTest, public ::testing::WithParamInterface<ClipCase> {};

TEST_P(ClipDirectiveTest, ReadsBackThroughThePredicates) {
    const ClipCase& c = GetParam();
    const VideoInfo vi = session.ImportInfo(c.script);
    EXPECT_EQ(c.width, vi.width);
    EXPECT_EQ(c.height, vi.height);
    EXPECT_EQ(c.fpsNumerator, vi.fps_numerator);
    EXPECT_EQ(c.fpsDenominator, vi.fps_denominator);
    EXPECT_EQ(c.frames, vi.num_frames);
    EXPECT_EQ(c.colourSpace, ColourSpaces(vi));

    const std::string order = c.fieldOrder;
    EXPECT_EQ(!order.empty(), vi.IsFieldBased());
    EXPECT_EQ(order == "tff", vi.IsTFF());
    EXPECT_EQ(order == "bff", vi.IsBFF());
    EXPECT_EQ(order == "tff" || order == "bff", vi.IsParityKnown());

    EXPECT_EQ(c.hasVideo, vi.HasVideo());
    EXPECT_EQ(c.hasAudio, vi.HasAudio());
    EXPECT_EQ(c.channels, vi.AudioChannels());
    EXPECT_EQ(c.sampleType, vi.SampleType());
    EXPECT_EQ(c.sampleRate, vi.SamplesPerSecond());
    EXPECT_EQ(c.samples, vi.num_audio_samples);
}

INSTANTIATE_TEST_SUITE_P(
    TestFSScripts, ClipDirectiveTest,
    ::testing::Values(
        ClipCase{"Defaults", "", 640, 480, 25, 1, 100, "YV12", "", true, false, 0, 0, 0, 0},
        ClipCase{"PalRGB32", "width=720\nheight=576\nframes=250\nfps=25/1\npixel_type=RGB32\n", 720, 576, 25, 1, 250,
                 "RGB32", "", true, false, 0, 0, 0, 0},
        ClipCase{"NtscTopFieldFirst", "fps=30000/1001\nfield_based=tff\npixel_type=YUY2", 640, 480, 30000, 1001, 100,
                 "YUY2", "tff", true, false, 0, 0, 0, 0},
        ClipCase{"BottomFieldFirst", "field_based=bff\npixel_type=YV16\n", 640, 480, 25, 1, 100, "YV16", "bff", true,
                 false, 0, 0, 0, 0},
        ClipCase{"UnknownParity", "field_based=unknown\npixel_type=YV24\n", 640, 480, 25, 1, 100, "YV24", "unknown",
                 true, false, 0, 0, 0, 0},
        ClipCase{"YV411", "pixel_type=YV411\n", 640, 480, 25, 1, 100, "YV411", "", true, false, 0, 0, 0, 0},
        ClipCase{"Y8", "pixel_type=Y8\n", 640, 480, 25, 1, 100, "Y8", "", true, false, 0, 0, 0, 0},
        ClipCase{"RGB24", "pixel_type=RGB24\n", 640, 480, 25, 1, 100, "RGB24", "", true, false, 0, 0, 0, 0},
        ClipCase{"UnknownPixelType", "pixel_type=none\n", 640, 480, 25, 1, 100, "", "", true, false, 0, 0, 0, 0},
        ClipCase{"NewerFormat", "pixel_type=YUV444P16\n", 640, 480, 25, 1, 100, "", "", true, false, 0, 0, 0, 0},
        ClipCase{"AudioOnly",
                 "video=none\nsample_rate=44100\naudio_channels=6\nsample_type=int24\naudio_samples=4410000\n", 0, 0,
                 25, 1, 0, "", "", false, true, 6, SAMPLE_INT24, 44100, 4410000},
        ClipCase{"VideoAndFloatAudio",
                 "sample_rate=48000\naudio_channels=2\nsample_type=float\naudio_samples=8589934592\n", 640, 480, 25,
                 1, 100, "YV12", "", true, true, 2, SAMPLE_FLOAT, 48000, 8589934592LL},
        ClipCase{"NeitherVideoNorAudio", "video=none\npixel_type=RGB32\n", 0, 0, 25, 1, 0, "", "", false, false, 0, 0,
                 0, 0},
        ClipCase{"CommentsBlanksAndCrLf",
                 "# a comment\r\n\r\n  width = 320 \r\n   # indented comment\r\nheight=240\r\nfps = 50\r\n", 320, 240,
                 50, 1, 100, "YV12", "", true, false, 0, 0, 0, 0},
        ClipCase{"LaterDirectiveWins", "frames=10\nframes=20\npixel_type=RGB24\npixel_type=YV12\n", 640, 480, 25, 1,
                 20, "YV12", "", true, false, 0, 0, 0, 0}),
    [](const ::testing::TestParamInfo<ClipCase>& info) { return std::string(info.param.name); });

TEST_F(TestFSTest, ScriptsThatCannotBeReadFailWithAnAvisynthError) {
    const struct {
        const char* script;
        const char* line;
    } cases[] = {
        {"widht=5\n", "widht=5"},
        {"width=-1\n", "width=-1"},
        {"width=12px\n", "width=12px"},
        {"frames=99999999999\n", "frames=99999999999"},
        {"fps=25/\n", "fps=25/"},
        {"pixel_type=YV13\n", "pixel_type=YV13"},
        {"field_based=yes\n", "field_based=yes"},
        {"video=yes\n", "video=yes"},
        {"return=bool\n", "return=bool"},
        {"import_fault=avisynth_error\n", "import_fault=avisynth_error"},
        {"fail_with=crash\n", "fail_with=crash"},
        {"burst=0\n", "burst=0"},
        {"# fine\nwidth 320\n", "width 320"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const std::string message = AvisynthErrorOf([&] { session.Import(c.script); });
        EXPECT_NE(std::string::npos, message.find(std::string("\"") + c.line + "\"")) << message;
        EXPECT_NE(std::string::npos, message.find("line ")) << message;
    }

    const std::string missing = session.ScratchPath("missing.avs");
    EXPECT_EQ("Import: couldn't open \"" + missing + "\"",
              AvisynthErrorOf([&] { Env()->Invoke("Import", AVSValue(missing.c_str())); }));
    EXPECT_EQ(0, Counters().clips_alive);
}

// ----------------------------------------------------------- Invoke results

TEST_F(TestFSTest, ImportReturnsWhatTheScriptAsksFor) {
    EXPECT_TRUE(session.Import("return=clip\n").IsClip());
    const AVSValue number = session.Import("return=int\n");
    EXPECT_TRUE(number.IsInt());
    EXPECT_EQ(42, number.AsInt());
    const AVSValue text = session.Import("return=string\n");
    EXPECT_TRUE(text.IsString());
    EXPECT_STREQ("text", text.AsString());
    const AVSValue real = session.Import("return=float\n");
    EXPECT_TRUE(real.IsFloat());
    EXPECT_FALSE(real.IsInt());
    EXPECT_EQ(1.5, real.AsFloat());
    EXPECT_EQ(4, Counters().imports);
    EXPECT_EQ(0, Counters().clips_alive);

    // The path may also come as the only element of an argument array.
    const std::string path = session.Script("width=64\n", "array.avs");
    const AVSValue arguments[1] = {AVSValue(path.c_str())};
    EXPECT_EQ(64, Env()->Invoke("Import", AVSValue(arguments, 1)).AsClip()->GetVideoInfo().width);
}

TEST_F(TestFSTest, ImportErrorsAndFaultsCrossTheBoundaryByType) {
    EXPECT_EQ("Custom message, with = signs", AvisynthErrorOf([&] {
                  session.Import("width=320\nimport_error=Custom message, with = signs\n");
              }));
    EXPECT_TRUE(ThrowsForeign([&] { session.Import("import_fault=foreign\nimport_error=not this one\n"); }));
    EXPECT_EQ(2, Counters().imports);
    EXPECT_EQ(0, Counters().clips_alive);
}

TEST_F(TestFSTest, DefaultFunctionsAndNotFound) {
    const AVSValue none(static_cast<const AVSValue*>(nullptr), 0);
    EXPECT_STREQ("TestFS 1.0 test frame server", Env()->Invoke("VersionString", none).AsString());
    EXPECT_TRUE(Env()->FunctionExists("Import"));
    EXPECT_TRUE(Env()->FunctionExists("import"));
    EXPECT_TRUE(Env()->FunctionExists("Prefetch"));
    EXPECT_TRUE(Env()->FunctionExists("VersionString"));
    EXPECT_TRUE(Env()->FunctionExists("PixelType"));
    EXPECT_FALSE(Env()->FunctionExists("SetMTMode"));
    EXPECT_FALSE(Env()->FunctionExists("GetMTMode"));
    EXPECT_FALSE(Env()->FunctionExists("Distributor"));
    EXPECT_FALSE(Env()->FunctionExists("NoSuchFunction"));

    EXPECT_THROW(Env()->Invoke("GetMTMode", AVSValue(false)), IScriptEnvironment::NotFound);
    EXPECT_THROW(Env()->Invoke("Distributor", session.Import("")), IScriptEnvironment::NotFound);
    EXPECT_THROW(Env()->Invoke("NoSuchFunction", none), IScriptEnvironment::NotFound);
    // Offered, but not with these arguments.
    EXPECT_THROW(Env()->Invoke("VersionString", AVSValue(1)), IScriptEnvironment::NotFound);
    EXPECT_THROW(Env()->Invoke("Import", AVSValue(1)), IScriptEnvironment::NotFound);

    EXPECT_EQ(7, Counters().invoke_calls);  // the Import inside counts too
    EXPECT_EQ(1, Counters().getmtmode_calls);
    EXPECT_EQ(1, Counters().distributor_calls);
    EXPECT_EQ(0, Counters().clips_alive);
}

TEST_F(TestFSTest, PixelTypeNamesTheFormatAsTheRealFrameServerDoes) {
    for (const char* name : {"YV12", "YV411", "YV24", "YV16", "Y8", "YUY2", "RGB24", "RGB32", "YUV420P10",
                             "YUV444P16", "RGBP", "RGBAP10", "YUVA420", "Y16", "RGB48", "RGB64", "YUV420PS", "Y32"}) {
        const AVSValue clip = session.Import(std::string("pixel_type=") + name + "\n");
        EXPECT_STREQ(name, Env()->Invoke("PixelType", clip).AsString());
    }
    EXPECT_STREQ("", Env()->Invoke("PixelType", session.Import("pixel_type=none\n")).AsString());
    EXPECT_THROW(Env()->Invoke("PixelType", AVSValue(static_cast<const AVSValue*>(nullptr), 0)),
                 IScriptEnvironment::NotFound);
    EXPECT_THROW(Env()->Invoke("PixelType", AVSValue(1)), IScriptEnvironment::NotFound);
    EXPECT_EQ(0, Counters().clips_alive);
}

TEST(TestFSVariables, FunctionsModeAndVersionStringFollowTheEnvironment) {
    ScopedVariable functions("TESTFS_FUNCTIONS", "GetMTMode, distributor,SetMTMode");
    ScopedVariable mode("TESTFS_MTMODE", "3");
    ScopedVariable version("TESTFS_VERSION_STRING", "Custom 9.9 (r1234)");
    TestFSSession session;
    ASSERT_TRUE(session.Loaded());
    IScriptEnvironment* env = session.Open();
    ASSERT_NE(nullptr, env);

    EXPECT_TRUE(env->FunctionExists("SetMTMode"));
    EXPECT_FALSE(env->FunctionExists("Prefetch"));
    EXPECT_FALSE(env->FunctionExists("VersionString"));
    EXPECT_THROW(env->Invoke("VersionString", AVSValue(static_cast<const AVSValue*>(nullptr), 0)),
                 IScriptEnvironment::NotFound);

    const AVSValue active = env->Invoke("GetMTMode", AVSValue(false));
    EXPECT_TRUE(active.IsInt());
    EXPECT_EQ(3, active.AsInt());

    {
        AVSValue script = session.Import("width=352\n");
        const IClip* original = script.AsClip().get();
        script = env->Invoke("Distributor", AVSValue(script));
        ASSERT_TRUE(script.IsClip());
        EXPECT_NE(original, script.AsClip().get());
        EXPECT_EQ(352, script.AsClip()->GetVideoInfo().width);
        EXPECT_EQ(2, session.Counters().clips_alive);  // the distributor keeps its child
        PVideoFrame frame = script.AsClip()->GetFrame(0, env);
        EXPECT_EQ(1, session.Counters().frames_requested);
    }
    EXPECT_EQ(0, session.Counters().clips_alive);
    EXPECT_EQ(1, session.Counters().distributor_calls);
    EXPECT_EQ(1, session.Counters().getmtmode_calls);

    ScopedVariable modeText("TESTFS_MTMODE", "string");
    ScopedVariable versionAgain("TESTFS_FUNCTIONS", "GetMTMode,VersionString");
    IScriptEnvironment* second = session.Factory()(7);
    ASSERT_NE(nullptr, second);
    const AVSValue textMode = second->Invoke("GetMTMode", AVSValue(false));
    EXPECT_TRUE(textMode.IsString());
    EXPECT_FALSE(textMode.IsInt());
    EXPECT_STREQ("Custom 9.9 (r1234)",
                 second->Invoke("VersionString", AVSValue(static_cast<const AVSValue*>(nullptr), 0)).AsString());
    second->DeleteScriptEnvironment();
}

TEST(TestFSVariables, AnEmptyFunctionListOffersOnlyImport) {
    ScopedVariable functions("TESTFS_FUNCTIONS", ",");
    TestFSSession session;
    ASSERT_TRUE(session.Loaded());
    IScriptEnvironment* env = session.Open();
    ASSERT_NE(nullptr, env);
    for (const char* name : {"VersionString", "GetMTMode", "Distributor", "SetMTMode", "Prefetch", "PixelType"}) {
        EXPECT_FALSE(env->FunctionExists(name)) << name;
    }
    EXPECT_TRUE(env->FunctionExists("Import"));
    EXPECT_THROW(env->Invoke("VersionString", AVSValue(static_cast<const AVSValue*>(nullptr), 0)),
                 IScriptEnvironment::NotFound);
}

TEST(TestFSVariables, UnusableValuesRefuseTheEnvironment) {
    const struct {
        const char* name;
        const char* value;
    } cases[] = {
        {"TESTFS_MAX_INTERFACE", "seven"},
        {"TESTFS_FUNCTIONS", "VersionString,Bogus"},
        {"TESTFS_MTMODE", "3x"},
        {"TESTFS_LINKAGE_SIZE", "2k"},
    };
    TestFSSession session;
    ASSERT_TRUE(session.Loaded());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedVariable variable(c.name, c.value);
        EXPECT_EQ(nullptr, session.Factory()(5));
    }
    EXPECT_EQ(0, session.Counters().environments_created);
}

class InterfaceVersionTest : public ::testing::TestWithParam<int> {};

TEST_P(InterfaceVersionTest, CreationAndCheckVersionStopAtTheMaximum) {
    const int maximum = GetParam();
    ScopedVariable variable("TESTFS_MAX_INTERFACE", std::to_string(maximum).c_str());
    TestFSSession session;
    ASSERT_TRUE(session.Loaded());
    for (int version = 5; version <= 8; ++version) {
        SCOPED_TRACE(version);
        IScriptEnvironment* env = session.Factory()(version);
        EXPECT_EQ(version <= maximum, env != nullptr);
        if (env) env->DeleteScriptEnvironment();
    }
    IScriptEnvironment* env = session.Open(5);
    ASSERT_NE(nullptr, env);
    for (int version = 5; version <= 8; ++version) {
        SCOPED_TRACE(version);
        if (version <= maximum) {
            EXPECT_NO_THROW(env->CheckVersion(version));
        } else {
            EXPECT_FALSE(AvisynthErrorOf([&] { env->CheckVersion(version); }).empty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(TestFSMaximum, InterfaceVersionTest, ::testing::Values(5, 6, 7));

TEST_F(TestFSTest, ThrowErrorFormatsAndKeepsTheMessage) {
    const char* first = nullptr;
    try {
        Env()->ThrowError("\"%s\":\nScript did not return a clip (%d)", "C:\\x 100%.avs", 7);
    } catch (const AvisynthError& error) {
        first = error.msg;
    }
    ASSERT_NE(nullptr, first);
    EXPECT_STREQ("\"C:\\x 100%.avs\":\nScript did not return a clip (7)", first);
    // Later messages do not overwrite earlier ones.
    EXPECT_FALSE(AvisynthErrorOf([&] { Env()->ThrowError("%s", "another"); }).empty());
    EXPECT_STREQ("\"C:\\x 100%.avs\":\nScript did not return a clip (7)", first);
}

// --------------------------------------------------------------- frames

TEST_F(TestFSTest, FrameFailuresHappenAtTheNamedFrame) {
    PClip clip = session.ImportClip("fail_at=3\nfail_message=Broken frame\n");
    for (int n = 0; n < 3; ++n) EXPECT_NE(nullptr, clip->GetFrame(n, Env()).get());
    EXPECT_EQ("Broken frame", AvisynthErrorOf([&] { clip->GetFrame(3, Env()); }));
    EXPECT_NE(nullptr, clip->GetFrame(4, Env()).get());
    EXPECT_EQ(5, Counters().frames_requested);
    EXPECT_EQ(0, Counters().frames_alive);

    PClip unnamed = session.ImportClip("fail_at=0\n");
    EXPECT_EQ("frame 0 failed", AvisynthErrorOf([&] { unnamed->GetFrame(0, Env()); }));
    PClip foreign = session.ImportClip("fail_at=1\nfail_with=foreign\n");
    EXPECT_TRUE(ThrowsForeign([&] { foreign->GetFrame(1, Env()); }));
}

TEST_F(TestFSTest, FrameDelayIsSpentInEveryRequest) {
    PClip clip = session.ImportClip("frame_delay_us=3000\n");
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < 4; ++n) clip->GetFrame(n, Env());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::microseconds(12000));

    // In bursts of three only frames 0 and 3 wait; 1 and 2 come at once.
    PClip bursts = session.ImportClip("frame_delay_us=30000\nburst=3\n");
    for (int n = 0; n < 4; ++n) {
        const auto before = std::chrono::steady_clock::now();
        bursts->GetFrame(n, Env());
        const auto took = std::chrono::steady_clock::now() - before;
        if (n % 3 == 0) {
            EXPECT_GE(took, std::chrono::microseconds(30000)) << n;
        } else {
            EXPECT_LT(took, std::chrono::microseconds(30000)) << n;
        }
    }
}

// -------------------------------------------------------------- counters

TEST_F(TestFSTest, OperationsAfterDeleteAreCounted) {
    AVSValue script = session.Import("");
    PClip clip = script.AsClip();
    PVideoFrame frame = clip->GetFrame(0, Env());

    // The program's order: drop every reference, then delete.
    frame = PVideoFrame();
    clip = PClip();
    script = AVSValue(0);
    session.DeleteEnvironment();
    EXPECT_EQ(0, Counters().frames_alive_at_delete);
    EXPECT_EQ(0, Counters().clips_alive_at_delete);
    EXPECT_EQ(0, Counters().handle_ops_after_delete);

    // Held across the delete, the same objects show up.
    ASSERT_NE(nullptr, session.Open());
    AVSValue kept = session.Import("");
    PVideoFrame keptFrame = kept.AsClip()->GetFrame(0, Env());
    session.DeleteEnvironment();
    EXPECT_EQ(1, Counters().frames_alive_at_delete);
    EXPECT_EQ(1, Counters().clips_alive_at_delete);
    keptFrame = PVideoFrame();
    kept = AVSValue(0);
    EXPECT_EQ(2, Counters().handle_ops_after_delete);
    EXPECT_EQ(0, Counters().clips_alive);
    EXPECT_EQ(0, Counters().frames_alive);
}

TEST(TestFSUnload, UnloadingAppendsTheCountersAndTheNextLoadStartsAfresh) {
    ScratchDir scratch;
    ASSERT_TRUE(scratch.Valid());
    const std::string file = scratch.Path("counters.txt");
    ScopedVariable variable("TESTFS_COUNTERS_FILE", file.c_str());
    {
        TestFSSession session;
        ASSERT_TRUE(session.Loaded());
        ASSERT_NE(nullptr, session.Open());
        {
            PClip clip = session.ImportClip("");
            clip->GetFrame(0, session.Env());
            clip->GetFrame(1, session.Env());
        }
        EXPECT_TRUE(session.Unload());
    }
    const std::string first = ReadBytes(file);
    std::string expected;
    const std::vector<std::pair<const char*, int>> values = {
        {"environments_created", 1}, {"environments_deleted", 1}, {"imports", 1},
        {"frames_requested", 2},     {"frames_alive", 0},         {"max_frames_alive", 1},
        {"clips_alive", 0},          {"values_alive", 0},         {"getmtmode_calls", 0},
        {"distributor_calls", 0},    {"invoke_calls", 1},         {"handle_ops_after_delete", 0},
        {"frames_alive_at_delete", 0}, {"clips_alive_at_delete", 0},
    };
    for (const auto& [name, value] : values) {
        expected += (expected.empty() ? "" : " ") + std::string(name) + "=" + std::to_string(value);
    }
    EXPECT_EQ(expected + "\n", first);

    {
        TestFSSession session;
        ASSERT_TRUE(session.Loaded());
        EXPECT_EQ(0, session.Counters().environments_created);
        EXPECT_EQ(0, session.Counters().frames_requested);
    }
    const std::string both = ReadBytes(file);
    ASSERT_EQ(0u, both.find(first));
    EXPECT_EQ(0u, both.substr(first.size()).find("environments_created=0 "));
}

}  // namespace
