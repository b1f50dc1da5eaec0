// The system's reason for the last failure of a platform call.
#pragma once

#include <string>

namespace platform {

// The system's text for the calling thread's last error (FormatMessageA of
// GetLastError; POSIX: the text the last failing platform call recorded, for
// example dlerror). Empty when there is none.
std::string SystemErrorText();

// Forgets the last error (SetLastError(0) / clears the recorded text).
void ClearSystemError();

}  // namespace platform
