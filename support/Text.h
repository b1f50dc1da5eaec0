// Text operations shared by every part of the program. All of them are pure:
// they take their inputs as values.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#if defined(__GNUC__)
#define TACHORO_PRINTF(fmtIndex, argIndex) __attribute__((format(printf, fmtIndex, argIndex)))
#else
#define TACHORO_PRINTF(fmtIndex, argIndex)
#endif

// printf-style formatting into a string of any length; a null format gives
// the empty text.
std::string FormatText(const char* format, ...) TACHORO_PRINTF(1, 2);
std::string FormatTextV(const char* format, va_list args);

// A-Z to a-z, every other byte unchanged.
void ToLowerText(std::string& text);

// Removes blanks, tabs, CR and LF at the end, then at the start.
void TrimText(std::string& text);

// The lines of a text without their ends: CR LF, LF or a CR alone (as older
// editors save them).
std::vector<std::string> SplitLines(const std::string& content);

// A whole number: an optional leading '-', then one or more digits 0-9.
bool IsIntegerText(const std::string& text);

// Appends width - length - 1 blanks when that number is 0..999.
std::string PadLine(std::string text, int consoleWidth);

// Signed decimal conversion in the manner of strtoll: leading blanks and one
// sign allowed, stops at the first character that does not belong to the
// number, 0 when there is none, saturates at the 64-bit limits.
int64_t ParseInt64(const std::string& text);

// The same, saturated to the signed 32-bit range.
int32_t ParseInt32(const std::string& text);

// printf "%*.*f" and "%*u", always with a full stop as decimal separator.
void AppendFixed(std::string& out, double value, int precision, int width = 0);
void AppendUnsigned(std::string& out, uint64_t value, int width = 0);
// The shortest form with `digits` significant digits (printf "%.*g" without
// the locale): 123.456789, 1e+20. Non-finite values append nothing and
// return false.
bool AppendSignificant(std::string& out, double value, int digits);

// Frame rate and time per frame as the display, the summary and the files
// show them (without the locale).
std::string FormatFPS(double fps);
std::string FormatTPF(double milliseconds);
// A frame's time: as FormatTPF, and below a microsecond with four
// significant digits ("0.00002700"), where FormatTPF keeps one or none.
std::string FormatFrameTime(double milliseconds);

// Text from outside (names, settings values, the frame server's messages)
// made harmless for a terminal: every control character (C0, DEL, and C1
// as UTF-8) becomes '?', so that no escape sequence reaches it. With
// keepLineBreaks, CR, LF and tab stay (a whole console text).
std::string ControlsReplaced(const std::string& text, bool keepLineBreaks);

// The text, or its first `limit` bytes (a UTF-8 sequence is not cut) and
// "..." when it is longer.
std::string ShortenedText(const std::string& text, size_t limit);

// What follows the last of `separators` in `path` ("/a/b/clip.avs" ->
// "clip.avs"); the whole path when it has none.
std::string LastPathPart(const std::string& path, const char* separators);
