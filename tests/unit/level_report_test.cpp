#include "level_report.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

struct LevelCase {
    std::int32_t current;
    std::int32_t maximum;
    std::uint64_t level;
};

template <std::size_t N>
void check(const LevelCase (&cases)[N])
{
    for (const LevelCase& c : cases)
        EXPECT_EQ(compute_battery_level(c.current, c.maximum), c.level)
            << c.current << " of " << c.maximum;
}

TEST(ComputeBatteryLevel, RoundsPerMilleHalfUp)
{
    const LevelCase cases[] = {
        {616, 700, 88},  {700, 700, 100}, {0, 700, 0},  {994, 1000, 99}, {995, 1000, 100},
        {2, 3, 67},      {1, 3, 33},      {4, 999, 0},  {5, 999, 1},
        {750, 700, 107},  // above the maximum: reported, not capped
    };
    check(cases);
}

TEST(ComputeBatteryLevel, NeverWraps)
{
    constexpr std::int32_t largest = std::numeric_limits<std::int32_t>::max();
    const LevelCase cases[] = {
        // current * 1000 first passes 2^32 here; 32-bit arithmetic would give 0.
        {4294968, 10000, 42950},
        {largest, largest, 100},
        {largest, 1, 214748364700},
        {largest - 1, largest, 100},
    };
    check(cases);
}

TEST(ComputeBatteryLevel, GivesZeroOutsideItsDomain)
{
    const LevelCase cases[] = {
        {616, 0, 0},
        {616, -700, 0},
        {-1, 700, 0},
        {std::numeric_limits<std::int32_t>::min(), -1, 0},
    };
    check(cases);
}

// The capacities as read, sign and all, and the level line first.
TEST(PrintBatteryReport, WritesTheCapacitiesAsRead)
{
    testing::internal::CaptureStdout();
    print_battery_report(-1, 700, true);
    print_battery_report(std::numeric_limits<std::int32_t>::max(), 1, false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Battery Level is 0%\nCurrent Capacity is: -1\nMaximum Capacity is: 700\n"
              "Battery Level is 214748364700%\n");
}

}  // namespace
