// Reads the kernel's power-supply class and describes the device's battery the way the
// platform's I/O Registry lists one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Gives `text` without the white space at either end.
std::string_view trim_attribute(std::string_view text);

// Gives the integer that an attribute's text holds once trimmed: an optional minus sign and
// decimal digits within 64 bits; nothing for any other text, the empty one included.
std::optional<std::int64_t> parse_attribute_integer(std::string_view text);

// Gives the whole content of the regular file at `path`, or nothing when it is missing,
// unreadable, not a regular file or larger than any sysfs attribute.
std::optional<std::string> read_attribute(const std::string& path);

// The device's battery, in the units the listing prints: mWh or mAh, or percent when only
// the kernel's `capacity` was there.
struct DeviceBattery {
    std::int64_t current_capacity = 0;
    std::int64_t max_capacity = 0;
    std::optional<std::int64_t> design_capacity;
    bool is_charging = false;
    bool fully_charged = false;
    std::optional<std::int64_t> voltage;  // mV
    std::optional<std::int64_t> cycle_count;
};

// A mains or USB supply that can power the device.
struct PowerAdapter {
    bool usb = false;
    bool online = false;
};

// What the power-supply class holds for the device as a whole.
struct PowerSources {
    std::optional<DeviceBattery> battery;  // none when no battery gives a reading
    std::vector<PowerAdapter> adapters;
};

// Reads `sysfs_root`/class/power_supply, in byte order of the entries' names; a missing or
// unreadable folder reads as no battery and no adapter.
PowerSources read_power_sources(const std::string& sysfs_root);

// Writes `sources` to `out` as a registry tree, one property a line as `"Key" = value`; no
// line holds the word Capacity unless there is a battery.
void print_registry_listing(std::FILE* out, const PowerSources& sources);
