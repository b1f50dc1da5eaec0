// Processor (structured) exceptions: SE_Exception (declared with the
// platform's fault guard), their texts and the guarded call.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "platform/Guard.h"

// "Exception 0x%08X\n<name>" for a structured-exception code.
std::string ExceptionCodeText(uint32_t code);

// The system's text for the last error; empty when there is none.
std::string SystemErrorText();

// "<message>\n<system text>", or the message alone when the system has none.
std::string WithSystemErrorText(const char* message);

// Runs f() as a guarded region: a processor fault inside it is thrown as
// SE_Exception. Frames between the fault and this call may be abandoned
// without destructors, so f must not own anything that must survive.
template <class F>
void Guarded(F&& f);

template <class F>
void Guarded(F&& f) {
    using Callable = std::remove_reference_t<F>;
    platform::GuardedCall([](void* context) { (*static_cast<Callable*>(context))(); },
                          const_cast<void*>(static_cast<const void*>(&f)));
}
