// The command line: the script to measure and the switches.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "platform/Platform.h"

// What the result switches ask for. They have no settings keys: they are
// choices of one invocation, and the settings file stays as it was.
struct ResultOptions {
    bool Json = false;        // -json
    bool Plot = false;        // -plot
    bool FrameTimes = false;  // -frametimes
    uint32_t Runs = 1;        // -runs=n
};

struct CommandLineResult {
    // The scripts in the order named; ScriptPath is the last of them (the
    // one script of an ordinary run).
    std::vector<std::string> ScriptPaths;
    std::vector<std::string> ScriptArguments;  // each as named, for the messages
    std::string ScriptPath;
    std::string SwitchesText;  // as typed, each followed by one blank
    bool InfoOnly = false;
    bool AvsInfoMode = false;
    ResultOptions Results;
    std::string ErrorMessage;  // empty when every argument was accepted
};

// What the parser needs of the file system, so that it is tested without one.
struct PathServices {
    std::function<bool(const std::string& path, std::string& fullPath)> FullPath;
    // What a full path names (platform::InspectFile).
    std::function<platform::FileFacts(const std::string& path)> Inspect;
};

PathServices SystemPathServices();

// Parses args (without the program name) over `settings`. Stops at the first
// bad argument with its message in ErrorMessage.
CommandLineResult ParseArguments(const std::vector<std::string>& args, Settings& settings,
                                 const PathServices& paths);

// The usage text, line by line: the switches of every run, then a block
// with the result switches and the comparison of scripts.
const std::vector<std::string>& UsageLines();

// Prints the usage text on standard output.
void PrintUsage();

// The arguments that only ask for information: the usage text or the version.
enum class InformationRequest { None, Help, Version };

// The first of --help, -h, -? or --version among args (matched like the
// other switches: trimmed, in any letter case); None when there is none.
InformationRequest FindInformationRequest(const std::vector<std::string>& args);

// Those switches, for the documentation check.
const std::vector<std::string>& InformationSwitches();

// Answers a request on standard output: the usage text, or "Tachoro 2.1.3".
void PrintInformation(InformationRequest request);
