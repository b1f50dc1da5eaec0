// Shared between the POSIX platform files.
#pragma once

#include <string>

namespace platform {
namespace posix {

// Records the text that SystemErrorText returns until the next failure.
void SetLastErrorText(const std::string& text);
// Records strerror(errno) of the moment.
void SetLastErrorFromErrno();

// Puts the terminal back the way it was found. Async-signal-safe.
void RestoreTerminalForSignal();

}  // namespace posix
}  // namespace platform
