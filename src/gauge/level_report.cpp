#include "level_report.h"

#include <cinttypes>
#include <cstdio>

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
    std::printf("Battery Level is %" PRIu64 "%%\n",
                compute_battery_level(current_capacity, maximum_capacity));
    if (verbose) {
        std::printf("Current Capacity is: %" PRId32 "\n", current_capacity);
        std::printf("Maximum Capacity is: %" PRId32 "\n", maximum_capacity);
    }
}
