// Pieces shared by the report formats: the file-name rule and the one
// writer that puts a format's text into a file, turning every "\n" into CR
// LF and noticing every failed write (the numbers are written without the C
// locale, support/Text.h). A format only produces text into a TextSink;
// writing it is the writer's.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "support/Text.h"

// The script path without its last four characters (only when it has more
// than four) followed by `extension`: "D:\clips\test.avs" -> "D:\clips\test.log".
std::string ReportFileName(const std::string& scriptPath, const char* extension);

// True when writing `reportFile` would replace the script itself: the same
// name (a script named "x.log" gives the log name "x.log"; Windows file names
// ignore case), or another name of the same file (a link).
bool ReportWouldReplaceScript(const std::string& reportFile, const std::string& scriptPath);

// Text for the UTF-8 formats (JSON, SVG): narrow text converted from the
// system's code page, every invalid sequence replaced by U+FFFD.
std::string Utf8Text(const std::string& narrow);
// The repair alone: valid UTF-8 (no overlong forms, surrogates or values
// beyond U+10FFFF) stays, every other byte becomes U+FFFD.
std::string RepairUtf8(const std::string& bytes);

// Where a format puts its text, piece by piece.
class TextSink {
public:
    virtual ~TextSink() = default;
    virtual void Write(const std::string& text) = 0;
};

// Collects the text (tests, and formats built on other formats).
class StringSink final : public TextSink {
public:
    void Write(const std::string& text) override { Text += text; }
    std::string Text;
};

// Writes text to an open file with CR LF line ends. Any failed write or
// flush makes Finish return false. The file stays open: it is its owner's.
class ReportFileWriter final : public TextSink {
public:
    explicit ReportFileWriter(std::FILE* file);
    ReportFileWriter(const ReportFileWriter&) = delete;
    ReportFileWriter& operator=(const ReportFileWriter&) = delete;

    void Write(const std::string& text) override;
    // Flushes the file.
    bool Finish();

private:
    void WritePending();

    std::FILE* File;
    std::string Pending;
    bool Failed = false;
};

// Writes the text that `produce` puts into its sink to `fileName`, beside
// the script, replacing an existing file whole or not at all: the text goes
// to a temporary file of our own in the same folder
// (platform::FileReplacement), which takes the name only once it is complete
// and on the disk, with the old file's mode. On any failure the old file is
// left as it was and the new one removed. With keepPrevious an existing file
// is first renamed to its name plus ".bak". A link is followed: the file it
// leads to is replaced and the link stays; a link that leads to no file is
// refused. A device or pipe of that name is written to directly. Returns the
// empty text on success, else the message to show.
std::string WriteReportFile(const std::string& fileName, const std::string& scriptPath,
                            const std::function<void(TextSink& sink)>& produce, bool keepPrevious = false);

// How ReplaceFileContent treats what is at the name.
struct ReplaceOptions {
    // A link at the name is followed as by WriteReportFile; otherwise the
    // file replaces whatever is at the name, a link included.
    bool ThroughLink = true;
    bool KeepPrevious = false;  // as for WriteReportFile
    // The file whose mode and owner the new one takes (POSIX); empty: the
    // one it replaces.
    std::string ModeOf;
};

// Replaces `fileName` with `bytes` as they are, the way WriteReportFile
// replaces a report (for files that are not reports: the settings file and
// its backup). Returns the empty text on success, else the message to show.
std::string ReplaceFileContent(const std::string& fileName, const std::string& bytes,
                               const ReplaceOptions& options);

// The writers' failure messages, with the file name as given.
std::string CannotOpenMessage(const std::string& fileName);
// A failure to create says why on a line of its own: the system's reason,
// or what is at the name.
std::string CannotCreateMessage(const std::string& fileName, const std::string& reason = std::string());
std::string CannotWriteMessage(const std::string& fileName);
std::string WouldReplaceScriptMessage(const std::string& fileName);
