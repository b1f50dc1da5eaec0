// The command line as any caller may pass it. Input: one byte of flags, then
// the arguments separated by NUL bytes (no argument can hold one).
//   bit 0  AutoCompleteExtension is on
//   bit 1  no full path can be formed
//   bit 2  every file exists
//   bit 3  every file is a pipe (wins over bit 2)
//   bit 4  every file is larger than a text file may be (wins over bit 2)
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "support/Console.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    std::vector<std::string> args;
    std::string current;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (size > 1) args.push_back(current);

    PathServices paths;
    paths.FullPath = [flags](const std::string& path, std::string& fullPath) {
        if (flags & 2) return false;
        fullPath = "/fuzz/" + path;
        return true;
    };
    paths.Inspect = [flags](const std::string&) {
        platform::FileFacts facts;
        if (flags & 4) facts.Kind = platform::FileKind::Regular;
        if (flags & 16) facts = {platform::FileKind::Regular, kTextFileLimit + 1};
        if (flags & 8) facts.Kind = platform::FileKind::Special;
        return facts;
    };

    Invocation call;
    call.AutoCompleteExtension = flags & 1;
    const std::string error = ParseArguments(args, paths, call);

    FUZZ_CHECK(call.SwitchesText.empty() || (call.SwitchesText.front() != ' ' && call.SwitchesText.back() != ' '));
    if (error.empty()) {
        FUZZ_CHECK(call.ProcessPriority >= 1 && call.ProcessPriority <= 3);
        FUZZ_CHECK(call.TimeLimit == -1 || (call.TimeLimit >= 1 && call.TimeLimit <= 999999));
        FUZZ_CHECK(call.Runs >= 1 && call.Runs <= 100);
        // Only a usable file becomes a script.
        FUZZ_CHECK(call.ScriptPaths.empty() || ((flags & 4) && !(flags & 24)));
        FUZZ_CHECK(call.ScriptPaths.size() == call.ScriptArguments.size());
    }
    return 0;
}
