// Turns the two capacities into a whole percentage and writes the report lines.
#pragma once

#include <cstdint>

// Gives current / maximum in whole percent, halves rounded up and nothing capped, for a
// current capacity of zero or more and a maximum above zero; any other pair gives 0.
std::uint64_t compute_battery_level(std::int32_t current_capacity,
                                    std::int32_t maximum_capacity) noexcept;

// Writes the level line to standard output and, when `verbose`, the two capacities as read.
void print_battery_report(std::int32_t current_capacity, std::int32_t maximum_capacity,
                          bool verbose) noexcept;
