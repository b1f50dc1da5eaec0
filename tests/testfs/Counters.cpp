#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/testfs/TestFS.h"

namespace testfs {

namespace {

// Plain data with no destructor, so it is still intact while the unload
// report below runs.
TestFSCounters counters{};

// Appends the counters line when the library is unloaded (on Windows the
// runtime runs this from the DLL's process-detach notification).
struct UnloadReport {
    ~UnloadReport() {
        const char* path = std::getenv("TESTFS_COUNTERS_FILE");
        if (path == nullptr || *path == '\0') return;
        std::string line;
        char item[96];
#define TESTFS_COUNTER_TEXT(name)                                                            \
    std::snprintf(item, sizeof item, "%s%s=%" PRId64, line.empty() ? "" : " ", #name, counters.name); \
    line += item;
        TESTFS_COUNTER_FIELDS(TESTFS_COUNTER_TEXT)
#undef TESTFS_COUNTER_TEXT
        line += '\n';
        if (std::FILE* file = std::fopen(path, "ab")) {
            std::fwrite(line.data(), 1, line.size(), file);
            std::fclose(file);
        } else {
            std::fprintf(stderr, "testfs: cannot append the counters to %s\n", path);
        }
    }
} unloadReport;

// Which load of the library within the process this is (1 for the first).
// The count lives in the process's environment, which outlives an unload.
int ComputeLoadIndex() {
    const char* text = std::getenv("TESTFS_LOADS");
    const int index = (text ? std::atoi(text) : 0) + 1;
    // snprintf, not std::to_string: the latter brings a GNU-unique symbol
    // that would keep the library from ever being unloaded.
    char value[16];
    std::snprintf(value, sizeof value, "%d", index);
#if defined(_WIN32)
    _putenv_s("TESTFS_LOADS", value);
#else
    setenv("TESTFS_LOADS", value, 1);
#endif
    return index;
}

const int loadIndex = ComputeLoadIndex();

}  // namespace

int LoadIndex() { return loadIndex; }

TestFSCounters& Counters() { return counters; }

bool AfterDelete() {
    return counters.environments_deleted > 0 && counters.environments_deleted == counters.environments_created;
}

void NoteHandleOperation(bool touchesObject) {
    if (touchesObject && AfterDelete()) ++counters.handle_ops_after_delete;
}

void NoteFrameCreated() {
    ++counters.frames_alive;
    if (counters.frames_alive > counters.max_frames_alive) counters.max_frames_alive = counters.frames_alive;
}

void NoteFrameDestroyed() { --counters.frames_alive; }

}  // namespace testfs

extern "C" TESTFS_EXPORT const TestFSCounters* TestFS_GetCounters() { return &testfs::Counters(); }
