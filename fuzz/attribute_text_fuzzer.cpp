// Feeds arbitrary attribute file content to the stand-in's attribute parsing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "power_supply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string_view trimmed = trim_attribute(text);
    if (trimmed.size() > text.size())
        std::abort();
    const auto value = parse_attribute_integer(text);
    // Whatever parses must print back to the same integer.
    if (value && parse_attribute_integer(std::to_string(*value)) != value)
        std::abort();
    return 0;
}
