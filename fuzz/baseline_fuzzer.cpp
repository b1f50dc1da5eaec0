// A baseline file is whatever lies at the path the user gives: any bytes
// must pass the JSON reader and the baseline's checks, and only figures a
// comparison can use may come out.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "report/BaselineFile.h"
#include "report/JsonReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const JsonParse parse = ParseJson(text, size);
    FUZZ_CHECK(parse.Error.empty() || parse.Value.Kind == JsonValue::Type::Null);

    const BaselineRead read = BaselineFromJson(text, size, "fuzz.json");
    FUZZ_CHECK(read.Facts.has_value() == read.Error.empty());
    if (read.Facts) {
        const SeriesFigures& figures = read.Facts->Figures;
        FUZZ_CHECK(figures.Runs >= 1 && figures.Runs <= 100);
        FUZZ_CHECK(std::isfinite(figures.Mean) && figures.Mean > 0);
        FUZZ_CHECK(!figures.StandardDeviation || (std::isfinite(*figures.StandardDeviation) &&
                                                  *figures.StandardDeviation >= 0));
        FUZZ_CHECK(read.Facts->Clip.Frames >= 0 && read.Facts->Clip.Width >= 0 && read.Facts->Clip.Height >= 0);
    }
    return 0;
}
