// Shared between the Windows platform files.
#pragma once

#include <windows.h>

#include <string>

namespace platform {
namespace windows {

// The full path of a loaded module (null: the program), however long; empty
// on failure.
std::string ModuleFileName(HMODULE module);

// True when the handle is a console's (input or screen buffer).
bool IsConsoleHandle(HANDLE handle);

}  // namespace windows
}  // namespace platform
