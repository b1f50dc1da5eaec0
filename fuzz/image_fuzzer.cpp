// Library files named by AVSDLL or found on the search path are read byte
// by byte before they are loaded: the PE and the ELF reader each get every
// input and must stay inside it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "frameserver/ImageInspect.h"
#include "fuzz/FuzzCheck.h"

namespace {

void CheckFacts(const ImageFacts& facts) {
    if (!facts.Valid) {
        FUZZ_CHECK(!facts.ErrorText.empty());
        FUZZ_CHECK(!facts.Is64Bit);
    }
    if (!facts.Is64Bit) FUZZ_CHECK(facts.LinkerVersion.empty() && !facts.HasLinkageExport);
    CompilerLabel(facts.LinkerVersion);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckFacts(InspectPEImage(data, size));
    CheckFacts(InspectELFImage(data, size));
    VersionStringNamesIcl10(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
