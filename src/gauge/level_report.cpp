#include "level_report.h"

#include <cstdio>

namespace {

// One report line: room for the longest words and a signed 64-bit decimal.
char line[64];

// Writes `words`, the decimal of `value` and `tail` as one line. printf would do the same,
// at the cost of its format parser and one more library import at every start.
void put_line(const char* words, std::int64_t value, const char* tail)
{
    std::size_t size = 0;
    while (*words != '\0')
        line[size++] = *words++;
    if (value < 0)
        line[size++] = '-';
    std::uint64_t magnitude = value < 0 ? 0U - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    const std::size_t first = size;
    do {
        line[size++] = static_cast<char>('0' + (magnitude % 10U));
        magnitude /= 10U;
    } while (magnitude != 0);
    for (std::size_t low = first, high = size - 1; low < high; ++low, --high) {
        const char digit = line[low];
        line[low] = line[high];
        line[high] = digit;
    }
    while (*tail != '\0')
        line[size++] = *tail++;
    line[size] = '\0';
    std::puts(line);
}

}  // namespace

std::uint64_t compute_battery_level(std::int32_t current_capacity,
                                    std::int32_t maximum_capacity) noexcept
{
    if (current_capacity < 0 || maximum_capacity <= 0)
        return 0;
    // 64 bits hold INT32_MAX * 1000 with room to spare, so nothing wraps before the division.
    const auto per_mille = static_cast<std::uint64_t>(current_capacity) * 1000U /
                           static_cast<std::uint64_t>(maximum_capacity);
    return (per_mille + 5U) / 10U;
}

void print_battery_report(std::int32_t current_capacity, std::int32_t maximum_capacity,
                          bool verbose) noexcept
{
    put_line("Battery Level is ", static_cast<std::int64_t>(compute_battery_level(current_capacity, maximum_capacity)), "%");
    if (verbose) {
        put_line("Current Capacity is: ", current_capacity, "");
        put_line("Maximum Capacity is: ", maximum_capacity, "");
    }
}
