#include "registry_tree.h"

#include <algorithm>

namespace {

// The properties of one object or dictionary while they are gathered: up to `Size`.
template <std::size_t Size>
struct PropertyList {
    static_assert(Size <= MOST_KEYS, "the archive form sorts at most MOST_KEYS keys of one object");
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

// {"Watts"=...,"Name"=...}: what the charger can deliver, in whole watts, and its name.
PropertyValue adapter_details(const PowerAdapter& adapter, TreeBuilder& builder)
{
    PropertyList<2> details;
    details.add("Watts", adapter_watts(adapter));
    details.add("Name", adapter.model_name);
    return builder.dictionary(details);
}

// {"Amperage"=...,"Flags"=...,"Capacity"=...,"Current"=...,"Voltage"=...,"Cycle Count"=...}
PropertyValue legacy_info(const BatteryFigures& f, const Capacities& charge, TreeBuilder& builder)
{
    PropertyList<6> legacy;
    legacy.add("Amperage", f.amperage);
    // 1 on external power, 2 charging, 4 installed.
    if (f.external)
        legacy.add("Flags", 4 + (*f.external ? 1 : 0) + (f.charging ? 2 : 0));
    legacy.add("Capacity", charge.full);
    legacy.add("Current", charge.now);
    legacy.add("Voltage", f.voltage);
    legacy.add("Cycle Count", f.cycles);
    return builder.dictionary(legacy);
}

// {"StateOfCharge"=...,"DesignCapacity"=...,"CycleCount"=...,"Voltage"=...}, the design
// only in mAh.
PropertyValue battery_data(const BatteryFigures& f, TreeBuilder& builder)
{
    PropertyList<4> data;
    data.add("StateOfCharge", f.level);
    if (f.capacities.units == Units::mah)
        data.add("DesignCapacity", f.capacities.design);
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
// up by their exact names, so this order serves both. The newest laptops dropped some of
// the older keys, and scripts that tell them apart by those keys must find them gone.
bool device_battery(const PowerSources& sources, std::optional<Era> era, TreeBuilder& builder, RegistryObject& battery)
{
    const std::optional<BatteryFigures> figures = battery_figures(sources);
    if (!figures)
        return false;
    const BatteryFigures& f = *figures;
    // The newest laptops give the level in percent, the mAh in the raw keys.
    const Capacities charge = era == Era::year2021 ? Capacities{Units::percent, f.level, 100, {}} : f.capacities;
    const bool later_keys = era != Era::year2012;
    const bool older_keys = era != Era::year2021;
    const BatteryReading* const single = f.single;
    const std::int64_t to_empty = f.direction == Direction::discharging ? f.minutes : NO_ESTIMATE;

    PropertyList<27> p;
    if (f.external)
        p.add("ExternalConnected", make_boolean(*f.external));
    p.add("TimeRemaining", f.minutes);
    if (older_keys)
        p.add("InstantTimeToEmpty", to_empty);
    p.add("Voltage", f.voltage);
    p.add("MaxCapacity", charge.full);
    if (f.failed)
        p.add("PermanentFailureStatus", *f.failed ? 1 : 0);
    if (single != nullptr && older_keys)
        p.add("Manufacturer", single->manufacturer);
    p.add("CurrentCapacity", charge.now);
    if (older_keys)
        p.add("LegacyBatteryInfo", legacy_info(f, charge, builder));
    p.add("BatteryInstalled", make_boolean(true));
    p.add("CycleCount", f.cycles);
    p.add("DesignCapacity", f.capacities.design);
    p.add("AvgTimeToFull", f.direction == Direction::charging ? f.minutes : NO_ESTIMATE);
    if (single != nullptr) {
        if (older_keys)
            p.add("BatterySerialNumber", single->serial_number);
        if (later_keys)
            p.add("Serial", single->serial_number);
        if (single->temperature)
            p.add("Temperature", *single->temperature * 10);
    }
    p.add("InstantAmperage", f.amperage);
    p.add("FullyCharged", make_boolean(f.full));
    if (single != nullptr)
        p.add("DeviceName", single->model_name);
    p.add("Amperage", f.amperage);
    p.add("IsCharging", make_boolean(f.charging));
    p.add("AvgTimeToEmpty", to_empty);
    if (later_keys && f.capacities.units == Units::mah) {
        p.add("AppleRawCurrentCapacity", f.capacities.now);
        p.add("AppleRawMaxCapacity", f.capacities.full);
        p.add("NominalChargeCapacity", f.capacities.full);
    }
    if (const PowerAdapter* const adapter = later_keys ? charger(sources) : nullptr)
        p.add("AdapterDetails", adapter_details(*adapter, builder));
    if (later_keys)
        p.add("BatteryData", battery_data(f, builder));
    builder.set_properties(battery, p);
    return true;
}

void make_service(RegistryObject& object, std::string_view name, const std::array<std::string_view, 4>& lineage)
{
    object.name = name;
    object.lineage = lineage;
}

// A peripheral's battery under the name and class that `era`'s scripts ask for. Later
// systems name and class every one AppleDeviceManagementHIDEventService; older ones name a
// mouse, trackpad or keyboard by its kind, here derived from that class. With no generation
// named, it is named by its kind and answers to the later name too, so that a script of
// either time finds it by name, by class or by its BatteryPercent, and finds it once.
void peripheral_object(const PeripheralBattery& peripheral, std::optional<Era> era, TreeBuilder& builder,
                       RegistryObject& object)
{
    constexpr std::string_view HID_SERVICE = "AppleDeviceManagementHIDEventService";
    const bool later_names = era == Era::year2016 || era == Era::year2021;
    std::string_view name = HID_SERVICE;
    switch (later_names ? PeripheralKind::unknown : peripheral.kind) {
    case PeripheralKind::mouse: name = "BNBMouseDevice"; break;
    case PeripheralKind::trackpad: name = "BNBTrackpadDevice"; break;
    case PeripheralKind::keyboard: name = "AppleBluetoothHIDKeyboard"; break;
    case PeripheralKind::unknown: break;
    }
    if (name == HID_SERVICE) {
        make_service(object, name, {HID_SERVICE, "IOService", "IORegistryEntry", {}});
    } else {
        make_service(object, name, {name, HID_SERVICE, "IOService", "IORegistryEntry"});
        if (!era)
            object.also_named = HID_SERVICE;
    }
    // The product first, its battery a line after, as scripts that grep -A for it expect.
    PropertyList<3> properties;
    properties.add("Product", peripheral.model_name);
    properties.add("BatteryPercent", peripheral.percent);
    properties.add("DeviceAddress", peripheral.address);
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

void build_registry_tree(const PowerSources& sources, RegistryTree& tree, std::optional<Era> era)
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
        if (!device_battery(sources, era, builder, battery))
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
        peripheral_object(sources.peripherals[i], era, builder, peripherals[i]);

    std::uint64_t next = 0x100000100;
    number_objects(root, next);
}
