// The device's batteries taken together, as every stand-in shows them: the level, the
// direction, the minutes, the amperage and the capacities in the units they are listed in.
// One piece of arithmetic, so that ioreg and pmset can never disagree on a level.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "power_supply.h"

// The platform's value for "no estimate" in its minute counts.
inline constexpr std::int64_t NO_ESTIMATE = 65535;

// Which way the charge flows, from the kernel's `status`: neither is a battery known to be
// idle (Full, Not charging); unknown is one whose status is missing or Unknown.
enum class Direction : std::uint8_t { unknown, neither, discharging, charging };

// Gives the direction that a `status` text names.
Direction direction_of(std::string_view status);

// Gives the whole minutes until `now` reaches 0 while discharging, or `full` while charging,
// at `rate` per hour, all of one family; NO_ESTIMATE when neither charging nor discharging,
// without a rate, or for 65535 minutes or more.
std::int64_t minutes_remaining(std::int64_t now, std::int64_t full, std::optional<std::int64_t> rate,
                               Direction direction);

// Gives the current in mA, signed by `direction` (0 for neither), from a current in µA, else
// from a power in µW over a voltage in µV; nothing when neither is known, or the direction.
std::optional<std::int64_t> amperage_ma(std::optional<std::int64_t> current_ua,
                                        std::optional<std::int64_t> power_uw,
                                        std::optional<std::int64_t> voltage_uv, Direction direction);

// Gives a × b / c rounded down, exactly, for products past 64 bits too; nothing when c is 0
// or the quotient does not fit 64 bits.
std::optional<std::uint64_t> multiply_divide(std::uint64_t a, std::uint64_t b, std::uint64_t c);

// Gives the level as powmeter rounds `now` over `full`: whole percent, halves up; nothing
// when `full` is not above 0.
std::optional<std::int64_t> level_percent(std::int64_t now, std::int64_t full);

// What the listed capacities count: mAh, mWh, percent (100 for each battery), or the
// kernel's own µAh or µWh where whole mAh or mWh are too coarse to show the level.
enum class Units : std::uint8_t { mah, mwh, percent, kernel };

// The device's charge as listed: now, full and, where every battery's design counts what
// they count, as built.
struct Capacities {
    Units units = Units::percent;
    std::int64_t now = 0;
    std::int64_t full = 0;
    std::optional<std::int64_t> design;
};

// The device's batteries together.
struct BatteryFigures {
    Capacities capacities;
    std::int64_t level = 0;  // percent; powmeter's level of the listed capacities
    Direction direction = Direction::unknown;
    std::optional<std::int64_t> amperage;  // mA, signed by direction
    // To empty while discharging, to full while charging; NO_ESTIMATE otherwise.
    std::int64_t minutes = NO_ESTIMATE;
    bool charging = false;  // one battery is Charging
    bool full = false;      // every battery is Full
    bool trickle = false;   // one battery tops up with a trickle
    std::optional<bool> external;  // an adapter is online; nothing when unknown
    std::optional<bool> failed;    // a battery failed for good; nothing when unknown
    bool healthy = false;          // every battery's health is Good
    // The full charge over the one as built, in whole percent as powmeter rounds, never
    // capped: a new pack holds more than its design. From the family of each battery that
    // gives both figures, whatever its level is read from; nothing without every battery's
    // pair, or where the pairs do not add up in one basis.
    std::optional<std::int64_t> maximum_capacity;
    // The charge is below the warning level: one battery says so; not: every one says
    // otherwise; nothing when one does not say.
    std::optional<bool> below_warning;
    // Values that belong to one battery; for several there is no one value to list.
    const BatteryReading* single = nullptr;
    std::optional<std::int64_t> voltage;  // mV
    std::optional<std::int64_t> cycles;
};

// Gives the figures of the device's batteries: capacities whose level, as powmeter rounds
// it, is the stored energy (or charge) over the full one, whatever the units listed.
// Nothing when the device has no battery or the sums do not fit.
std::optional<BatteryFigures> battery_figures(const PowerSources& sources);

// Gives the adapter that is online and says what it delivers, first in name order; nullptr
// when there is none.
const PowerAdapter* charger(const PowerSources& sources);

// Gives what `adapter` can deliver in whole watts, rounded half up; nothing when it does not say.
std::optional<std::int64_t> adapter_watts(const PowerAdapter& adapter);

// Gives whether any adapter is online; nothing when none is and one's state is unknown.
std::optional<bool> external_connected(const PowerSources& sources);

// The source that the device draws from, as the platform's power tools name it.
enum class PowerSource : std::uint8_t { ac, battery, ups };

// Gives the source in use: AC when an adapter is online, or when nothing discharges that
// could power the device; else its batteries, and without any its UPS.
PowerSource drawing_from(const PowerSources& sources);
