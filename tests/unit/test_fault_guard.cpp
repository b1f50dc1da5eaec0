// Processor faults inside Guarded() arrive as SE_Exception with the Windows
// codes; C++ exceptions pass through untouched; the process runs on
// normally after every fault, including further faults.
#include <gtest/gtest.h>

#include <cfenv>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/Guard.h"
#include "platform/Process.h"
#include "support/SEException.h"
#include "tests/support/Process.h"
#include "tests/support/TestPlatform.h"
#include "tests/unit/TestFSSession.h"

// The sanitizers of the native CI build must not report these faults before
// the guard sees them, and the optimiser must not remove or merge them.
#if defined(__clang__) || defined(__GNUC__)
#define FAULTING __attribute__((noinline, no_sanitize("address", "undefined")))
#else
#define FAULTING
#endif

namespace {

constexpr uint32_t kAccessViolation = 0xC0000005;
constexpr uint32_t kIntegerDivideByZero = 0xC0000094;
constexpr uint32_t kStackOverflow = 0xC00000FD;

volatile uintptr_t g_badAddress = 16;  // the first page is never mapped
volatile int g_zero = 0;
volatile int g_depthLimit = std::numeric_limits<int>::max();
volatile int g_sink = 0;  // results are stored, so no computation is dropped

FAULTING int ReadBadAddress() {
    g_sink = *reinterpret_cast<volatile int*>(g_badAddress);
    return g_sink;
}

FAULTING void WriteBadAddress(int value) { *reinterpret_cast<volatile int*>(g_badAddress) = value; }

FAULTING int DivideByZero(int dividend) {
    g_sink = dividend / g_zero;
    return g_sink;
}

// Non-tail recursion with a frame the optimiser cannot drop; the limit is
// never reached while the stack is of any usual size.
FAULTING int Recurse(int depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    frame[sizeof frame - 1] = static_cast<char>(depth >> 8);
    if (depth >= g_depthLimit) return 0;
    const int below = Recurse(depth + 1);
    return below + frame[depth % 2 == 0 ? 0 : sizeof frame - 1];
}

// Runs body inside Guarded and returns the code of the fault it raised, 0
// when it raised none.
template <class Body>
uint32_t FaultCodeOf(Body body) {
    try {
        Guarded(std::move(body));
    } catch (const SE_Exception& fault) {
        return fault.ExceptionCode;
    }
    return 0;
}

bool DivisionTraps() {
#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
    return true;
#else
    return false;  // AArch64 and others return 0 instead of trapping
#endif
}

// Child part for the test of faults outside every guard: one guarded fault
// first (so that the machinery is installed), then an unguarded one, which
// must reach the system's unhandled-fault path and end the process.
bool PlayChildIfAsked() {
    const char* mode = std::getenv("TACHORO_TEST_CHILD");
    if (mode == nullptr || std::string(mode) != "fault-outside-guard") return false;
    EndQuietlyOnUnhandledFault();
    if (FaultCodeOf([] { ReadBadAddress(); }) == kAccessViolation) std::puts("guarded fault caught");
    std::fflush(stdout);
    WriteBadAddress(1);
    std::puts("survived an unguarded fault");
    std::fflush(stdout);
    std::_Exit(0);
}

[[maybe_unused]] const bool kPlayedChild = PlayChildIfAsked();

struct ForeignError {
    int Value;
    std::string Text;
};

}  // namespace

TEST(FaultGuard, FaultsArriveWithTheirWindowsCodes) {
    EXPECT_EQ(FaultCodeOf([] { ReadBadAddress(); }), kAccessViolation);
    EXPECT_EQ(FaultCodeOf([] { WriteBadAddress(7); }), kAccessViolation);
    if (DivisionTraps()) {
        EXPECT_EQ(FaultCodeOf([] { DivideByZero(10); }), kIntegerDivideByZero);
    }
    EXPECT_EQ(FaultCodeOf([] { Recurse(0); }), kStackOverflow);
}

TEST(FaultGuard, WorkWithoutFaultRunsToTheEnd) {
    int result = 0;
    EXPECT_EQ(FaultCodeOf([&] { result = DivideByZero(0) * 0 + 5; }), DivisionTraps() ? kIntegerDivideByZero : 0u);
    g_depthLimit = 100;
    EXPECT_EQ(FaultCodeOf([&] { result = Recurse(0) >= 0 ? 42 : 0; }), 0u);
    g_depthLimit = std::numeric_limits<int>::max();
    EXPECT_EQ(result, 42);
}

TEST(FaultGuard, CppExceptionsPassThroughUnchanged) {
    try {
        Guarded([] { throw std::runtime_error("frame server said no"); });
        FAIL() << "nothing thrown";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "frame server said no");
    }
    try {
        Guarded([] { throw ForeignError{17, "foreign"}; });
        FAIL() << "nothing thrown";
    } catch (const ForeignError& error) {
        EXPECT_EQ(error.Value, 17);
        EXPECT_EQ(error.Text, "foreign");
    }
    try {
        Guarded([] { throw 5; });
        FAIL() << "nothing thrown";
    } catch (int value) {
        EXPECT_EQ(value, 5);
    }
    // An SE_Exception thrown on purpose is not mistaken for, or turned into,
    // something else either.
    EXPECT_EQ(FaultCodeOf([] { throw SE_Exception{0x12345678}; }), 0x12345678u);
    // And after all that, a real fault is still caught.
    EXPECT_EQ(FaultCodeOf([] { ReadBadAddress(); }), kAccessViolation);
}

// Every fault leaves the thread in order: registers of the caller (integer
// and floating point), its locals, the heap and further guarded calls. Two
// stack overflows in a row show that the stack's guard is restored.
TEST(FaultGuard, ProcessRunsOnAfterEachFault) {
    volatile double scale = 1.25;
    double a = scale * 2, b = scale * 3, c = scale * 5, d = scale * 7;
    int64_t x = static_cast<int64_t>(scale * 1000), y = x * 3, z = y + 11;
    std::string text = "survives";
    std::vector<int> numbers{1, 2, 3};

    const std::vector<uint32_t> expected{kAccessViolation, kStackOverflow, kIntegerDivideByZero, kStackOverflow,
                                         kAccessViolation, kStackOverflow};
    for (size_t round = 0; round < expected.size(); ++round) {
        uint32_t code = 0;
        switch (expected[round]) {
        case kAccessViolation: code = FaultCodeOf([] { ReadBadAddress(); }); break;
        case kStackOverflow: code = FaultCodeOf([] { Recurse(0); }); break;
        default:
            if (!DivisionTraps()) continue;
            code = FaultCodeOf([] { DivideByZero(3); });
            break;
        }
        EXPECT_EQ(code, expected[round]) << "round " << round;

        // Ordinary work between the faults.
        std::string grown;
        for (int i = 0; i < 1000; ++i) grown += static_cast<char>('a' + i % 26);
        EXPECT_EQ(grown.size(), 1000u);
        int sum = 0;
        EXPECT_EQ(FaultCodeOf([&] {
                      for (int n : numbers) sum += n;
                  }),
                  0u);
        EXPECT_EQ(sum, 6);
        a += 1;
        x += 1;
    }
    const double rounds = static_cast<double>(expected.size());
    EXPECT_DOUBLE_EQ(a, 2.5 + rounds);
    EXPECT_DOUBLE_EQ(b * c * d, 3.75 * 6.25 * 8.75);
    EXPECT_EQ(x, 1250 + static_cast<int64_t>(expected.size()));
    EXPECT_EQ(y + z, 3750 + 3761);
    EXPECT_EQ(text, "survives");
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
}

// A fault in an inner guarded call belongs to that call; the outer one runs
// on and catches its own fault afterwards.
TEST(FaultGuard, NestedGuardsEachCatchTheirOwnFault) {
    uint32_t inner = 0;
    bool afterInner = false;
    const uint32_t outer = FaultCodeOf([&] {
        inner = FaultCodeOf([] { Recurse(0); });
        afterInner = true;
        ReadBadAddress();
    });
    EXPECT_EQ(inner, kStackOverflow);
    EXPECT_TRUE(afterInner);
    EXPECT_EQ(outer, kAccessViolation);
}

// Faults in the test frame server, whose faulting frame is compiled as a
// plug-in's is (optimised, with a cleanup live across the faulting
// instruction and no unwind data for it): each of many in a row is caught,
// and the library and the process go on.
TEST(FaultGuard, PluginFaultsAreCaughtManyTimesInARow) {
    TestFSSession session;
    ASSERT_TRUE(session.Loaded()) << platform::SystemErrorText();
    ASSERT_NE(session.Open(), nullptr);
    const struct {
        const char* failWith;
        uint32_t code;
        int everyNthRound;
    } kinds[] = {
        {"access_violation", kAccessViolation, 1},
        {"divide_by_zero", kIntegerDivideByZero, 1},
        {"stack_overflow", kStackOverflow, 100},
    };
    std::vector<PClip> clips;
    for (const auto& kind : kinds)
        clips.push_back(session.ImportClip(std::string("fail_at=1\nfail_with=") + kind.failWith));
    int caught = 0;
    for (int round = 0; round < 1000; ++round) {
        for (size_t k = 0; k < clips.size(); ++k) {
            if (round % kinds[k].everyNthRound != 0) continue;
            if (kinds[k].code == kIntegerDivideByZero && !DivisionTraps()) continue;
            const PClip& clip = clips[k];
            ASSERT_EQ(FaultCodeOf([&] { clip->GetFrame(1, session.Env()); }), kinds[k].code)
                << kinds[k].failWith << ", round " << round;
            ++caught;
        }
    }
    EXPECT_GE(caught, 1010);
    for (const PClip& clip : clips) EXPECT_NE(clip->GetFrame(0, session.Env()).get(), nullptr);
    EXPECT_EQ(session.Counters().frames_requested, caught + 3);
}

namespace {
int g_destroyed = 0;
struct CountsDestruction {
    ~CountsDestruction() { ++g_destroyed; }
};

FAULTING void MayThrow(int value) {
    if (value == 12345) throw std::runtime_error("never");
    g_sink = value;
}

// The object is live across the faulting load and the call after it, so the
// frame has a cleanup but, compiled as plug-ins are, no unwind data for the
// load itself: a fault unwound from there would end in std::terminate.
FAULTING int FaultWithCleanup() {
    CountsDestruction guard;
    const int value = *reinterpret_cast<volatile int*>(g_badAddress);
    MayThrow(value);
    return value;
}
}  // namespace

// The faulting frame is left as it is (its destructors do not run), never
// unwound from the faulting instruction.
TEST(FaultGuard, FaultingFramesAreLeftWithoutUnwinding) {
    g_destroyed = 0;
    EXPECT_EQ(FaultCodeOf([] { FaultWithCleanup(); }), kAccessViolation);
    EXPECT_EQ(g_destroyed, 0);
}

namespace {
FAULTING void FaultRoundingTowardZero() {
    std::fesetround(FE_TOWARDZERO);
    ReadBadAddress();
}
}  // namespace

// The caller's floating-point control (here its rounding mode) is as it was
// before the guarded call, whatever the faulting code had set.
TEST(FaultGuard, FloatingPointControlIsRestored) {
    const int original = std::fegetround();
    ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
    const uint32_t code = FaultCodeOf([] { FaultRoundingTowardZero(); });
    const int after = std::fegetround();
    std::fesetround(original);
    EXPECT_EQ(code, kAccessViolation);
    EXPECT_EQ(after, FE_UPWARD);
}

TEST(FaultGuard, FaultOutsideAGuardStillEndsTheProcess) {
    ProcessRun run;
    run.Executable = platform::ExecutablePath();
    run.Arguments = {"--gtest_filter=-*"};
    run.Environment.push_back({"TACHORO_TEST_CHILD", "fault-outside-guard"});
    run.TimeoutMs = 60000;
    const ProcessResult result = RunProcess(run);
    ASSERT_TRUE(result.Started) << result.StartError;
    EXPECT_FALSE(result.TimedOut);
    EXPECT_NE(result.Out.find("guarded fault caught"), std::string::npos) << result.Out << result.Err;
    EXPECT_EQ(result.Out.find("survived"), std::string::npos) << result.Out;
    EXPECT_NE(result.ExitCode, 0u);
    if (kOnWindows) {
        EXPECT_EQ(result.ExitCode, kAccessViolation);
    }
}
