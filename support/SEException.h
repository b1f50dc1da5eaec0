// A processor (structured) exception turned into a C++ exception object.
#pragma once

#include <cstdint>
#include <string>

class SE_Exception {
public:
    uint32_t ExceptionCode;
};

// "Exception 0x%08X\n<name>" for a structured-exception code.
std::string ExceptionCodeText(uint32_t code);

// The system's text for the last error; empty when there is none.
std::string SystemErrorText();

// Runs f() as a guarded region: a processor fault inside it is thrown as
// SE_Exception. Frames between the fault and this call may be abandoned
// without destructors, so f must not own anything that must survive.
template <class F>
void Guarded(F&& f);

#include "platform/Platform.h"

template <class F>
void Guarded(F&& f) {
    platform::GuardedCall([](void* context) { (*static_cast<F*>(context))(); },
                          const_cast<void*>(static_cast<const void*>(&f)));
}
