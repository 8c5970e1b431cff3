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

// The AppleSmartBattery object's properties for all of the device's batteries together;
// nothing when their sums do not fit.
//
// The keys come in the order of the platform's Intel-era laptops, and those it gained later
// come after all of them: scripts of those years take the first line that holds a word
// (/MaxCapacity/) or count lines ("the fourth Capacity line"), and newer scripts look keys
// up by their exact names, so this order serves both.
bool device_battery(const PowerSources& sources, TreeBuilder& builder, RegistryObject& battery)
{
    const Readings readings{sources.batteries.data(), sources.battery_count};
    const Family family = readings.first->family;
    const bool one_family = std::all_of(readings.begin(), readings.end(),
                                        [&](const BatteryReading& r) { return r.family == family; });
    const std::optional<ListedCharge> charge = listed_charge(readings, one_family);
    if (!charge)
        return false;
    const Direction direction = device_direction(readings);
    // Values that belong to one battery; for several there is no one value to list.
    const BatteryReading* const single = readings.count == 1 ? readings.first : nullptr;
    std::optional<std::int64_t> voltage;
    std::optional<std::int64_t> cycles;
    if (single != nullptr) {
        if (single->voltage_now)
            voltage = *single->voltage_now / 1000;
        cycles = single->cycle_count;
    }
    const std::optional<std::int64_t> amperage =
        one_family ? sum(readings,
                         [](const BatteryReading& r) {
                             return amperage_ma(r.current_now, r.power_now, r.voltage_now, direction_of(r.status.view()));
                         })
                   : std::nullopt;
    // In the kernel's own units, which the rates share.
    const std::optional<std::int64_t> now = sum(readings, [](const BatteryReading& r) { return std::optional(r.now); });
    const std::optional<std::int64_t> full = sum(readings, [](const BatteryReading& r) { return std::optional(r.full); });
    const std::int64_t minutes =
        one_family && now && full ? minutes_remaining(*now, *full, sum(readings, rate_of), direction) : NO_ESTIMATE;
    const std::int64_t to_empty = direction == Direction::discharging ? minutes : NO_ESTIMATE;
    const bool charging = std::any_of(readings.begin(), readings.end(),
                                      [](const BatteryReading& r) { return r.status.view() == "Charging"; });
    const std::optional<bool> external = external_connected(sources);
    const std::optional<bool> failed = permanent_failure(readings);

    PropertyList<6> legacy;
    legacy.add("Amperage", amperage);
    if (external)
        legacy.add("Flags", 4 + (*external ? 1 : 0) + (charging ? 2 : 0));
    legacy.add("Capacity", charge->full);
    legacy.add("Current", charge->now);
    legacy.add("Voltage", voltage);
    legacy.add("Cycle Count", cycles);

    PropertyList<26> p;
    if (external)
        p.add("ExternalConnected", make_boolean(*external));
    p.add("TimeRemaining", minutes);
    p.add("InstantTimeToEmpty", to_empty);
    p.add("Voltage", voltage);
    p.add("MaxCapacity", charge->full);
    if (failed)
        p.add("PermanentFailureStatus", *failed ? 1 : 0);
    if (single != nullptr)
        p.add("Manufacturer", single->manufacturer);
    p.add("CurrentCapacity", charge->now);
    p.add("LegacyBatteryInfo", builder.dictionary(legacy));
    p.add("BatteryInstalled", make_boolean(true));
    p.add("CycleCount", cycles);
    p.add("DesignCapacity", charge->design);
    p.add("AvgTimeToFull", direction == Direction::charging ? minutes : NO_ESTIMATE);
    if (single != nullptr) {
        p.add("BatterySerialNumber", single->serial_number);
        if (single->temperature)
            p.add("Temperature", *single->temperature * 10);
    }
    p.add("InstantAmperage", amperage);
    p.add("FullyCharged", make_boolean(std::all_of(readings.begin(), readings.end(), [](const BatteryReading& r) {
              return r.status.view() == "Full";
          })));
    if (single != nullptr)
        p.add("DeviceName", single->model_name);
    p.add("Amperage", amperage);
    p.add("IsCharging", make_boolean(charging));
    p.add("AvgTimeToEmpty", to_empty);
    if (charge->mah) {
        p.add("AppleRawCurrentCapacity", charge->now);
        p.add("AppleRawMaxCapacity", charge->full);
        p.add("NominalChargeCapacity", charge->full);
    }
    if (const PowerAdapter* const adapter = charger(sources)) {
        PropertyList<2> details;
        // Whole watts, rounded, from µW.
        details.add("Watts", (*adapter->power + 500'000) / 1'000'000);
        details.add("Name", adapter->model_name);
        p.add("AdapterDetails", builder.dictionary(details));
    }
    PropertyList<4> data;
    // The level exactly as powmeter rounds it from the two capacities listed above.
    if (charge->full > 0)
        data.add("StateOfCharge", (charge->now * 1000 / charge->full + 5) / 10);
    if (charge->mah)
        data.add("DesignCapacity", charge->design);
    data.add("CycleCount", cycles);
    data.add("Voltage", voltage);
    p.add("BatteryData", builder.dictionary(data));
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
