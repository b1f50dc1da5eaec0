// The console dialogs of a call: the messages that end it, the prompts and
// the exit pause.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A message in the error colour on the message stream.
void PrintError(const std::string& message);

// Every step that fails ends the same way: the message, the exit pause, -1.
int Fail(const std::string& message);

// The last step of a call that got as far as the scripts: the exit pause,
// unless an interruption ended it; returns exitCode.
int Closing(int exitCode);

// No GPU source was found: the lines that say why (`notes`), what is needed
// (a driver's source where the search looks for one, else GPU-Z), and the
// question; true when the user goes on without GPU monitoring.
bool ContinueWithoutGPU(const std::vector<std::string>& notes, bool driverSources);

// The prompt for an invalid range; true when the user accepts the whole clip.
bool AcceptDefaultRange(uint32_t clipFrames, const std::string& rangeText);
