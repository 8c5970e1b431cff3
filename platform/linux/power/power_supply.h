// Reads the kernel's power-supply class into the device's power sources: the readings of
// its batteries, its adapters, and the batteries of its peripherals.
//
// Everything is held in arrays of fixed size. The stand-in starts at every prompt, and the
// growing containers of the C++ library bring its exception runtime along, whose imports
// alone cost the loader more than all of the stand-in's own work.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The longest text kept from the kernel: model names, serials and the machine's name are
// far shorter, and a longer one could push a reader's numbers out of its view.
inline constexpr std::size_t LONGEST_TEXT = 128;

// The most of each kind of source that one device lists; past them, the class cannot be
// read as a whole.
inline constexpr std::size_t MOST_BATTERIES = 8;
inline constexpr std::size_t MOST_ADAPTERS = 16;
inline constexpr std::size_t MOST_PERIPHERALS = 32;
inline constexpr std::size_t MOST_UPSES = 8;

// The longest path that names something in sysfs.
inline constexpr std::size_t LONGEST_PATH = 4096;

// A text from the kernel, trimmed and cut to LONGEST_TEXT bytes.
struct Text {
    std::array<char, LONGEST_TEXT> bytes{};
    std::size_t size = 0;

    std::string_view view() const { return {bytes.data(), size}; }
};

// Gives `text` without the white space at either end.
std::string_view trim_attribute(std::string_view text);

// Gives the integer that an attribute's text holds once trimmed: an optional minus sign and
// decimal digits within 64 bits; nothing for any other text, the empty one included.
std::optional<std::int64_t> parse_attribute_integer(std::string_view text);

// Which pair of attributes a battery's charge was read from.
enum class Family : std::uint8_t { energy, charge, capacity };

// One system battery's believable reading, in the kernel's units: µWh, µAh or percent for
// now and full, µV, µA, µW and tenths of a degree Celsius. Currents and powers are
// magnitudes; the direction is in `status`. Where a driver gives no reading of now, its
// average stands for it.
struct BatteryReading {
    Family family = Family::capacity;
    std::int64_t now = 0;
    std::int64_t full = 0;
    // The full charge and the design of the first family that gives both, energy or else
    // charge, whatever family `now` and `full` come from: phones read their level from
    // `capacity`, and give their wear only as charge.
    struct Wear {
        Family family = Family::energy;
        std::int64_t full = 0;
        std::int64_t design = 0;
    };
    std::optional<Wear> wear;
    std::optional<std::int64_t> voltage_now;
    std::optional<std::int64_t> voltage_min_design;
    std::optional<std::int64_t> current_now;
    std::optional<std::int64_t> power_now;
    std::optional<std::int64_t> temperature;
    std::optional<std::int64_t> cycle_count;
    // Whether `health` names a failure; nothing when it exists but cannot be read.
    std::optional<bool> failed = false;
    bool healthy = false;  // `health` is Good
    // Whether `capacity_level` is below the warning level (Low, Critical) or not (Normal,
    // High, Full); nothing for any other level, or none.
    std::optional<bool> below_warning;
    Text status;
    Text model_name;
    Text manufacturer;
    Text serial_number;
    bool trickle = false;  // `charge_type` is Trickle: the last of a charge
};

// A mains or USB supply that can power the device.
struct PowerAdapter {
    bool usb = false;
    std::optional<bool> online;  // nothing when `online` exists but cannot be read
    // What an online adapter can deliver, in µW, when it says; and its model.
    std::optional<std::int64_t> power;
    std::optional<std::int64_t> voltage_max;  // µV
    std::optional<std::int64_t> current_max;  // µA
    Text model_name;
};

// What a peripheral is, from the device it belongs to or else from its name.
enum class PeripheralKind : std::uint8_t { unknown, mouse, trackpad, keyboard };

// A mouse's, keyboard's or controller's own battery.
struct PeripheralBattery {
    PeripheralKind kind = PeripheralKind::unknown;
    std::optional<std::int64_t> percent;
    Text model_name;
    // Its device's Bluetooth address, as lower-case hexadecimal pairs between dashes
    // (dc-2c-26-0a-1f-3b), where the entry's name holds one; else empty.
    Text address;
};

// Something that exists but could not be read: its path and the error.
struct ReadFailure {
    std::array<char, LONGEST_PATH> path{};  // ends with a zero byte
    int error = 0;
};

// What the power-supply class holds, each list in byte order of the entries' names.
struct PowerSources {
    bool class_found = false;  // the class folder exists
    Text machine_name;         // from class/dmi/id/product_name; empty when unknown
    std::array<BatteryReading, MOST_BATTERIES> batteries;
    std::size_t battery_count = 0;
    std::array<PowerAdapter, MOST_ADAPTERS> adapters;
    std::size_t adapter_count = 0;
    std::array<PeripheralBattery, MOST_PERIPHERALS> peripherals;
    std::size_t peripheral_count = 0;
    // Uninterruptible power supplies, each read as a battery is.
    std::array<BatteryReading, MOST_UPSES> upses;
    std::size_t ups_count = 0;
    // Set when something that decides which batteries the device has, or what they read,
    // exists but could not be read, or there were more than the lists hold: then the lists
    // above are not the device's.
    std::optional<ReadFailure> failure;
};

// What a command shows, and so what it reads: the stand-ins start at every prompt, and every
// attribute read costs a system call or three.
struct ReadPlan {
    // The battery's texts, temperature, cycles, health and design, the peripherals, the
    // machine's name: what the registry lists and pmset does not.
    bool details = true;
    // Of those details, what only the registry lists: the temperature, the peripherals and
    // the machine's name.
    bool registry_only = true;
    bool adapter_limits = true;  // what an online adapter can deliver
    bool charge_type = false;    // whether a battery tops up with a trickle
    bool upses = false;
    bool online_decides = false;  // an unreadable `online` fails the reading
    bool warning_level = false;   // whether a battery's charge is below the warning level
};

// Reads `sysfs_root`/class/power_supply into `sources`, as much as `plan` asks for. What does not exist is absent, and
// an entry whose device goes away while it is read is left out whole; any other failure to
// read an attribute leaves out only what is made from it, unless the attribute decides the
// device's batteries or their charge: that sets `failure`.
void read_power_sources(std::string_view sysfs_root, PowerSources& sources, const ReadPlan& plan = {});
