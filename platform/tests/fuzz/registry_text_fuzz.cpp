// The parser of the registry files on arbitrary text. Text it accepts is written back and
// must then read as the same document (the writer's text is stable).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "registry_format.h"

namespace pf = talvorine::platform::detail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const pf::ParseResult parsed = pf::ParseRegistryText(text);
    if (!parsed.document) {
        return 0;
    }
    const std::string written = pf::FormatRegistryText(*parsed.document);
    const pf::ParseResult again = pf::ParseRegistryText(written);
    if (!again.document || pf::FormatRegistryText(*again.document) != written) {
        std::abort();
    }
    return 0;
}
