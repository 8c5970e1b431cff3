// Feeds arbitrary query output through the extraction and the level, laid out in the
// buffer exactly as the single line read leaves it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capacity_query.h"
#include "level_report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A line read keeps up to and including the first line feed, at most one byte short of
    // the buffer, zero bytes included, and zero-fills the rest.
    std::vector<char> capacity_text(CAPACITY_TEXT_SIZE, '\0');
    const std::uint8_t* line_end = std::find(data, data + size, std::uint8_t{'\n'});
    const std::size_t line = static_cast<std::size_t>(line_end - data) + (line_end != data + size);
    std::memcpy(capacity_text.data(), data, std::min(line, CAPACITY_TEXT_SIZE - 1));

    const auto current = extract_capacity(capacity_text.data(), CURRENT_CAPACITY_KEY);
    const auto maximum = extract_capacity(capacity_text.data(), MAXIMUM_CAPACITY_KEY);
    if (current && *current < 0)
        std::abort();
    if (maximum && *maximum < 0)
        std::abort();
    if (current && maximum && *maximum > 0) {
        // Rounded per mille over ten can never pass current * 100, plus one for the rounding.
        const std::uint64_t level = compute_battery_level(*current, *maximum);
        if (level > static_cast<std::uint64_t>(*current) * 100U + 1U)
            std::abort();
    }
    return 0;
}
