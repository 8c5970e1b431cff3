#include "profiler_report.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string_view>
#include <utility>

#include "battery_figures.h"
#include "listed_text.h"

namespace {

constexpr std::string_view DATA_TYPE = "SPPowerDataType";

// How a value is written: Yes or No in the text, "TRUE" or "FALSE" in JSON; a number, in
// JSON as a number or as a string; a whole percent, "91%" in both; a text.
enum class Kind : std::uint8_t { yes_no, number, quoted_number, percent, text };

// One `Key: Value` line of the text, and the same value under its JSON key.
struct Entry {
    std::string_view label;
    std::string_view key;
    Kind kind = Kind::number;
    std::int64_t number = 0;  // for yes_no, 1 is yes
    std::string_view text;
    std::string_view json_text;  // the JSON form's word for `text`, where it differs
};

// The entries under one heading, in the text's order; a key whose value is unknown is
// left out.
template <std::size_t Size>
struct Entries {
    std::array<Entry, Size> items;
    std::size_t count = 0;

    void add(std::string_view label, std::string_view key, Kind kind, std::optional<std::int64_t> number)
    {
        if (number)
            items[count++] = {label, key, kind, *number, {}, {}};
    }
    void add_yes_no(std::string_view label, std::string_view key, std::optional<bool> yes)
    {
        if (yes)
            add(label, key, Kind::yes_no, *yes ? 1 : 0);
    }
    void add_text(std::string_view label, std::string_view key, std::string_view text, std::string_view json_text = {})
    {
        if (!text.empty())
            items[count++] = {label, key, Kind::text, 0, text, json_text.empty() ? text : json_text};
    }

    const Entry* begin() const { return items.data(); }
    const Entry* end() const { return items.data() + count; }
};

// A group heading and its entries; in JSON, a dictionary.
struct Group {
    std::string_view label;
    std::string_view key;
    Entries<6> entries;
};

// A section: its groups, then the keys directly under it; in JSON, one item.
struct Section {
    std::string_view label;
    std::string_view name;
    std::array<Group, 3> groups;
    std::size_t group_count = 0;
    Entries<3> entries;

    Group& group(std::string_view heading, std::string_view key)
    {
        Group& g = groups[group_count++];
        g = Group{heading, key, {}};
        return g;
    }
    const Group* begin() const { return groups.data(); }
    const Group* end() const { return groups.data() + group_count; }
};

// The whole report, built once for both forms. The kernel's texts are kept here, made
// safe, so the entries that refer to them must stay where they are.
struct Report {
    std::array<Section, 4> sections;
    std::size_t count = 0;
    std::array<Text, 3> texts;

    Section& section(std::string_view heading, std::string_view item)
    {
        Section& s = sections[count++];
        s = Section{};
        s.label = heading;
        s.name = item;
        return s;
    }
};

Report report;

// `text` with each character made safe as every stand-in makes it, so that it can end
// neither its line nor a JSON string.
std::string_view safe(const Text& text, Text& into)
{
    into = text;
    std::transform(into.bytes.begin(), into.bytes.begin() + static_cast<std::ptrdiff_t>(into.size), into.bytes.begin(),
                   listed_char);
    return into.view();
}

// What the batteries' condition is: failed, as the kernel names it; worn, holding less than
// four fifths of their design; or sound, by a known wear or, failing that, a health it calls
// Good.
enum class Condition : std::uint8_t { sound, worn, failed };

// The batteries' condition; nothing when neither a failure nor the wear is known.
std::optional<Condition> condition_of(const BatteryFigures& f)
{
    constexpr std::int64_t WORN = 80;
    if (f.failed.value_or(false))
        return Condition::failed;
    if (f.maximum_capacity && *f.maximum_capacity < WORN)
        return Condition::worn;
    // Unreadable health may yet name a failure.
    if (!f.failed)
        return std::nullopt;
    if (f.maximum_capacity || f.healthy)
        return Condition::sound;
    return std::nullopt;
}

// The word for a condition as a generation says it, in text and in JSON: the 2012 generation
// told a failed pack from a worn one; its successors say one word for both.
std::pair<std::string_view, std::string_view> condition_words(Condition condition, Era era)
{
    if (condition == Condition::sound)
        return {"Normal", "Good"};
    if (era != Era::year2012)
        return {"Service Recommended", "Service Recommended"};
    if (condition == Condition::failed)
        return {"Service Battery", "Service Battery"};
    return {"Replace Soon", "Replace Soon"};
}

void battery_section(const BatteryFigures& f, Era era, Section& s)
{
    const bool old_keys = era != Era::year2021;
    const bool later_keys = era != Era::year2012;
    Group& model = s.group("Model Information", "sppower_battery_model_info");
    if (const BatteryReading* const single = f.single) {
        model.entries.add_text("Serial Number", "sppower_battery_serial_number", safe(single->serial_number, report.texts[0]));
        if (old_keys)
            model.entries.add_text("Manufacturer", "sppower_battery_manufacturer", safe(single->manufacturer, report.texts[1]));
        model.entries.add_text("Device Name", "sppower_battery_device_name", safe(single->model_name, report.texts[2]));
    }
    if (model.entries.count == 0)
        --s.group_count;

    Group& charge = s.group("Charge Information", "sppower_battery_charge_info");
    if (later_keys)
        charge.entries.add_yes_no("The battery\u2019s charge is below the warning level", "sppower_battery_at_warn_level",
                           f.below_warning);
    // The mAh keys only where the capacities are mAh: a widget reads them as such.
    const bool mah = old_keys && f.capacities.units == Units::mah;
    if (mah)
        charge.entries.add("Charge Remaining (mAh)", "sppower_battery_current_capacity", Kind::number, f.capacities.now);
    charge.entries.add_yes_no("Fully Charged", "sppower_battery_fully_charged", f.full);
    charge.entries.add_yes_no("Charging", "sppower_battery_is_charging", f.charging);
    if (mah)
        charge.entries.add("Full Charge Capacity (mAh)", "sppower_battery_max_capacity", Kind::number, f.capacities.full);
    if (later_keys)
        charge.entries.add("State of Charge (%)", "sppower_battery_state_of_charge", Kind::number, f.level);

    Group& health = s.group("Health Information", "sppower_battery_health_info");
    health.entries.add("Cycle Count", "sppower_battery_cycle_count", Kind::number, f.cycles);
    if (const std::optional<Condition> condition = condition_of(f)) {
        const auto [text, json] = condition_words(*condition, era);
        health.entries.add_text("Condition", "sppower_battery_health", text, json);
    }
    if (later_keys)
        health.entries.add("Maximum Capacity", "sppower_battery_health_maximum_capacity", Kind::percent,
                           f.maximum_capacity);
    if (health.entries.count == 0)
        --s.group_count;

    if (old_keys) {
        s.entries.add_yes_no("Battery Installed", "sppower_battery_installed", true);
        s.entries.add("Amperage (mA)", "sppower_current_amperage", Kind::number, f.amperage);
        s.entries.add("Voltage (mV)", "sppower_current_voltage", Kind::number, f.voltage);
    }
}

void build_report(const PowerSources& sources, Era era)
{
    report.count = 0;
    const std::optional<BatteryFigures> figures = battery_figures(sources);
    if (figures)
        battery_section(*figures, era, report.section("Battery Information", "spbattery_information"));

    Section& settings = report.section("System Power Settings", "sppower_information");
    const PowerSource in_use = drawing_from(sources);
    const auto source_group = [&](std::string_view label, PowerSource source) {
        Group& g = settings.group(label, label);
        if (source == in_use)
            g.entries.add_yes_no("Current Power Source", "Current Power Source", true);
    };
    source_group("AC Power", PowerSource::ac);
    if (sources.battery_count > 0)
        source_group("Battery Power", PowerSource::battery);
    if (sources.ups_count > 0)
        source_group("UPS Power", PowerSource::ups);

    report.section("Hardware Configuration", "sppower_hwconfig_information")
        .entries.add_yes_no("UPS Installed", "sppower_ups_installed", sources.ups_count > 0);

    // As on the platform's desktops, a device without a battery has no charger to show.
    if (!figures)
        return;
    Section& charger_section = report.section("AC Charger Information", "sppower_ac_charger_information");
    const std::optional<bool> connected = external_connected(sources);
    charger_section.entries.add_yes_no("Connected", "sppower_battery_charger_connected", connected);
    const PowerAdapter* const adapter = connected.value_or(false) ? charger(sources) : nullptr;
    if (adapter != nullptr)
        charger_section.entries.add("Wattage (W)", "sppower_ac_charger_watts", Kind::quoted_number, adapter_watts(*adapter));
    charger_section.entries.add_yes_no("Charging", "sppower_battery_is_charging", figures->charging);
}

// The output gathers here and goes out in few writes: a library call for each of the
// report's hundred or more pieces would cost more than all the rest of its own work.
std::array<char, 4096> pending;
std::size_t pending_size = 0;

void flush(std::FILE* out)
{
    std::fwrite(pending.data(), 1, pending_size, out);
    pending_size = 0;
}

void put(std::FILE* out, std::string_view text)
{
    if (text.size() > pending.size() - pending_size)
        flush(out);
    if (text.size() > pending.size()) {
        std::fwrite(text.data(), 1, text.size(), out);
        return;
    }
    std::memcpy(pending.data() + pending_size, text.data(), text.size());
    pending_size += text.size();
}

void put(std::FILE* out, std::int64_t value)
{
    std::array<char, 24> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    put(out, std::string_view(digits.data(), static_cast<std::size_t>(result.ptr - digits.data())));
}

void put_value(std::FILE* out, const Entry& e, bool json)
{
    const std::string_view quote = json ? "\"" : "";
    switch (e.kind) {
    case Kind::yes_no:
        if (json)
            put(out, e.number != 0 ? "\"TRUE\"" : "\"FALSE\"");
        else
            put(out, e.number != 0 ? "Yes" : "No");
        return;
    case Kind::number: put(out, e.number); return;
    case Kind::quoted_number:
    case Kind::percent:
        put(out, quote);
        put(out, e.number);
        put(out, e.kind == Kind::percent ? "%" : "");
        put(out, quote);
        return;
    case Kind::text:
        put(out, quote);
        put(out, json ? e.json_text : e.text);
        put(out, quote);
        return;
    }
}

// Indents 4 for a section, 6 for a group or a key under a section, 10 for a key in a group;
// a blank line after every heading above a group, and at the end of every section.
void print_text(std::FILE* out)
{
    const auto line = [&](std::string_view indent, const Entry& e) {
        put(out, indent);
        put(out, e.label);
        put(out, ": ");
        put_value(out, e, false);
        put(out, "\n");
    };
    put(out, "Power:\n\n");
    for (std::size_t i = 0; i < report.count; ++i) {
        const Section& s = report.sections[i];
        put(out, "    ");
        put(out, s.label);
        put(out, ":\n\n");
        for (const Group& g : s) {
            put(out, "      ");
            put(out, g.label);
            put(out, ":\n");
            for (const Entry& e : g.entries)
                line("          ", e);
        }
        for (const Entry& e : s.entries)
            line("      ", e);
        put(out, "\n");
    }
}

// One key of a JSON dictionary: an entry, a group's dictionary, or an item's name.
struct Member {
    std::string_view key;
    const Entry* entry = nullptr;
    const Group* group = nullptr;
    std::string_view name;
};

// Puts `items` in byte order of `key`: by insertion, all that a handful of keys needs, and
// no std::sort whose unrolled passes GCC takes for reads past so short an array.
template <typename Item, typename Key>
void sort_by_key(Item* first, const Item* last, Key key)
{
    for (Item* i = first; i != last; ++i)
        for (Item* j = i; j != first && key(*j) < key(*(j - 1)); --j)
            std::swap(*j, *(j - 1));
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the indent, then the key, as printed.
void put_key(std::FILE* out, std::string_view indent, std::string_view key)
{
    put(out, indent);
    put(out, "\"");
    put(out, key);
    put(out, "\" : ");
}

void put_entries(std::FILE* out, std::string_view indent, const Entries<6>& entries)
{
    std::array<const Entry*, 6> sorted{};
    std::transform(entries.begin(), entries.end(), sorted.begin(), [](const Entry& e) { return &e; });
    const Entry** const end = sorted.data() + entries.count;
    sort_by_key(sorted.data(), end, [](const Entry* e) { return e->key; });
    for (const Entry** at = sorted.data(); at != end; ++at) {
        put_key(out, indent, (*at)->key);
        put_value(out, **at, true);
        put(out, at + 1 != end ? ",\n" : "\n");
    }
}

// Pretty, with two spaces a level and " : " after each key, every dictionary's keys in
// byte order.
void print_json(std::FILE* out)
{
    put(out, "{\n  \"");
    put(out, DATA_TYPE);
    put(out, "\" : [\n");
    for (std::size_t i = 0; i < report.count; ++i) {
        const Section& s = report.sections[i];
        std::array<Member, 1 + 3 + 3> members{};
        std::size_t count = 0;
        members[count++] = {"_name", nullptr, nullptr, s.name};
        for (const Group& g : s)
            members[count++] = {g.key, nullptr, &g, {}};
        for (const Entry& e : s.entries)
            members[count++] = {e.key, &e, nullptr, {}};
        sort_by_key(members.data(), members.data() + count, [](const Member& m) { return m.key; });
        const Member* const end = members.data() + count;
        put(out, "    {\n");
        for (const Member* m = members.data(); m != end; ++m) {
            put_key(out, "      ", m->key);
            if (m->entry != nullptr) {
                put_value(out, *m->entry, true);
            } else if (m->group == nullptr) {
                put(out, "\"");
                put(out, m->name);
                put(out, "\"");
            } else if (m->group->entries.count == 0) {
                put(out, "{}");
            } else {
                put(out, "{\n");
                put_entries(out, "        ", m->group->entries);
                put(out, "      }");
            }
            put(out, m + 1 != end ? ",\n" : "\n");
        }
        put(out, i + 1 != report.count ? "    },\n" : "    }\n");
    }
    put(out, "  ]\n}\n");
}

}  // namespace

std::optional<ProfilerForm> parse_profiler_form(int argc, char* argv[])
{
    if (argc == 2 && std::string_view(argv[1]) == "-listDataTypes")
        return ProfilerForm::data_types;
    bool data_type = false;
    ProfilerForm form = ProfilerForm::text;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == DATA_TYPE && !data_type) {
            data_type = true;
        } else if (word == "-json") {
            form = ProfilerForm::json;
        } else if (word == "-detailLevel" && i + 1 < argc) {
            // Every level shows the same: the kernel has nothing that only a fuller one adds.
            const std::string_view level = argv[++i];
            if (level != "mini" && level != "basic" && level != "full")
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    return data_type ? std::optional(form) : std::nullopt;
}

ReadPlan profiler_plan()
{
    ReadPlan plan;
    plan.registry_only = false;
    plan.upses = true;
    plan.online_decides = true;
    plan.warning_level = true;
    return plan;
}

void print_data_types(std::FILE* out)
{
    put(out, "Available Datatypes:\n");
    put(out, DATA_TYPE);
    put(out, "\n");
    flush(out);
}

void print_profiler(std::FILE* out, ProfilerForm form, const PowerSources& sources, Era era)
{
    build_report(sources, era);
    if (form == ProfilerForm::json)
        print_json(out);
    else
        print_text(out);
    flush(out);
}
