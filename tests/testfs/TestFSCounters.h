// What the test frame server counted during one load of the library. In-process
// tests read it through the exported TestFS_GetCounters; end-to-end tests read
// the line the library appends to $TESTFS_COUNTERS_FILE when it is unloaded
// (see tests/testfs/README.md for the meaning of each counter).
#pragma once

#include <cstdint>

// One list of names, so that the structure, the counters line and its readers
// cannot disagree.
#define TESTFS_COUNTER_FIELDS(X) \
    X(environments_created)      \
    X(environments_deleted)      \
    X(imports)                   \
    X(frames_requested)          \
    X(frames_alive)              \
    X(max_frames_alive)          \
    X(clips_alive)               \
    X(values_alive)              \
    X(getmtmode_calls)           \
    X(distributor_calls)         \
    X(invoke_calls)              \
    X(handle_ops_after_delete)   \
    X(frames_alive_at_delete)    \
    X(clips_alive_at_delete)

struct TestFSCounters {
#define TESTFS_COUNTER_MEMBER(name) int64_t name;
    TESTFS_COUNTER_FIELDS(TESTFS_COUNTER_MEMBER)
#undef TESTFS_COUNTER_MEMBER
};

// The exported accessor: extern "C" const TestFSCounters* TestFS_GetCounters().
typedef const TestFSCounters* (*TestFSGetCountersFunc)();
constexpr const char* kTestFSGetCountersSymbol = "TestFS_GetCounters";
