#include "support/SEException.h"

#include <cstdio>

#include "platform/Errors.h"

namespace {

struct CodeName {
    uint32_t code;
    const char* name;
};

constexpr CodeName kCodeNames[] = {
    {0x80000001, "STATUS_GUARD_PAGE_VIOLATION"},
    {0x80000002, "STATUS_DATATYPE_MISALIGNMENT"},
    {0x80000003, "STATUS_BREAKPOINT"},
    {0x80000004, "STATUS_SINGLE_STEP"},
    {0xC0000005, "STATUS_ACCESS_VIOLATION"},
    {0xC0000006, "STATUS_IN_PAGE_ERROR"},
    {0xC0000008, "STATUS_INVALID_HANDLE"},
    {0xC0000017, "STATUS_NO_MEMORY"},
    {0xC000001D, "STATUS_ILLEGAL_INSTRUCTION"},
    {0xC0000025, "STATUS_NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "STATUS_INVALID_DISPOSITION"},
    {0xC000008C, "STATUS_ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "STATUS_FLOAT_DENORMAL_OPERAND"},
    {0xC000008E, "STATUS_FLOAT_DIVIDE_BY_ZERO"},
    {0xC000008F, "STATUS_FLOAT_INEXACT_RESULT"},
    {0xC0000090, "STATUS_FLOAT_INVALID_OPERATION"},
    {0xC0000091, "STATUS_FLOAT_OVERFLOW"},
    {0xC0000092, "STATUS_FLOAT_STACK_CHECK"},
    {0xC0000093, "STATUS_FLOAT_UNDERFLOW"},
    {0xC0000094, "STATUS_INTEGER_DIVIDE_BY_ZERO"},
    {0xC0000095, "STATUS_INTEGER_OVERFLOW"},
    {0xC0000096, "STATUS_PRIVILEGED_INSTRUCTION"},
    {0xC00000FD, "STATUS_STACK_OVERFLOW"},
    {0xC0000135, "STATUS_DLL_NOT_FOUND"},
    {0xC0000142, "STATUS_DLL_INIT_FAILED"},
    {0xC06D007E, "Delay-load module not found"},
    {0xC06D007F, "Delay-load procedure not found"},
};

}  // namespace

std::string ExceptionCodeText(uint32_t code) {
    const char* name = "Unknown system exception";
    for (const CodeName& entry : kCodeNames)
        if (entry.code == code) name = entry.name;
    char text[512];
    std::snprintf(text, sizeof text, "Exception 0x%08X\n%s", static_cast<unsigned>(code), name);
    return text;
}

std::string SystemErrorText() { return platform::SystemErrorText(); }

std::string WithSystemErrorText(const char* message) {
    const std::string system = SystemErrorText();
    return system.empty() ? std::string(message) : std::string(message) + "\n" + system;
}
