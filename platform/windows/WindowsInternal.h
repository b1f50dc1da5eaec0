// Shared between the Windows platform files.
#pragma once

#include <windows.h>

#include <string>

namespace platform {
namespace windows {

// The full path of a loaded module (null: the program), however long; empty
// on failure.
std::string ModuleFileName(HMODULE module);

}  // namespace windows
}  // namespace platform
