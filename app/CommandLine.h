// The command line: the scripts to measure and the switches, read over the
// table of options; the usage text and the information switches.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/Invocation.h"
#include "app/Options.h"
#include "platform/Files.h"

// What the parser needs of the file system, so that it is tested without one.
struct PathServices {
    std::function<bool(const std::string& path, std::string& fullPath)> FullPath;
    // What a full path names (platform::InspectFile).
    std::function<platform::FileFacts(const std::string& path)> Inspect;
};

PathServices SystemPathServices();

// Reads args (without the program name) over `call`, which holds the
// settings file's values: the switches of `options`, and the scripts. Stops
// at the first bad argument and returns its message; empty when every
// argument was accepted.
std::string ParseArguments(const std::vector<std::string>& args, const PathServices& paths, Invocation& call,
                           const std::vector<Option>& options = Options());

// The usage text, line by line: the switches of every run, then a block
// with those added since (results, comparisons).
const std::vector<std::string>& UsageLines();

// Prints the usage text on standard output.
void PrintUsage();

// The first information switch among args (matched like the other
// switches: trimmed, in any letter case); None when there is none.
InformationRequest FindInformationRequest(const std::vector<std::string>& args);

// Answers a request on standard output: the usage text, or "Tachoro 2.1.3".
void PrintInformation(InformationRequest request);
