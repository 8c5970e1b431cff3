// Feeds arbitrary attribute texts through the listing's text replacement and XML escaping,
// and checks what each promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "registry_printer.h"

namespace {

bool is_printable(char c)
{
    return c >= ' ' && c <= '~';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // Between quotes: the same length, and nothing that could end the quotes or the line.
    const std::string quoted = quoted_text(text);
    if (quoted.size() != text.size())
        std::abort();
    for (const char c : quoted)
        if (c == '"' || c == '\\' || !is_printable(c))
            std::abort();

    // XML: printable ASCII only, and every & the start of one of the three entities.
    const std::string xml = xml_escaped(text);
    for (std::size_t i = 0; i < xml.size(); ++i) {
        const std::string_view rest = std::string_view(xml).substr(i);
        if (xml[i] == '<' || xml[i] == '>' || !is_printable(xml[i]))
            std::abort();
        if (xml[i] == '&' && rest.substr(0, 5) != "&amp;" && rest.substr(0, 4) != "&lt;" &&
            rest.substr(0, 4) != "&gt;")
            std::abort();
    }
    return 0;
}
