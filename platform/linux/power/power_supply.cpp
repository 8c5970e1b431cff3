// What each kind of power-supply entry gives: a system battery, an adapter, a peripheral's
// battery or a UPS. How an attribute is read is sysfs_entry's.
#include "power_supply.h"

#include <algorithm>
#include <initializer_list>

#include <dirent.h>
#include <fcntl.h>

#include "sysfs_entry.h"

namespace {

using sysfs::Attribute;
using sysfs::Entry;
using sysfs::LARGEST_READING;
using sysfs::Need;
using sysfs::text_of;

// A battery's design voltage, in µV, below which its mAh would pass what powmeter reads; no
// cell is built to run down to a tenth of a volt.
constexpr std::int64_t LOWEST_DESIGN_VOLTAGE = 100'000;

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equals_ignoring_case(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

bool contains_ignoring_case(std::string_view text, std::string_view word)
{
    return std::search(text.begin(), text.end(), word.begin(), word.end(),
                       [](char x, char y) { return lower(x) == lower(y); }) != text.end();
}

bool is_system_supply(const Entry& entry)
{
    // A Device scope is a peripheral's own supply: a mouse, a keyboard, a controller.
    const Text scope = entry.text("scope", Need::deciding);
    return scope.size == 0 || equals_ignoring_case(scope.view(), "System") ||
           equals_ignoring_case(scope.view(), "Unknown");
}

std::optional<std::int64_t> read_percent(const Entry& entry, Need need)
{
    return entry.integer("capacity", 0, 150, need);
}

bool is_present(const Entry& entry, Need need)
{
    const std::optional<std::int64_t> present = entry.integer("present", need);
    return !present || *present != 0;
}

bool is_plausible(std::int64_t now, std::int64_t full)
{
    // A now far above full is a known bad reading; half again as much is still believable.
    return full > 0 && full <= LARGEST_READING && now >= 0 && now - full <= full / 2;
}

// The attributes of one family: the charge now (else its average), when full, and when new.
struct FamilyAttributes {
    Family family;
    const char* now;
    const char* average;
    const char* full;
    const char* design;
};

constexpr FamilyAttributes ENERGY{Family::energy, "energy_now", "energy_avg", "energy_full", "energy_full_design"};
constexpr FamilyAttributes CHARGE{Family::charge, "charge_now", "charge_avg", "charge_full", "charge_full_design"};

std::optional<BatteryReading> read_family(const Entry& entry, const FamilyAttributes& names)
{
    const std::optional<std::int64_t> now = entry.integer(names.now, names.average, Need::deciding);
    if (!now)
        return std::nullopt;
    const std::optional<std::int64_t> full = entry.integer(names.full, Need::deciding);
    if (!full || !is_plausible(*now, *full))
        return std::nullopt;
    BatteryReading reading;
    reading.family = names.family;
    reading.now = *now;
    reading.full = *full;
    return reading;
}

// The full and design figures of the first family that has both; the full of the family
// that `reading` comes from is taken as read.
std::optional<BatteryReading::Wear> read_wear(const Entry& entry, const BatteryReading& reading)
{
    for (const FamilyAttributes* names : {&ENERGY, &CHARGE}) {
        const std::optional<std::int64_t> full =
            names->family == reading.family ? reading.full : entry.integer(names->full, 1, LARGEST_READING);
        const std::optional<std::int64_t> design = full ? entry.integer(names->design, 1, LARGEST_READING) : std::nullopt;
        if (design)
            return BatteryReading::Wear{names->family, *full, *design};
    }
    return std::nullopt;
}

// Whether `health` names a failure: anything but Good and Unknown does; nothing when it
// exists but cannot be read. And whether it is Good, which a missing one is not.
void read_health(const Entry& entry, BatteryReading& reading)
{
    const Attribute health = entry.attribute("health");
    if (health.error != 0) {
        reading.failed.reset();
        return;
    }
    const Text text = text_of(health.content);
    reading.healthy = equals_ignoring_case(text.view(), "Good");
    reading.failed = text.size != 0 && !reading.healthy && !equals_ignoring_case(text.view(), "Unknown");
}

// Whether `capacity_level` says the charge is below the warning level; nothing for a level
// that says neither (Unknown), and for none.
std::optional<bool> read_below_warning(const Entry& entry)
{
    const Text level = entry.text("capacity_level", Need::descriptive);
    const auto one_of = [&](std::initializer_list<std::string_view> levels) {
        return std::any_of(levels.begin(), levels.end(),
                           [&](std::string_view named) { return equals_ignoring_case(level.view(), named); });
    };
    if (one_of({"Low", "Critical"}))
        return true;
    if (one_of({"Normal", "High", "Full"}))
        return false;
    return std::nullopt;
}

// The first family that gives a believable reading: the energy or charge ratio before the
// kernel's `capacity`, which truncates and on some machines holds health rather than charge.
// An entry whose type names no battery (Unknown) is one only by a reading of a family.
std::optional<BatteryReading> read_battery(const Entry& entry, const ReadPlan& plan, bool by_capacity, bool named)
{
    std::optional<BatteryReading> reading = read_family(entry, ENERGY);
    if (!reading)
        reading = read_family(entry, CHARGE);
    if (!reading && by_capacity) {
        const std::optional<std::int64_t> capacity = read_percent(entry, Need::deciding);
        if (capacity) {
            reading = BatteryReading{};
            reading->now = *capacity;
            reading->full = 100;
        }
    }
    if (!reading)
        return std::nullopt;
    reading->voltage_now = entry.integer("voltage_now", "voltage_avg", 0, LARGEST_READING);
    // It decides whether an energy battery's capacities are listed in mAh or mWh.
    reading->voltage_min_design = entry.integer("voltage_min_design", LOWEST_DESIGN_VOLTAGE, LARGEST_READING,
                                                reading->family == Family::energy ? Need::deciding : Need::descriptive);
    reading->current_now = entry.magnitude("current_now", "current_avg");
    reading->power_now = entry.magnitude("power_now", "power_avg");
    reading->status = entry.text("status", Need::deciding);
    if (plan.charge_type)
        reading->trickle = equals_ignoring_case(entry.text("charge_type", Need::descriptive).view(), "Trickle");
    if (named || plan.details)
        reading->model_name = entry.text("model_name", Need::descriptive);
    if (plan.warning_level)
        reading->below_warning = read_below_warning(entry);
    if (!plan.details)
        return reading;
    // Tenths of a degree; a thousand degrees either way is no battery's.
    if (plan.registry_only)
        reading->temperature = entry.integer("temp", -10'000, 10'000);
    reading->wear = read_wear(entry, *reading);
    reading->cycle_count = entry.integer("cycle_count", 0, LARGEST_READING);
    read_health(entry, *reading);
    reading->manufacturer = entry.text("manufacturer", Need::descriptive);
    reading->serial_number = entry.text("serial_number", Need::descriptive);
    return reading;
}

// What the HID report descriptor of a peripheral's own device says it is: the usage of its
// first application collection, the one that the kernel's HID drivers name the device by.
PeripheralKind descriptor_kind(const Entry& entry)
{
    const std::optional<std::string_view> descriptor = entry.attribute("device/report_descriptor").content;
    if (!descriptor)
        return PeripheralKind::unknown;
    // Short items: a prefix byte (tag, type, size of 0, 1, 2 or 4 bytes) and its data.
    constexpr unsigned char USAGE_PAGE = 0x04;      // global item, tag 0
    constexpr unsigned char USAGE = 0x08;           // local item, tag 0
    constexpr unsigned char COLLECTION = 0xa0;      // main item, tag 10
    constexpr unsigned GENERIC_DESKTOP = 0x01;
    constexpr unsigned DIGITIZER = 0x0d;
    unsigned page = 0;
    unsigned usage = 0;
    for (std::size_t at = 0; at < descriptor->size();) {
        const auto prefix = static_cast<unsigned char>((*descriptor)[at]);
        const std::size_t size = (prefix & 3U) == 3 ? 4 : prefix & 3U;
        if (prefix == 0xfe || at + 1 + size > descriptor->size())
            break;  // a long item, or one cut short: nothing known to go by
        unsigned data = 0;
        for (std::size_t i = size; i > 0; --i)
            data = data << 8U | static_cast<unsigned char>((*descriptor)[at + i]);
        const auto item = static_cast<unsigned char>(prefix & 0xfcU);
        if (item == USAGE_PAGE)
            page = data;
        else if (item == USAGE && size == 4)
            page = data >> 16U, usage = data & 0xffffU;  // an extended usage carries its page
        else if (item == USAGE)
            usage = data;
        else if (item == COLLECTION)
            break;
        at += 1 + size;
    }
    constexpr unsigned MOUSE = 0x02;
    constexpr unsigned KEYBOARD = 0x06;
    constexpr unsigned TOUCH_PAD = 0x05;
    if (page == GENERIC_DESKTOP && usage == MOUSE)
        return PeripheralKind::mouse;
    if (page == GENERIC_DESKTOP && usage == KEYBOARD)
        return PeripheralKind::keyboard;
    if (page == DIGITIZER && usage == TOUCH_PAD)
        return PeripheralKind::trackpad;
    return PeripheralKind::unknown;
}

PeripheralKind kind_from_name(std::string_view model_name)
{
    if (contains_ignoring_case(model_name, "mouse"))
        return PeripheralKind::mouse;
    if (contains_ignoring_case(model_name, "trackpad") || contains_ignoring_case(model_name, "touchpad"))
        return PeripheralKind::trackpad;
    if (contains_ignoring_case(model_name, "keyboard"))
        return PeripheralKind::keyboard;
    return PeripheralKind::unknown;
}

void read_peripheral(const Entry& entry, PeripheralBattery& peripheral)
{
    peripheral.percent = read_percent(entry, Need::descriptive);
    peripheral.model_name = entry.text("model_name", Need::descriptive);
    peripheral.kind = descriptor_kind(entry);
    if (peripheral.kind == PeripheralKind::unknown)
        peripheral.kind = kind_from_name(peripheral.model_name.view());
}

bool is_hex_digit(char c)
{
    return (c >= '0' && c <= '9') || (lower(c) >= 'a' && lower(c) <= 'f');
}

// The Bluetooth address that a peripheral's entry is named by, as in the HID driver's
// hid-dc:2c:26:0a:1f:3b-battery: six pairs of hexadecimal digits joined by colons, with no
// digit or colon either side, so that a USB device's hid-0003:046D:C52B.0001-battery holds
// none. Lower case and joined by dashes, as the platform lists it; empty for none.
Text bluetooth_address(std::string_view name)
{
    constexpr std::size_t LENGTH = 17;  // 6 pairs, 5 colons
    const auto part_of_one = [&](std::size_t at) { return at < name.size() && (is_hex_digit(name[at]) || name[at] == ':'); };
    Text address;
    for (std::size_t at = 0; at + LENGTH <= name.size(); ++at) {
        std::size_t i = 0;
        while (i < LENGTH && ((i % 3 == 2) ? name[at + i] == ':' : is_hex_digit(name[at + i])))
            ++i;
        if (i < LENGTH || (at > 0 && part_of_one(at - 1)) || part_of_one(at + LENGTH))
            continue;
        for (i = 0; i < LENGTH; ++i)
            address.bytes[i] = (i % 3 == 2) ? '-' : lower(name[at + i]);
        address.size = LENGTH;
        break;
    }
    return address;
}

void read_adapter(const Entry& entry, bool usb, const ReadPlan& plan, PowerAdapter& adapter)
{
    adapter.usb = usb;
    const Attribute online = entry.get("online", plan.online_decides ? Need::deciding : Need::descriptive);
    if (online.error != 0)
        return;
    // 1 is online; 2, online with a programmable voltage (USB PD), is online too.
    const std::optional<std::int64_t> state = online.content ? parse_attribute_integer(*online.content) : std::nullopt;
    adapter.online = state && *state > 0;
    if (!*adapter.online || !plan.adapter_limits)
        return;
    // What it can deliver: its most voltage times its most current (µV times µA is a
    // millionth of a µW), else the power it says it delivers.
    adapter.voltage_max = entry.integer("voltage_max", 1, LARGEST_READING);
    adapter.current_max = entry.integer("current_max", 1, LARGEST_READING);
    std::int64_t picowatts = 0;
    if (adapter.voltage_max && adapter.current_max &&
        !__builtin_mul_overflow(*adapter.voltage_max, *adapter.current_max, &picowatts))
        adapter.power = picowatts / 1'000'000;
    else
        adapter.power = entry.integer("power_now", 1, LARGEST_READING);
    if (adapter.power)
        adapter.model_name = entry.text("model_name", Need::descriptive);
}

// The next item of one of the lists, cleared; nullptr when that list is full.
template <typename Item, std::size_t Size>
Item* next(std::array<Item, Size>& list, std::size_t& count)
{
    if (count == Size)
        return nullptr;
    list[count] = Item{};
    return &list[count++];
}

// Adds `reading`, when there is one, to `list`; false when the list is full.
template <std::size_t Size>
bool keep(const std::optional<BatteryReading>& reading, std::array<BatteryReading, Size>& list, std::size_t& count)
{
    if (!reading)
        return true;
    BatteryReading* const slot = next(list, count);
    if (slot != nullptr)
        *slot = *reading;
    return slot != nullptr;
}

// Adds to `into` what the entry is: one of the device's batteries, an adapter, a
// peripheral's battery, a UPS, or nothing; false when the list it belongs in is full.
bool read_entry(const Entry& entry, const ReadPlan& plan, PowerSources& into)
{
    const Text type = entry.text("type", Need::deciding);
    if (type.size == 0)
        return true;
    const bool battery = equals_ignoring_case(type.view(), "Battery");
    if (!is_system_supply(entry)) {
        if (!battery || !plan.details || !plan.registry_only || !is_present(entry, Need::descriptive))
            return true;
        PeripheralBattery* const peripheral = next(into.peripherals, into.peripheral_count);
        if (peripheral != nullptr)
            read_peripheral(entry, *peripheral);
        return peripheral != nullptr;
    }
    // Older kernels give some batteries, the PowerPC PMU's among them, the type Unknown.
    if (battery || equals_ignoring_case(type.view(), "Unknown"))
        return keep(is_present(entry, Need::deciding) ? read_battery(entry, plan, battery, false) : std::nullopt,
                    into.batteries, into.battery_count);
    if (equals_ignoring_case(type.view(), "UPS"))
        return !plan.upses || keep(is_present(entry, Need::deciding) ? read_battery(entry, plan, true, true) : std::nullopt,
                                   into.upses, into.ups_count);
    const bool usb = equals_ignoring_case(std::string_view(type.bytes.data(), std::min<std::size_t>(type.size, 3)), "USB");
    if (!usb && !equals_ignoring_case(type.view(), "Mains"))
        return true;
    PowerAdapter* const adapter = next(into.adapters, into.adapter_count);
    if (adapter != nullptr)
        read_adapter(entry, usb, plan, *adapter);
    return adapter != nullptr;
}

}  // namespace

void read_power_sources(std::string_view sysfs_root, PowerSources& sources, const ReadPlan& plan)
{
    sysfs::Path class_path;
    sysfs::join(class_path, {sysfs_root, "/class/power_supply"});
    auto fail = [&](int error) {
        sources.failure.emplace();
        sources.failure->path = class_path;
        sources.failure->error = error;
    };
    DIR* const class_folder = opendir(class_path.data());
    if (class_folder == nullptr) {
        if (!sysfs::is_absence(errno))
            fail(errno);
        return;
    }
    sources.class_found = true;
    sysfs::EntryNames& names = sysfs::entry_names();
    names.count = 0;
    if (!sysfs::list_entries(class_folder, names))
        fail(errno);
    for (std::size_t i = 0; i < names.count && !sources.failure; ++i) {
        const Entry entry(dirfd(class_folder), class_path.data(), names.sorted[i].text, sources.failure);
        const std::size_t batteries = sources.battery_count;
        const std::size_t adapters = sources.adapter_count;
        const std::size_t peripherals = sources.peripheral_count;
        const std::size_t upses = sources.ups_count;
        if (!read_entry(entry, plan, sources) && !sources.failure)
            fail(sysfs::TOO_MANY);
        if (sources.peripheral_count > peripherals)
            sources.peripherals[peripherals].address = bluetooth_address(names.sorted[i].view());
        // What an entry whose device went away added is no source at all.
        if (entry.gone()) {
            sources.battery_count = batteries;
            sources.adapter_count = adapters;
            sources.peripheral_count = peripherals;
            sources.ups_count = upses;
        }
    }
    closedir(class_folder);
    if (!plan.details || !plan.registry_only)
        return;
    sysfs::Path product_name;
    sysfs::join(product_name, {sysfs_root, "/class/dmi/id/product_name"});
    sources.machine_name = sysfs::text_of(sysfs::read_attribute_at(AT_FDCWD, product_name.data()).content);
}
