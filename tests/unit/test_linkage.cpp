// The client side of the linkage table (frameserver/Linkage.cpp) against the
// test frame server: values and handles built and read through the table,
// reference counts across copies, and the rule that an entry beyond the
// table's size, or a missing table, makes an operation a no-op.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frameserver/Avisynth.h"
#include "platform/Errors.h"
#include "tests/unit/TestFSSession.h"

namespace {

// Reads the raw fields of a value, to see what a constructor left behind
// when the table could not be used.
class ValueProbe : public AVSValue {
public:
    using AVSValue::AVSValue;
    using AVSValue::operator=;
    static const ValueProbe& Of(const AVSValue& value) { return static_cast<const ValueProbe&>(value); }
    char Type() const { return static_cast<char>(type); }
    short Size() const { return array_size; }
    int64_t Bits() const { return longlong; }
    int Integer() const { return integer; }
};

// Self-assignment on purpose, through an alias so that the compiler lets it
// stand.
template <typename T>
void AssignToItself(T& value) {
    const T& same = value;
    value = same;
}

const char* const kClipScript =
    "width=720\nheight=576\nframes=250\npixel_type=Y8\nfield_based=tff\n"
    "sample_rate=48000\naudio_channels=2\nsample_type=float\naudio_samples=480000\n";

// ---------------------------------------------------------- no table at all

// Every read of a value the table never touched.
void ExpectVoidAndEmpty(const char* name, const ValueProbe& value) {
    SCOPED_TRACE(name);
    EXPECT_EQ('v', value.Type());
    EXPECT_EQ(0, value.Size());
    EXPECT_EQ(0, value.Bits());
    EXPECT_FALSE(value.Defined());
    EXPECT_FALSE(value.IsInt() || value.IsBool() || value.IsFloat() || value.IsString() || value.IsArray() ||
                 value.IsClip());
    EXPECT_FALSE(value.AsBool());
    EXPECT_EQ(0, value.AsInt());
    EXPECT_EQ(0.0, value.AsFloat());
    EXPECT_EQ(nullptr, value.AsString());
    EXPECT_EQ(0, value.ArraySize());
    EXPECT_EQ(nullptr, value.AsClip().get());
}

TEST(LinkageWithoutTable, EveryValueIsVoidAndEveryReadIsEmpty) {
    AVS_linkage = nullptr;
    const AVSValue elements[1] = {AVSValue(1)};
    // Each probe is checked as constructed (a copy would hide what the
    // constructor did).
    ExpectVoidAndEmpty("default", ValueProbe());
    ExpectVoidAndEmpty("clip pointer", ValueProbe(reinterpret_cast<IClip*>(static_cast<uintptr_t>(0x1000))));
    ExpectVoidAndEmpty("bool", ValueProbe(true));
    ExpectVoidAndEmpty("int", ValueProbe(5));
    ExpectVoidAndEmpty("float", ValueProbe(1.5f));
    ExpectVoidAndEmpty("double", ValueProbe(2.5));
    ExpectVoidAndEmpty("string", ValueProbe("text"));
    ExpectVoidAndEmpty("array", ValueProbe(elements, 1));
    const ValueProbe source(7);
    ExpectVoidAndEmpty("copy", ValueProbe(source));

    ValueProbe target;
    target = source;
    ExpectVoidAndEmpty("assigned", target);

    // Indexing still yields a usable reference: one void value, not the
    // indexed value itself and not garbage.
    const ValueProbe array(elements, 1);
    const AVSValue& element = array[0];
    EXPECT_EQ(&element, &source[3]);
    EXPECT_NE(static_cast<const void*>(&element), static_cast<const void*>(&array));
    ExpectVoidAndEmpty("element", ValueProbe::Of(element));
}

TEST(LinkageWithoutTable, HandlesStayNullAndPredicatesAnswerNothing) {
    AVS_linkage = nullptr;
    IClip* const someClip = reinterpret_cast<IClip*>(static_cast<uintptr_t>(0x1000));
    PClip fromPointer(someClip);
    PClip copy(fromPointer);
    PClip assigned;
    assigned = someClip;
    EXPECT_EQ(nullptr, fromPointer.get());
    EXPECT_EQ(nullptr, copy.get());
    EXPECT_EQ(nullptr, assigned.get());
    EXPECT_FALSE(static_cast<bool>(assigned));

    VideoFrame* const someFrame = reinterpret_cast<VideoFrame*>(static_cast<uintptr_t>(0x2000));
    PVideoFrame frame(someFrame);
    PVideoFrame frameCopy(frame);
    frameCopy = someFrame;
    EXPECT_EQ(nullptr, frame.get());
    EXPECT_EQ(nullptr, frameCopy.get());

    VideoInfo vi{};
    vi.width = 640;
    vi.height = 480;
    vi.num_frames = 10;
    vi.pixel_type = -1;
    vi.image_type = -1;
    vi.audio_samples_per_second = 48000;
    vi.sample_type = SAMPLE_INT16;
    vi.nchannels = 2;
    const bool anyPredicate = vi.HasVideo() || vi.HasAudio() || vi.IsRGB() || vi.IsRGB24() || vi.IsRGB32() ||
                              vi.IsYUV() || vi.IsYUY2() || vi.IsYV24() || vi.IsYV16() || vi.IsYV12() ||
                              vi.IsYV411() || vi.IsY8() || vi.IsPlanar() || vi.IsFieldBased() ||
                              vi.IsParityKnown() || vi.IsBFF() || vi.IsTFF();
    EXPECT_FALSE(anyPredicate);
    EXPECT_EQ(0, vi.AudioChannels());
    EXPECT_EQ(0, vi.SampleType());
    EXPECT_EQ(0, vi.SamplesPerSecond());
}

// ------------------------------------------------------ with the test library

class LinkageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.Loaded()) << platform::SystemErrorText();
        ASSERT_NE(nullptr, session.Open());
        ASSERT_NE(nullptr, AVS_linkage);
    }

    const TestFSCounters& Counters() const { return session.Counters(); }

    TestFSSession session;
};

TEST_F(LinkageTest, ValuesOfEveryKindReadBackThroughTheTable) {
    AVSValue script = session.Import(kClipScript);
    const AVSValue elements[2] = {AVSValue(3), AVSValue("x")};

    struct Case {
        const char* name;
        AVSValue value;
        char type;  // the library's type code: shows which constructor entry ran
        char kind;  // which Is... predicate must be the one that holds
        bool asBool;
        int asInt;
        double asFloat;
        const char* asString;
        int arraySize;
    };
    const Case cases[] = {
        {"void", AVSValue(), 'v', 'v', false, 0, 0.0, nullptr, 0},
        {"bool true", AVSValue(true), 'b', 'b', true, 0, 0.0, nullptr, 1},
        {"bool false", AVSValue(false), 'b', 'b', false, 0, 0.0, nullptr, 1},
        {"int", AVSValue(-7), 'i', 'i', false, -7, -7.0, nullptr, 1},
        {"float", AVSValue(2.5f), 'f', 'f', false, 0, 2.5, nullptr, 1},
        {"double", AVSValue(0.125), 'd', 'f', false, 0, 0.125, nullptr, 1},
        {"string", AVSValue("abc"), 's', 's', false, 0, 0.0, "abc", 1},
        {"clip", AVSValue(script), 'c', 'c', false, 0, 0.0, nullptr, 1},
        {"array", AVSValue(elements, 2), 'a', 'a', false, 0, 0.0, nullptr, 2},
        {"empty array", AVSValue(static_cast<const AVSValue*>(nullptr), 0), 'a', 'a', false, 0, 0.0, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.type, ValueProbe::Of(c.value).Type());
        EXPECT_EQ(c.kind != 'v', c.value.Defined());
        EXPECT_EQ(c.kind == 'b', c.value.IsBool());
        EXPECT_EQ(c.kind == 'i', c.value.IsInt());
        EXPECT_EQ(c.kind == 'f' || c.kind == 'i', c.value.IsFloat());
        EXPECT_EQ(c.kind == 's', c.value.IsString());
        EXPECT_EQ(c.kind == 'c', c.value.IsClip());
        EXPECT_EQ(c.kind == 'a', c.value.IsArray());
        EXPECT_EQ(c.asBool, c.value.AsBool());
        EXPECT_EQ(c.asInt, c.value.AsInt());
        EXPECT_EQ(c.asFloat, c.value.AsFloat());
        if (c.asString) {
            EXPECT_STREQ(c.asString, c.value.AsString());
        } else {
            EXPECT_EQ(nullptr, c.value.AsString());
        }
        EXPECT_EQ(c.arraySize, c.value.ArraySize());
        EXPECT_EQ(c.kind == 'c', c.value.AsClip().get() != nullptr);
    }

    // Elements come back through the index entry, in order.
    const AVSValue array(elements, 2);
    EXPECT_EQ(3, array[0].AsInt());
    EXPECT_STREQ("x", array[1].AsString());
    EXPECT_FALSE(array[2].Defined());
    EXPECT_FALSE(array[-1].Defined());

    // The clip handle a value gives is the clip the script made.
    const PClip clip = script.AsClip();
    EXPECT_EQ(720, clip->GetVideoInfo().width);
    EXPECT_EQ(clip.get(), AVSValue(clip).AsClip().get());
}

TEST_F(LinkageTest, CopiesAndAssignmentsKeepReferenceCountsRight) {
    const int64_t baseValues = Counters().values_alive;
    {
        AVSValue script = session.Import(kClipScript);
        EXPECT_EQ(1, Counters().clips_alive);
        EXPECT_EQ(baseValues + 1, Counters().values_alive);

        AVSValue copy(script);
        AVSValue assigned;
        assigned = script;
        AssignToItself(assigned);
        EXPECT_EQ(baseValues + 3, Counters().values_alive);
        assigned = AVSValue(5);
        EXPECT_EQ(baseValues + 2, Counters().values_alive);
        EXPECT_EQ(1, Counters().clips_alive);

        PClip a = script.AsClip();
        PClip b(a);
        PClip c;
        c = b;
        AssignToItself(c);
        c = a.get();
        EXPECT_EQ(a.get(), c.get());
        AVSValue fromHandle(a);
        AVSValue fromPointer(a.get());
        EXPECT_EQ(baseValues + 4, Counters().values_alive);

        // An array holds its own copies of its elements.
        const AVSValue elements[2] = {script, AVSValue(1)};
        AVSValue array(elements, 2);
        EXPECT_EQ(baseValues + 7, Counters().values_alive);
        AVSValue arrayCopy(array);
        EXPECT_EQ(baseValues + 9, Counters().values_alive);
        // Assigning a value one of its own elements must not free the element
        // before it is copied.
        array = array[0];
        EXPECT_TRUE(array.IsClip());
        EXPECT_EQ(a.get(), array.AsClip().get());
        EXPECT_EQ(baseValues + 8, Counters().values_alive);

        // A second clip replaces the first in a handle and goes when its last
        // reference goes.
        {
            PClip other = session.ImportClip("width=32\n");
            EXPECT_EQ(2, Counters().clips_alive);
            c = other;
            b = c;
        }
        EXPECT_EQ(2, Counters().clips_alive);
        c = a;
        b = PClip();
        EXPECT_EQ(1, Counters().clips_alive);
    }
    EXPECT_EQ(0, Counters().clips_alive);
    EXPECT_EQ(baseValues, Counters().values_alive);
}

TEST_F(LinkageTest, SelfAssignmentKeepsTheOnlyReference) {
    {
        PClip only = session.ImportClip(kClipScript);
        AssignToItself(only);
        EXPECT_EQ(1, Counters().clips_alive);
        only = only.get();
        EXPECT_EQ(1, Counters().clips_alive);
        EXPECT_EQ(720, only->GetVideoInfo().width);

        PVideoFrame frame = only->GetFrame(0, session.Env());
        AssignToItself(frame);
        frame = frame.get();
        EXPECT_EQ(1, Counters().frames_alive);

        AVSValue value(only);
        only = PClip();
        AssignToItself(value);
        EXPECT_EQ(1, Counters().clips_alive);
        EXPECT_TRUE(value.IsClip());
        EXPECT_EQ(720, value.AsClip()->GetVideoInfo().width);
    }
    EXPECT_EQ(0, Counters().clips_alive);
    EXPECT_EQ(0, Counters().frames_alive);
}

TEST_F(LinkageTest, FrameHandlesCountTheirFrames) {
    PClip clip = session.ImportClip(kClipScript);
    {
        PVideoFrame first = clip->GetFrame(0, session.Env());
        PVideoFrame copy(first);
        PVideoFrame assigned;
        assigned = copy;
        AssignToItself(assigned);
        EXPECT_EQ(1, Counters().frames_alive);
        first = clip->GetFrame(1, session.Env());
        EXPECT_EQ(2, Counters().frames_alive);
        copy = first.get();
        assigned = PVideoFrame();
        EXPECT_EQ(1, Counters().frames_alive);
    }
    EXPECT_EQ(0, Counters().frames_alive);
    EXPECT_EQ(2, Counters().max_frames_alive);
    EXPECT_EQ(2, Counters().frames_requested);
}

// --------------------------------------------------- table size boundaries

// Objects a cut-table operation may leave behind; destroyed only after the
// full table is back, so that nothing leaks through a missing destructor.
struct CutContext {
    VideoInfo vi{};
    PClip clip;
    AVSValue clipValue;
    AVSValue intValue;
    AVSValue stringValue;
    AVSValue array;
    std::optional<ValueProbe> value;
    std::optional<PClip> handle;
};

struct CutCase {
    const char* name;
    size_t offset;  // of the entry the operation needs
    std::function<int64_t(CutContext&)> operation;
    int64_t withEntry;
    int64_t withoutEntry;
};

std::ostream& operator<<(std::ostream& out, const CutCase& c) { return out << c.name; }

class TableSizeTest : public LinkageTest, public ::testing::WithParamInterface<CutCase> {
protected:
    // Runs the operation with a table that ends at `size` bytes.
    int64_t RunWithTableSize(int size) {
        CutContext context;
        context.clipValue = session.Import(kClipScript);
        context.clip = context.clipValue.AsClip();
        context.vi = context.clip->GetVideoInfo();
        context.intValue = AVSValue(7);
        context.stringValue = AVSValue("text");
        const AVSValue elements[2] = {AVSValue(1), AVSValue(2)};
        context.array = AVSValue(elements, 2);

        const AVS_Linkage* const full = AVS_linkage;
        AVS_Linkage cut = *full;
        cut.Size = size;
        AVS_linkage = &cut;
        const int64_t result = GetParam().operation(context);
        AVS_linkage = full;
        return result;
    }
};

TEST_P(TableSizeTest, AnEntryIsUsedOnlyWhenTheTableHoldsIt) {
    const CutCase& c = GetParam();
    EXPECT_EQ(c.withoutEntry, RunWithTableSize(static_cast<int>(c.offset)));
    EXPECT_EQ(c.withEntry, RunWithTableSize(static_cast<int>(c.offset) + 1));
    EXPECT_EQ(0, Counters().clips_alive);
}

#define ENTRY(name) #name, offsetof(AVS_Linkage, name)

INSTANTIATE_TEST_SUITE_P(
    LinkageEntries, TableSizeTest,
    ::testing::Values(
        CutCase{ENTRY(HasVideo), [](CutContext& c) -> int64_t { return c.vi.HasVideo(); }, 1, 0},
        CutCase{ENTRY(IsY8), [](CutContext& c) -> int64_t { return c.vi.IsY8(); }, 1, 0},
        CutCase{ENTRY(IsFieldBased), [](CutContext& c) -> int64_t { return c.vi.IsFieldBased(); }, 1, 0},
        CutCase{ENTRY(IsTFF), [](CutContext& c) -> int64_t { return c.vi.IsTFF(); }, 1, 0},
        CutCase{ENTRY(AudioChannels), [](CutContext& c) -> int64_t { return c.vi.AudioChannels(); }, 2, 0},
        CutCase{ENTRY(SampleType), [](CutContext& c) -> int64_t { return c.vi.SampleType(); }, SAMPLE_FLOAT, 0},
        CutCase{ENTRY(SamplesPerSecond), [](CutContext& c) -> int64_t { return c.vi.SamplesPerSecond(); }, 48000,
                0},
        CutCase{ENTRY(PClip_CONSTRUCTOR1),
                [](CutContext& c) -> int64_t {
                    c.handle.emplace(c.clip);
                    return c.handle->get() != nullptr;
                },
                1, 0},
        CutCase{ENTRY(AVSValue_CONSTRUCTOR1),
                [](CutContext& c) -> int64_t {
                    c.value.emplace(c.clip.get());
                    return c.value->Type();
                },
                'c', 'v'},
        CutCase{ENTRY(AVSValue_CONSTRUCTOR4),
                [](CutContext& c) -> int64_t {
                    c.value.emplace(9);
                    return c.value->Type();
                },
                'i', 'v'},
        CutCase{ENTRY(AVSValue_OPERATOR_ASSIGN),
                [](CutContext& c) -> int64_t {
                    c.value.emplace(7);
                    *c.value = AVSValue(9);
                    return c.value->Integer();
                },
                9, 7},
        CutCase{ENTRY(AVSValue_OPERATOR_INDEX),
                [](CutContext& c) -> int64_t { return ValueProbe::Of(c.array[1]).Integer(); }, 2, 0},
        CutCase{ENTRY(AsClip),
                [](CutContext& c) -> int64_t {
                    c.handle.emplace(c.clipValue.AsClip());
                    return c.handle->get() == c.clip.get();
                },
                1, 0},
        CutCase{ENTRY(AsInt1), [](CutContext& c) -> int64_t { return c.intValue.AsInt(); }, 7, 0},
        CutCase{ENTRY(AsString1), [](CutContext& c) -> int64_t { return c.stringValue.AsString() != nullptr; }, 1,
                0},
        CutCase{ENTRY(ArraySize), [](CutContext& c) -> int64_t { return c.array.ArraySize(); }, 2, 0}),
    [](const ::testing::TestParamInfo<CutCase>& info) { return std::string(info.param.name); });

#undef ENTRY

TEST_F(LinkageTest, ATableOfSizeZeroOrLessIsNeverUsed) {
    const AVS_Linkage* const full = AVS_linkage;
    PClip clip = session.ImportClip(kClipScript);
    const VideoInfo vi = clip->GetVideoInfo();
    for (int size : {0, -1, -2104}) {
        SCOPED_TRACE(size);
        AVS_Linkage cut = *full;
        cut.Size = size;
        AVS_linkage = &cut;
        EXPECT_FALSE(vi.HasVideo());
        ExpectVoidAndEmpty("int", ValueProbe(5));
        EXPECT_EQ(nullptr, PClip(clip).get());
        AVS_linkage = full;
    }
    EXPECT_TRUE(vi.HasVideo());
}

TEST_F(LinkageTest, TheLibraryReportsTheTableSizeItWasAskedFor) {
    // Environments made later set the size the shared table reports.
    const int cut = static_cast<int>(offsetof(AVS_Linkage, AVSValue_CONSTRUCTOR0));
    {
        ScopedVariable size("TESTFS_LINKAGE_SIZE", std::to_string(cut).c_str());
        IScriptEnvironment* second = session.Factory()(7);
        ASSERT_NE(nullptr, second);
        EXPECT_EQ(cut, second->GetAVSLinkage()->Size);
        EXPECT_EQ(AVS_linkage, second->GetAVSLinkage());
        // No value entry is in reach now: construction leaves a void value,
        // while the VideoInfo entries before the cut still work.
        EXPECT_EQ('v', ValueProbe(5).Type());
        VideoInfo vi{};
        vi.width = 16;
        EXPECT_TRUE(vi.HasVideo());
        second->DeleteScriptEnvironment();
    }
    {
        // A newer library reports more than the 2.6 table holds.
        ScopedVariable size("TESTFS_LINKAGE_SIZE", "3328");
        IScriptEnvironment* third = session.Factory()(7);
        ASSERT_NE(nullptr, third);
        EXPECT_EQ(3328, third->GetAVSLinkage()->Size);
        EXPECT_EQ(5, AVSValue(5).AsInt());
        third->DeleteScriptEnvironment();
    }
    {
        ScopedVariable size("TESTFS_LINKAGE_SIZE", "100000");
        EXPECT_EQ(nullptr, session.Factory()(7));
    }
}

}  // namespace
