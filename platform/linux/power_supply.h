// Reads the kernel's power-supply class into the device's power sources: the readings of
// its batteries, its adapters, and the batteries of its peripherals.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Gives `text` without the white space at either end.
std::string_view trim_attribute(std::string_view text);

// Gives the integer that an attribute's text holds once trimmed: an optional minus sign and
// decimal digits within 64 bits; nothing for any other text, the empty one included.
std::optional<std::int64_t> parse_attribute_integer(std::string_view text);

// Which pair of attributes a battery's charge was read from.
enum class Family { energy, charge, capacity };

// One system battery's believable reading, in the kernel's units: µWh, µAh or percent for
// now and full, µV, µA, µW and tenths of a degree Celsius. Currents and powers are
// magnitudes; the direction is in `status`.
struct BatteryReading {
    Family family = Family::capacity;
    std::int64_t now = 0;
    std::int64_t full = 0;
    std::optional<std::int64_t> full_design;
    std::optional<std::int64_t> voltage_now;
    std::optional<std::int64_t> voltage_min_design;
    std::optional<std::int64_t> current_now;
    std::optional<std::int64_t> power_now;
    std::optional<std::int64_t> temperature;
    std::optional<std::int64_t> cycle_count;
    std::string status;
    std::string model_name;
    std::string manufacturer;
    std::string serial_number;
};

// A mains or USB supply that can power the device.
struct PowerAdapter {
    bool usb = false;
    std::optional<bool> online;  // nothing when `online` exists but cannot be read
};

// A mouse's, keyboard's or controller's own battery.
struct PeripheralBattery {
    std::optional<std::int64_t> percent;
    std::string model_name;
};

// Something that exists but could not be read: its path and the error.
struct ReadFailure {
    std::string path;
    int error = 0;
};

// What the power-supply class holds, each list in byte order of the entries' names.
struct PowerSources {
    bool class_found = false;  // the class folder exists
    std::vector<BatteryReading> batteries;
    std::vector<PowerAdapter> adapters;
    std::vector<PeripheralBattery> peripherals;
    // Set when something that decides which batteries the device has, or what they read,
    // exists but could not be read: then the lists above are not the device's.
    std::optional<ReadFailure> failure;
};

// Reads `sysfs_root`/class/power_supply. What does not exist, or whose device has gone, is
// absent; any other failure to read an attribute leaves out only what is made from it,
// unless the attribute decides the device's batteries or their charge: that sets `failure`.
PowerSources read_power_sources(const std::string& sysfs_root);
