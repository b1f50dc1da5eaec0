// Shared between the Windows platform files.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace platform {
namespace windows {

// The full path of a loaded module (null: the program), however long; empty
// on failure.
std::string ModuleFileName(HMODULE module);

// A runtime-library stream over a handle opened for writing; the handle is
// closed on failure.
std::FILE* WritingStream(HANDLE handle);

}  // namespace windows
}  // namespace platform
