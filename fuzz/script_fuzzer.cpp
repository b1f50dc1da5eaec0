// Scripts are the user's text in any encoding, and -vary's values the
// user's too: any bytes must split into statements that lie in order within
// the script, each stage's script must be made, and a value list must come
// out whole and of one type or be refused.
#include <cstddef>
#include <cstdint>
#include <string>

#include "frameserver/ParameterScan.h"
#include "frameserver/ScriptStatements.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string script(reinterpret_cast<const char*>(data), size);
    const ScriptOutline outline = OutlineScript(script);
    FUZZ_CHECK(outline.CodeEnd <= script.size());
    size_t previousEnd = 0;
    uint32_t previousLine = 1;
    for (size_t index = 0; index < outline.Statements.size(); ++index) {
        const ScriptStatement& statement = outline.Statements[index];
        FUZZ_CHECK(statement.Begin >= previousEnd && statement.Begin < statement.End);
        FUZZ_CHECK(statement.End <= outline.CodeEnd && statement.Line >= previousLine);
        FUZZ_CHECK(statement.Text == script.substr(statement.Begin, statement.End - statement.Begin));
        FUZZ_CHECK(statement.Display.size() <= 4 * 40 && statement.Display.find('\n') == std::string::npos);
        FUZZ_CHECK(statement.Variable.empty() == (statement.Kind != StatementKind::Assignment &&
                                                  statement.Kind != StatementKind::GlobalAssignment));
        previousEnd = statement.End;
        previousLine = statement.Line;
        if (!IsStageCandidate(statement)) continue;
        const std::string stage = StageScript(script, outline, index);
        FUZZ_CHECK(stage.size() > outline.CodeEnd && stage.back() == '\n');
    }

    const ScanParse scan = ParseParameterScan(script);
    FUZZ_CHECK(scan.Error.empty() != scan.Scan.Values.empty());
    FUZZ_CHECK(scan.Scan.Values.size() <= kMaxScanValues);
    for (const ScanValue& value : scan.Scan.Values) FUZZ_CHECK(value.Type == scan.Scan.Type && !value.Text.empty());
    return 0;
}
