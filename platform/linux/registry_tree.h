// Builds, from the device's power sources, the registry tree that the platform's ioreg
// lists: objects with their classes and properties, the device's battery among them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "power_supply.h"

// A property's value: a number, a boolean or a text.
struct PropertyValue {
    enum class Kind { number, boolean, text };
    Kind kind = Kind::number;
    std::int64_t number = 0;
    bool boolean = false;
    std::string text;
};

// Give a value of each kind.
PropertyValue make_number(std::int64_t number);
PropertyValue make_boolean(bool boolean);
PropertyValue make_text(std::string text);

struct Property {
    std::string_view key;
    PropertyValue value;
};

// One registry object and the objects attached below it.
struct RegistryObject {
    std::string_view name;
    // Its class, then each class that one derives from; empty past the last.
    std::array<std::string_view, 4> lineage;
    std::uint64_t id = 0;
    int retain = 0;
    bool service = true;  // has a registration state to show
    std::vector<Property> properties;
    std::vector<RegistryObject> children;

    // The property named `key`, or nullptr.
    const Property* find(std::string_view key) const;
};

// The platform's value for "no estimate" in its minute counts.
inline constexpr std::int64_t NO_ESTIMATE = 65535;

// Which way the charge flows, from the kernel's `status`: neither is a battery known to be
// idle (Full, Not charging); unknown is one whose status is missing or Unknown.
enum class Direction { unknown, neither, discharging, charging };

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

// Gives a charge or energy `value` of `family` in mAh: µAh / 1000, or µWh * 1000 over the
// design's minimum voltage in µV; nothing for a capacity or without that voltage.
std::optional<std::int64_t> raw_capacity_mah(Family family, std::int64_t value,
                                             std::optional<std::int64_t> voltage_min_design_uv);

// Gives the tree: Root, the power-supply class below it, and below that the adapters, then
// the device's battery as one AppleSmartBattery object, then each peripheral's battery.
RegistryObject build_registry_tree(const PowerSources& sources);
