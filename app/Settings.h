// The settings file: its default text, its version check and its reader,
// all over the keys of the table of options (app/Options.cpp).
#pragma once

#include <string>

#include "app/Invocation.h"

// The program's version text: the file version cut to five characters
// ("2.1.3" for 2.1.3.0).
std::string ProgramVersionShort();
// As the banner and the log show it: "2.1.3 (x64)".
std::string ProgramVersionText();

// The default settings file, CR LF line ends, for the given version text.
std::string DefaultSettingsFileText(const std::string& versionText);

// True when a line of `content` proves the file current for versionText.
bool SettingsFileIsCurrent(const std::string& content, const std::string& versionText);

// Applies the keys of a settings file's content to `call` (over the values
// it holds).
void ApplySettingsText(const std::string& content, Invocation& call);

// The text of a settings file's bytes as editors save them: UTF-16 (little
// or big endian, with its byte-order mark) as narrow text, a UTF-8 mark
// dropped; other bytes unchanged.
std::string DecodeSettingsText(const std::string& bytes);

// Fills `call`: defaults, then the file (created or replaced when missing
// or outdated). Returns the message to show, empty on success; when an
// existing file was replaced, `notice` gets the line that says so.
std::string LoadSettings(Invocation& call, std::string* notice = nullptr);
