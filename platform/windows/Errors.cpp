// The system's error texts on Win32.
#include "platform/Errors.h"

#include <windows.h>

namespace platform {

std::string SystemErrorText() {
    const DWORD error = GetLastError();
    if (error == 0) return std::string();
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                                        error, 0x400, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result;
    if (length != 0 && text != nullptr) result.assign(text, length);
    if (text != nullptr) LocalFree(text);
    // Callers often ask twice (test for empty, then print); keep the answer.
    SetLastError(error);
    return result;
}

void ClearSystemError() { SetLastError(0); }

}  // namespace platform
