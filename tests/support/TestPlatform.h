// The system the tests run on, for the expectations that differ between the
// two. Tests branch on it at run time, so both branches always compile.
#pragma once

#if defined(_WIN32)
constexpr bool kOnWindows = true;
#else
constexpr bool kOnWindows = false;
#endif

#if defined(__GNUC__) && !defined(__clang__)
constexpr bool kBuiltWithGcc = true;
#else
constexpr bool kBuiltWithGcc = false;
#endif
