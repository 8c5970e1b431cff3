#include "registry_tree.h"

#include <algorithm>

namespace {

using Readings = std::vector<BatteryReading>;

// Energy and charge are listed in thousandths of what the kernel counts: mWh and mAh.
std::int64_t listed(Family family, std::int64_t value)
{
    return family == Family::capacity ? value : value / 1000;
}

std::int64_t percent_rounded(const BatteryReading& r)
{
    return (r.now * 200 + r.full) / (r.full * 2);
}

// Sums `part` of every reading; nothing when one is missing or a sum would not fit.
template <typename Part>
std::optional<std::int64_t> sum(const Readings& readings, Part part)
{
    std::int64_t total = 0;
    for (const BatteryReading& r : readings) {
        const std::optional<std::int64_t> value = part(r);
        if (!value || __builtin_add_overflow(total, *value, &total))
            return std::nullopt;
    }
    return total;
}

// The direction of the device as a whole: batteries that go both ways at once have none,
// and one battery of unknown direction leaves the whole unknown.
Direction device_direction(const Readings& readings)
{
    auto going = [&](Direction d) {
        return std::any_of(readings.begin(), readings.end(),
                           [&](const BatteryReading& r) { return direction_of(r.status) == d; });
    };
    if (going(Direction::unknown))
        return Direction::unknown;
    const bool charging = going(Direction::charging);
    if (charging == going(Direction::discharging))
        return Direction::neither;
    return charging ? Direction::charging : Direction::discharging;
}

// The rate that empties or fills a reading of its family: µW for µWh, µA for µAh.
std::optional<std::int64_t> rate_of(const BatteryReading& r)
{
    if (r.family == Family::energy)
        return r.power_now;
    if (r.family == Family::charge)
        return r.current_now;
    return std::nullopt;
}

void add(std::vector<Property>& properties, std::string_view key, std::optional<std::int64_t> value)
{
    if (value)
        properties.push_back({key, make_number(*value)});
}

void add(std::vector<Property>& properties, std::string_view key, const std::string& value)
{
    if (!value.empty())
        properties.push_back({key, make_text(value)});
}

// The AppleSmartBattery object's properties for all of the device's batteries together;
// nothing when their sums do not fit. The capacities come first and the kernel's texts
// last, so that no text can stand before the numbers a reader looks for.
std::optional<std::vector<Property>> device_battery(const Readings& readings,
                                                   std::optional<bool> external_connected)
{
    const Family family = readings.front().family;
    const bool one_family = std::all_of(readings.begin(), readings.end(),
                                        [&](const BatteryReading& r) { return r.family == family; });
    std::optional<std::int64_t> now;
    std::optional<std::int64_t> full;
    std::optional<std::int64_t> design;
    if (one_family) {
        now = sum(readings, [](const BatteryReading& r) { return std::optional(r.now); });
        full = sum(readings, [](const BatteryReading& r) { return std::optional(r.full); });
        design = sum(readings, [](const BatteryReading& r) { return r.full_design; });
    } else {
        // Units differ, so the device's charge is the mean of each battery's percentage.
        now = sum(readings, [](const BatteryReading& r) { return std::optional(percent_rounded(r)); });
        full = sum(readings, [](const BatteryReading&) { return std::optional<std::int64_t>(100); });
    }
    if (!now || !full)
        return std::nullopt;
    const Family unit = one_family ? family : Family::capacity;
    const Direction direction = device_direction(readings);
    // Values that belong to one battery; for several there is no one value to list.
    const BatteryReading* const single = readings.size() == 1 ? &readings.front() : nullptr;

    std::vector<Property> p;
    p.reserve(24);
    p.push_back({"CurrentCapacity", make_number(listed(unit, *now))});
    p.push_back({"MaxCapacity", make_number(listed(unit, *full))});
    if (design)
        p.push_back({"DesignCapacity", make_number(listed(unit, *design))});
    add(p, "AppleRawCurrentCapacity", sum(readings, [](const BatteryReading& r) {
            return raw_capacity_mah(r.family, r.now, r.voltage_min_design);
        }));
    add(p, "AppleRawMaxCapacity", sum(readings, [](const BatteryReading& r) {
            return raw_capacity_mah(r.family, r.full, r.voltage_min_design);
        }));
    if (single != nullptr && single->voltage_now)
        p.push_back({"Voltage", make_number(*single->voltage_now / 1000)});
    const std::optional<std::int64_t> amperage =
        one_family ? sum(readings,
                         [](const BatteryReading& r) {
                             return amperage_ma(r.current_now, r.power_now, r.voltage_now,
                                                direction_of(r.status));
                         })
                   : std::nullopt;
    add(p, "Amperage", amperage);
    add(p, "InstantAmperage", amperage);
    if (single != nullptr && single->temperature)
        p.push_back({"Temperature", make_number(*single->temperature * 10)});
    if (single != nullptr)
        add(p, "CycleCount", single->cycle_count);

    const std::int64_t minutes =
        one_family ? minutes_remaining(*now, *full, sum(readings, rate_of), direction) : NO_ESTIMATE;
    p.push_back({"TimeRemaining", make_number(minutes)});
    p.push_back({"AvgTimeToEmpty", make_number(direction == Direction::discharging ? minutes : NO_ESTIMATE)});
    p.push_back({"AvgTimeToFull", make_number(direction == Direction::charging ? minutes : NO_ESTIMATE)});

    auto any_is = [&](std::string_view status) {
        return std::any_of(readings.begin(), readings.end(), [&](const BatteryReading& r) { return r.status == status; });
    };
    auto all_are = [&](std::string_view status) {
        return std::all_of(readings.begin(), readings.end(), [&](const BatteryReading& r) { return r.status == status; });
    };
    p.push_back({"IsCharging", make_boolean(any_is("Charging"))});
    p.push_back({"FullyCharged", make_boolean(all_are("Full"))});
    if (external_connected)
        p.push_back({"ExternalConnected", make_boolean(*external_connected)});
    p.push_back({"BatteryInstalled", make_boolean(true)});
    if (single != nullptr) {
        add(p, "DeviceName", single->model_name);
        add(p, "Manufacturer", single->manufacturer);
        add(p, "BatterySerialNumber", single->serial_number);
    }
    return p;
}

RegistryObject service(std::string_view name, const std::array<std::string_view, 4>& lineage)
{
    RegistryObject object;
    object.name = name;
    object.lineage = lineage;
    object.retain = 7;
    return object;
}

// Ids are made up, but each is unique and the same on every run over the same tree.
void number_objects(RegistryObject& object, std::uint64_t& next)
{
    object.id = next++;
    for (RegistryObject& child : object.children)
        number_objects(child, next);
}

}  // namespace

PropertyValue make_number(std::int64_t number)
{
    PropertyValue value;
    value.number = number;
    return value;
}

PropertyValue make_boolean(bool boolean)
{
    PropertyValue value;
    value.kind = PropertyValue::Kind::boolean;
    value.boolean = boolean;
    return value;
}

PropertyValue make_text(std::string text)
{
    PropertyValue value;
    value.kind = PropertyValue::Kind::text;
    value.text = std::move(text);
    return value;
}

const Property* RegistryObject::find(std::string_view key) const
{
    const auto found = std::find_if(properties.begin(), properties.end(),
                                    [&](const Property& p) { return p.key == key; });
    return found == properties.end() ? nullptr : &*found;
}

Direction direction_of(std::string_view status)
{
    if (status == "Charging")
        return Direction::charging;
    if (status == "Discharging")
        return Direction::discharging;
    if (status == "Full" || status == "Not charging")
        return Direction::neither;
    return Direction::unknown;
}

std::int64_t minutes_remaining(std::int64_t now, std::int64_t full, std::optional<std::int64_t> rate,
                               Direction direction)
{
    if (!rate || *rate <= 0 || (direction != Direction::discharging && direction != Direction::charging))
        return NO_ESTIMATE;
    const std::int64_t left = direction == Direction::discharging ? now : std::max<std::int64_t>(full - now, 0);
    std::int64_t scaled = 0;
    if (__builtin_mul_overflow(left, 60, &scaled))
        return NO_ESTIMATE;
    return std::min(scaled / *rate, NO_ESTIMATE);
}

std::optional<std::int64_t> amperage_ma(std::optional<std::int64_t> current_ua,
                                        std::optional<std::int64_t> power_uw,
                                        std::optional<std::int64_t> voltage_uv, Direction direction)
{
    std::int64_t magnitude = 0;
    if (current_ua)
        magnitude = *current_ua / 1000;
    else if (power_uw && voltage_uv && *voltage_uv > 0)
        magnitude = *power_uw * 1000 / *voltage_uv;  // µW / µV is A
    else
        return std::nullopt;
    if (direction == Direction::unknown)
        return std::nullopt;
    if (direction == Direction::neither)
        return 0;
    return direction == Direction::discharging ? -magnitude : magnitude;
}

std::optional<std::int64_t> raw_capacity_mah(Family family, std::int64_t value,
                                             std::optional<std::int64_t> voltage_min_design_uv)
{
    if (family == Family::charge)
        return value / 1000;
    if (family == Family::energy && voltage_min_design_uv && *voltage_min_design_uv > 0)
        return value * 1000 / *voltage_min_design_uv;  // µWh / µV is Ah
    return std::nullopt;
}

RegistryObject build_registry_tree(const PowerSources& sources)
{
    RegistryObject root;
    root.name = "Root";
    root.lineage = {"IORegistryEntry", {}, {}, {}};
    root.retain = 11;
    root.service = false;

    RegistryObject supply_class = service("power_supply", {"LinuxPowerSupplyClass", "IOService", "IORegistryEntry", {}});
    // Any adapter online connects the device; otherwise one whose state is unknown leaves
    // the whole unknown.
    const auto& adapters = sources.adapters;
    std::optional<bool> external_connected;
    if (std::any_of(adapters.begin(), adapters.end(), [](const PowerAdapter& a) { return a.online.value_or(false); }))
        external_connected = true;
    else if (std::all_of(adapters.begin(), adapters.end(), [](const PowerAdapter& a) { return a.online.has_value(); }))
        external_connected = false;
    for (const PowerAdapter& adapter : sources.adapters) {
        const std::string_view type = adapter.usb ? "USB" : "Mains";
        RegistryObject object = service(type, {"LinuxPowerAdapter", "IOService", "IORegistryEntry", {}});
        if (adapter.online)
            object.properties.push_back({"Online", make_boolean(*adapter.online)});
        object.properties.push_back({"Type", make_text(std::string(type))});
        supply_class.children.push_back(std::move(object));
    }
    if (!sources.batteries.empty()) {
        if (auto properties = device_battery(sources.batteries, external_connected)) {
            RegistryObject battery =
                service("AppleSmartBattery", {"AppleSmartBattery", "IOPMPowerSource", "IOService", "IORegistryEntry"});
            battery.properties = std::move(*properties);
            supply_class.children.push_back(std::move(battery));
        }
    }
    for (const PeripheralBattery& peripheral : sources.peripherals) {
        RegistryObject object =
            service("PeripheralBattery", {"LinuxPeripheralBattery", "IOService", "IORegistryEntry", {}});
        add(object.properties, "BatteryPercent", peripheral.percent);
        add(object.properties, "Product", peripheral.model_name);
        supply_class.children.push_back(std::move(object));
    }
    root.children.push_back(std::move(supply_class));

    std::uint64_t next = 0x100000100;
    number_objects(root, next);
    return root;
}
