#include "report/ReportFile.h"

#include <utility>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "support/Text.h"

std::string ReportFileName(const std::string& scriptPath, const char* extension) {
    std::string name = scriptPath.size() > 4 ? scriptPath.substr(0, scriptPath.size() - 4) : scriptPath;
    return name + extension;
}

bool ReportWouldReplaceScript(const std::string& reportFile, const std::string& scriptPath) {
    if (platform::SameFile(reportFile, scriptPath)) return true;
    if (!platform::FileNamesIgnoreCase()) return reportFile == scriptPath;
    std::string a = reportFile, b = scriptPath;
    ToLowerText(a);
    ToLowerText(b);
    return a == b;
}

std::string Utf8Text(const std::string& narrow) { return RepairUtf8(platform::NarrowToUtf8(narrow)); }

std::string RepairUtf8(const std::string& bytes) {
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string text;
    text.reserve(bytes.size());
    size_t at = 0;
    while (at < bytes.size()) {
        const unsigned char lead = static_cast<unsigned char>(bytes[at]);
        size_t length = 0;
        uint32_t code = 0;
        uint32_t least = 0;
        if (lead < 0x80) length = 1, code = lead;
        else if (lead >= 0xC2 && lead <= 0xDF) length = 2, code = lead & 0x1F, least = 0x80;
        else if (lead >= 0xE0 && lead <= 0xEF) length = 3, code = lead & 0x0F, least = 0x800;
        else if (lead >= 0xF0 && lead <= 0xF4) length = 4, code = lead & 0x07, least = 0x10000;
        bool valid = length > 0 && at + length <= bytes.size();
        for (size_t i = 1; valid && i < length; ++i) {
            const unsigned char next = static_cast<unsigned char>(bytes[at + i]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (valid && length > 1) valid = code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        if (valid) {
            text.append(bytes, at, length);
            at += length;
        } else {
            text += kReplacement;
            at += 1;
        }
    }
    return text;
}

// ------------------------------------------------------------------ writer

namespace {
constexpr size_t kWriteChunk = 64 * 1024;
}

ReportFileWriter::ReportFileWriter(std::FILE* file) : File(file) {}

void ReportFileWriter::Write(const std::string& text) {
    if (!File || Failed) return;
    for (char character : text) {
        if (character == '\n') Pending += '\r';
        Pending += character;
    }
    if (Pending.size() >= kWriteChunk) WritePending();
}

void ReportFileWriter::WritePending() {
    if (Pending.empty()) return;
    if (std::fwrite(Pending.data(), 1, Pending.size(), File) != Pending.size()) Failed = true;
    Pending.clear();
}

bool ReportFileWriter::Finish() {
    if (!File) return false;
    if (!Failed) WritePending();
    if (std::fflush(File) != 0) Failed = true;
    return !Failed;
}

namespace {

// The system's reason for the last failure, on one line.
std::string SystemReason() {
    std::string reason = platform::SystemErrorText();
    TrimText(reason);
    return reason;
}

// What every replaced file has in common; `write` puts the content into the
// stream and says whether every write succeeded.
std::string ReplaceFile(const std::string& fileName, const ReplaceOptions& options,
                        const std::function<bool(std::FILE* stream)>& write) {
    std::string target = fileName;
    if (options.ThroughLink) {
        // A link is followed, so that the file it names is replaced and the
        // link stays a link; one that leads nowhere is refused, as it is not
        // clear what it was meant to become.
        bool dangling = false;
        target = platform::WriteTarget(fileName, &dangling);
        if (dangling) return CannotCreateMessage(fileName, "It is a link to a missing file.");
        const platform::FileKind kind = platform::InspectFile(target).Kind;
        if (kind == platform::FileKind::Directory) return CannotCreateMessage(fileName, "It is a folder.");
        if (kind == platform::FileKind::Special) {
            // A device or a pipe cannot be replaced, only written to.
            std::FILE* file = platform::OpenExistingForWriting(target);
            if (!file) return CannotCreateMessage(fileName, SystemReason());
            const bool written = write(file);
            if (std::fclose(file) != 0 || !written) return CannotWriteMessage(fileName);
            return std::string();
        }
    }
    platform::FileReplacement replacement;
    if (!replacement.Begin(target, options.ModeOf)) return CannotCreateMessage(fileName, SystemReason());
    if (!write(replacement.Stream()) || !replacement.Sync()) return CannotWriteMessage(fileName);
    if (options.KeepPrevious && platform::InspectFile(target).Kind == platform::FileKind::Regular &&
        !platform::MoveFileReplacing(target, target + ".bak"))
        return CannotCreateMessage(fileName + ".bak", SystemReason());
    if (!replacement.Commit()) return CannotCreateMessage(fileName, SystemReason());
    return std::string();
}

}  // namespace

std::string WriteReportFile(const std::string& fileName, const std::string& scriptPath,
                            const std::function<void(TextSink& sink)>& produce, bool keepPrevious) {
    if (ReportWouldReplaceScript(fileName, scriptPath)) return WouldReplaceScriptMessage(fileName);
    ReplaceOptions options;
    options.KeepPrevious = keepPrevious;
    return ReplaceFile(fileName, options, [&](std::FILE* stream) {
        ReportFileWriter writer(stream);
        produce(writer);
        return writer.Finish();
    });
}

std::string ReplaceFileContent(const std::string& fileName, const std::string& bytes, const ReplaceOptions& options) {
    return ReplaceFile(fileName, options, [&](std::FILE* stream) {
        return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() && std::fflush(stream) == 0;
    });
}

std::string CannotOpenMessage(const std::string& fileName) { return "\nCannot open \"" + fileName + "\"\n"; }

std::string CannotCreateMessage(const std::string& fileName, const std::string& reason) {
    return "\nCannot create \"" + fileName + "\"\n" + (reason.empty() ? std::string() : reason + "\n");
}

std::string CannotWriteMessage(const std::string& fileName) { return "\nCannot write \"" + fileName + "\"\n"; }

std::string WouldReplaceScriptMessage(const std::string& fileName) {
    return "\nCannot create \"" + fileName + "\"\nThat name is the script itself.\n";
}
