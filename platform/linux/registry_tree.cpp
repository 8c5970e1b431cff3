#include "registry_tree.h"

#include <algorithm>

namespace {

// The device's batteries, as the sources hold them.
struct Readings {
    const BatteryReading* first;
    std::size_t count;

    const BatteryReading* begin() const { return first; }
    const BatteryReading* end() const { return first + count; }
};

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
                           [&](const BatteryReading& r) { return direction_of(r.status.view()) == d; });
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

// The rounded percentage of one reading, for batteries of different families together.
std::int64_t percent_rounded(const BatteryReading& r)
{
    return (r.now * 200 + r.full) / (r.full * 2);
}

// The device's charge as listed: the capacities in mAh when every battery's convert, else
// in the one family's thousandths (mWh) or percent, else the sum of the percentages of
// batteries of different families against 100 each.
struct ListedCharge {
    bool mah = false;
    std::int64_t now = 0;
    std::int64_t full = 0;
    std::optional<std::int64_t> design;
};

std::optional<ListedCharge> listed_charge(const Readings& readings, bool one_family)
{
    auto in_mah = [](const BatteryReading& r, std::int64_t value) {
        return raw_capacity_mah(r.family, value, r.voltage_min_design);
    };
    ListedCharge charge;
    std::optional<std::int64_t> now = sum(readings, [&](const BatteryReading& r) { return in_mah(r, r.now); });
    std::optional<std::int64_t> full = sum(readings, [&](const BatteryReading& r) { return in_mah(r, r.full); });
    if (now && full) {
        charge.mah = true;
        charge.design = sum(readings, [&](const BatteryReading& r) {
            return r.full_design ? in_mah(r, *r.full_design) : std::nullopt;
        });
    } else if (one_family) {
        // Energy in mWh; a capacity is percent already.
        const std::int64_t scale = readings.first->family == Family::capacity ? 1 : 1000;
        now = sum(readings, [&](const BatteryReading& r) { return std::optional(r.now / scale); });
        full = sum(readings, [&](const BatteryReading& r) { return std::optional(r.full / scale); });
        charge.design = sum(readings, [&](const BatteryReading& r) {
            return r.full_design ? std::optional(*r.full_design / scale) : std::nullopt;
        });
    } else {
        now = sum(readings, [](const BatteryReading& r) { return std::optional(percent_rounded(r)); });
        full = sum(readings, [](const BatteryReading&) { return std::optional<std::int64_t>(100); });
    }
    if (!now || !full)
        return std::nullopt;
    charge.now = *now;
    charge.full = *full;
    return charge;
}

// The properties of one object or dictionary while they are gathered: up to `Size`.
template <std::size_t Size>
struct PropertyList {
    std::array<Property, Size> items;
    std::size_t count = 0;

    void add(std::string_view key, PropertyValue value) { items[count++] = {key, value}; }
    void add(std::string_view key, std::optional<std::int64_t> value)
    {
        if (value)
            add(key, make_number(*value));
    }
    void add(std::string_view key, const Text& value)
    {
        if (value.size != 0)
            add(key, make_text(value.view()));
    }
};

// Hands out the tree's storage in order, so that an object's children, and an object's
// properties, lie next to each other.
class TreeBuilder {
public:
    explicit TreeBuilder(RegistryTree& tree) : tree_(tree) {}

    // Gives the next `count` objects, each cleared to a service of no name or class yet.
    RegistryObject* objects(std::size_t count)
    {
        RegistryObject* const first = &tree_.objects[objects_];
        std::fill(first, first + count, RegistryObject{});
        objects_ += count;
        return first;
    }

    // Copies `list` into the tree; gives where it now lies.
    template <std::size_t Size>
    const Property* keep(const PropertyList<Size>& list)
    {
        Property* const first = &tree_.properties[properties_];
        std::copy(list.items.begin(), list.items.begin() + static_cast<std::ptrdiff_t>(list.count), first);
        properties_ += list.count;
        return first;
    }

    template <std::size_t Size>
    PropertyValue dictionary(const PropertyList<Size>& entries)
    {
        PropertyValue value;
        value.kind = PropertyValue::Kind::dictionary;
        value.entries = keep(entries);
        value.entry_count = entries.count;
        return value;
    }

    template <std::size_t Size>
    void set_properties(RegistryObject& object, const PropertyList<Size>& list)
    {
        object.properties = keep(list);
        object.property_count = list.count;
    }

private:
    RegistryTree& tree_;
    std::size_t objects_ = 0;
    std::size_t properties_ = 0;
};

// The adapter that is online and says what it delivers, first in name order.
const PowerAdapter* charger(const PowerSources& sources)
{
    const PowerAdapter* const end = sources.adapters.data() + sources.adapter_count;
    const PowerAdapter* const found = std::find_if(sources.adapters.data(), end, [](const PowerAdapter& a) {
        return a.online.value_or(false) && a.power;
    });
    return found == end ? nullptr : found;
}

// Any adapter online connects the device; otherwise one whose state is unknown leaves the
// whole unknown.
std::optional<bool> external_connected(const PowerSources& sources)
{
    const PowerAdapter* const first = sources.adapters.data();
    const PowerAdapter* const end = first + sources.adapter_count;
    if (std::any_of(first, end, [](const PowerAdapter& a) { return a.online.value_or(false); }))
        return true;
    if (std::all_of(first, end, [](const PowerAdapter& a) { return a.online.has_value(); }))
        return false;
    return std::nullopt;
}

// Whether any battery has failed for good; nothing when none has but one's health is unknown.
std::optional<bool> permanent_failure(const Readings& readings)
{
    if (std::any_of(readings.begin(), readings.end(), [](const BatteryReading& r) { return r.failed.value_or(false); }))
        return true;
    if (std::all_of(readings.begin(), readings.end(), [](const BatteryReading& r) { return r.failed.has_value(); }))
        return false;
    return std::nullopt;
}

// {"Watts"=...,"Name"=...}: what the charger can deliver, in whole watts, and its name.
PropertyValue adapter_details(const PowerAdapter& adapter, TreeBuilder& builder)
{
    PropertyList<2> details;
    details.add("Watts", (*adapter.power + 500'000) / 1'000'000);
    details.add("Name", adapter.model_name);
    return builder.dictionary(details);
}

// What the battery object lists, worked out from the device's batteries together.
struct BatteryFigures {
    ListedCharge charge;
    Direction direction = Direction::unknown;
    std::optional<std::int64_t> amperage;
    std::int64_t minutes = NO_ESTIMATE;
    bool charging = false;
    std::optional<bool> external;
    std::optional<bool> failed;
    // Values that belong to one battery; for several there is no one value to list.
    const BatteryReading* single = nullptr;
    std::optional<std::int64_t> voltage;
    std::optional<std::int64_t> cycles;
};

// Nothing when the batteries' sums do not fit.
std::optional<BatteryFigures> battery_figures(const PowerSources& sources)
{
    const Readings readings{sources.batteries.data(), sources.battery_count};
    const Family family = readings.first->family;
    const bool one_family = std::all_of(readings.begin(), readings.end(),
                                        [&](const BatteryReading& r) { return r.family == family; });
    const std::optional<ListedCharge> charge = listed_charge(readings, one_family);
    if (!charge)
        return std::nullopt;
    BatteryFigures f;
    f.charge = *charge;
    f.direction = device_direction(readings);
    f.single = readings.count == 1 ? readings.first : nullptr;
    if (f.single != nullptr) {
        if (f.single->voltage_now)
            f.voltage = *f.single->voltage_now / 1000;
        f.cycles = f.single->cycle_count;
    }
    if (one_family) {
        f.amperage = sum(readings, [](const BatteryReading& r) {
            return amperage_ma(r.current_now, r.power_now, r.voltage_now, direction_of(r.status.view()));
        });
        // In the kernel's own units, which the rates share.
        const std::optional<std::int64_t> now = sum(readings, [](const BatteryReading& r) { return std::optional(r.now); });
        const std::optional<std::int64_t> full =
            sum(readings, [](const BatteryReading& r) { return std::optional(r.full); });
        if (now && full)
            f.minutes = minutes_remaining(*now, *full, sum(readings, rate_of), f.direction);
    }
    f.charging = std::any_of(readings.begin(), readings.end(),
                             [](const BatteryReading& r) { return r.status.view() == "Charging"; });
    f.external = external_connected(sources);
    f.failed = permanent_failure(readings);
    return f;
}

// {"Amperage"=...,"Flags"=...,"Capacity"=...,"Current"=...,"Voltage"=...,"Cycle Count"=...}
PropertyValue legacy_info(const BatteryFigures& f, TreeBuilder& builder)
{
    PropertyList<6> legacy;
    legacy.add("Amperage", f.amperage);
    // 1 on external power, 2 charging, 4 installed.
    if (f.external)
        legacy.add("Flags", 4 + (*f.external ? 1 : 0) + (f.charging ? 2 : 0));
    legacy.add("Capacity", f.charge.full);
    legacy.add("Current", f.charge.now);
    legacy.add("Voltage", f.voltage);
    legacy.add("Cycle Count", f.cycles);
    return builder.dictionary(legacy);
}

// {"StateOfCharge"=...,"DesignCapacity"=...,"CycleCount"=...,"Voltage"=...}, the design
// only in mAh.
PropertyValue battery_data(const BatteryFigures& f, TreeBuilder& builder)
{
    PropertyList<4> data;
    // The level exactly as powmeter rounds it from the two capacities listed; none for
    // capacities so large that their per mille would not fit.
    std::int64_t per_mille = 0;
    if (f.charge.full > 0 && !__builtin_mul_overflow(f.charge.now, 1000, &per_mille))
        data.add("StateOfCharge", (per_mille / f.charge.full + 5) / 10);
    if (f.charge.mah)
        data.add("DesignCapacity", f.charge.design);
    data.add("CycleCount", f.cycles);
    data.add("Voltage", f.voltage);
    return builder.dictionary(data);
}

// The AppleSmartBattery object's properties for all of the device's batteries together;
// false when their sums do not fit.
//
// The keys come in the order of the platform's Intel-era laptops, and those it gained later
// come after all of them: scripts of those years take the first line that holds a word
// (/MaxCapacity/) or count lines ("the fourth Capacity line"), and newer scripts look keys
// up by their exact names, so this order serves both.
bool device_battery(const PowerSources& sources, TreeBuilder& builder, RegistryObject& battery)
{
    const std::optional<BatteryFigures> figures = battery_figures(sources);
    if (!figures)
        return false;
    const BatteryFigures& f = *figures;
    const ListedCharge& charge = f.charge;
    const BatteryReading* const single = f.single;
    const std::int64_t to_empty = f.direction == Direction::discharging ? f.minutes : NO_ESTIMATE;

    PropertyList<26> p;
    if (f.external)
        p.add("ExternalConnected", make_boolean(*f.external));
    p.add("TimeRemaining", f.minutes);
    p.add("InstantTimeToEmpty", to_empty);
    p.add("Voltage", f.voltage);
    p.add("MaxCapacity", charge.full);
    if (f.failed)
        p.add("PermanentFailureStatus", *f.failed ? 1 : 0);
    if (single != nullptr)
        p.add("Manufacturer", single->manufacturer);
    p.add("CurrentCapacity", charge.now);
    p.add("LegacyBatteryInfo", legacy_info(f, builder));
    p.add("BatteryInstalled", make_boolean(true));
    p.add("CycleCount", f.cycles);
    p.add("DesignCapacity", charge.design);
    p.add("AvgTimeToFull", f.direction == Direction::charging ? f.minutes : NO_ESTIMATE);
    if (single != nullptr) {
        p.add("BatterySerialNumber", single->serial_number);
        if (single->temperature)
            p.add("Temperature", *single->temperature * 10);
    }
    p.add("InstantAmperage", f.amperage);
    const BatteryReading* const end = sources.batteries.data() + sources.battery_count;
    p.add("FullyCharged", make_boolean(std::all_of(sources.batteries.data(), end, [](const BatteryReading& r) {
              return r.status.view() == "Full";
          })));
    if (single != nullptr)
        p.add("DeviceName", single->model_name);
    p.add("Amperage", f.amperage);
    p.add("IsCharging", make_boolean(f.charging));
    p.add("AvgTimeToEmpty", to_empty);
    if (charge.mah) {
        p.add("AppleRawCurrentCapacity", charge.now);
        p.add("AppleRawMaxCapacity", charge.full);
        p.add("NominalChargeCapacity", charge.full);
    }
    if (const PowerAdapter* const adapter = charger(sources))
        p.add("AdapterDetails", adapter_details(*adapter, builder));
    p.add("BatteryData", battery_data(f, builder));
    builder.set_properties(battery, p);
    return true;
}

void make_service(RegistryObject& object, std::string_view name, const std::array<std::string_view, 4>& lineage)
{
    object.name = name;
    object.lineage = lineage;
}

// A peripheral's battery under the name and class that the platform's scripts ask for its
// kind, each also an AppleDeviceManagementHIDEventService as on newer systems.
void peripheral_object(const PeripheralBattery& peripheral, TreeBuilder& builder, RegistryObject& object)
{
    constexpr std::string_view HID_SERVICE = "AppleDeviceManagementHIDEventService";
    std::string_view name = HID_SERVICE;
    switch (peripheral.kind) {
    case PeripheralKind::mouse: name = "BNBMouseDevice"; break;
    case PeripheralKind::trackpad: name = "BNBTrackpadDevice"; break;
    case PeripheralKind::keyboard: name = "AppleBluetoothHIDKeyboard"; break;
    case PeripheralKind::unknown: break;
    }
    if (name == HID_SERVICE)
        make_service(object, name, {HID_SERVICE, "IOService", "IORegistryEntry", {}});
    else
        make_service(object, name, {name, HID_SERVICE, "IOService", "IORegistryEntry"});
    // The product first, its battery a line after, as scripts that grep -A for it expect.
    PropertyList<2> properties;
    properties.add("Product", peripheral.model_name);
    properties.add("BatteryPercent", peripheral.percent);
    builder.set_properties(object, properties);
}

// Ids are made up, but each is unique and the same on every run over the same tree.
void number_objects(RegistryObject& object, std::uint64_t& next)
{
    object.id = next++;
    for (std::size_t i = 0; i < object.child_count; ++i)
        number_objects(object.children[i], next);
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

PropertyValue make_text(std::string_view text)
{
    PropertyValue value;
    value.kind = PropertyValue::Kind::text;
    value.text = text;
    return value;
}

const Property* RegistryObject::find(std::string_view key) const
{
    const Property* const end = properties + property_count;
    const Property* const found = std::find_if(properties, end, [&](const Property& p) { return p.key == key; });
    return found == end ? nullptr : found;
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

void build_registry_tree(const PowerSources& sources, RegistryTree& tree)
{
    constexpr std::string_view SERVICE = "IOService";
    constexpr std::string_view ENTRY = "IORegistryEntry";
    TreeBuilder builder(tree);
    auto children = [&](RegistryObject& parent, std::size_t count) {
        parent.children = builder.objects(count);
        parent.child_count = count;
        return parent.children;
    };

    RegistryObject& root = *builder.objects(1);
    make_service(root, "Root", {ENTRY, {}, {}, {}});
    root.retain = 11;
    root.service = false;
    RegistryObject& machine = *children(root, 1);
    tree.machine_name = sources.machine_name;
    std::transform(tree.machine_name.bytes.begin(), tree.machine_name.bytes.end(), tree.machine_name.bytes.begin(),
                   listed_char);
    make_service(machine, tree.machine_name.size != 0 ? tree.machine_name.view() : "Linux",
                 {"IOPlatformExpertDevice", SERVICE, ENTRY, {}});
    RegistryObject* const classes = children(machine, 2);
    RegistryObject& supplies = classes[0];
    make_service(supplies, "power_supply", {"LinuxPowerSupplyClass", SERVICE, ENTRY, {}});
    RegistryObject& input = classes[1];
    make_service(input, "input", {"LinuxInputClass", SERVICE, ENTRY, {}});
    RegistryObject* const groups = children(supplies, 2);
    make_service(groups[0], "batteries", {"LinuxPowerSupplyGroup", SERVICE, ENTRY, {}});
    make_service(groups[1], "adapters", {"LinuxPowerSupplyGroup", SERVICE, ENTRY, {}});
    RegistryObject& system = *children(groups[0], 1);
    make_service(system, "System", {"LinuxPowerSupplyScope", SERVICE, ENTRY, {}});
    RegistryObject& manager = *children(system, 1);
    make_service(manager, "AppleSmartBatteryManager", {"AppleSmartBatteryManager", SERVICE, ENTRY, {}});
    if (sources.battery_count > 0) {
        RegistryObject& battery = *children(manager, 1);
        make_service(battery, "AppleSmartBattery", {"AppleSmartBattery", "IOPMPowerSource", SERVICE, ENTRY});
        // Sums too large to list leave no battery to list.
        if (!device_battery(sources, builder, battery))
            manager.child_count = 0;
    }

    RegistryObject* const adapters = children(groups[1], sources.adapter_count);
    for (std::size_t i = 0; i < sources.adapter_count; ++i) {
        const PowerAdapter& adapter = sources.adapters[i];
        const std::string_view type = adapter.usb ? "USB" : "Mains";
        make_service(adapters[i], type, {"LinuxPowerAdapter", SERVICE, ENTRY, {}});
        PropertyList<2> properties;
        if (adapter.online)
            properties.add("Online", make_boolean(*adapter.online));
        properties.add("Type", make_text(type));
        builder.set_properties(adapters[i], properties);
    }
    RegistryObject* const peripherals = children(input, sources.peripheral_count);
    for (std::size_t i = 0; i < sources.peripheral_count; ++i)
        peripheral_object(sources.peripherals[i], builder, peripherals[i]);

    std::uint64_t next = 0x100000100;
    number_objects(root, next);
}
