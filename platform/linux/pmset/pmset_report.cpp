#include "pmset_report.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

#include "battery_figures.h"

namespace {

// The ids are made up, but the same on every run, as scripts that keep them expect.
constexpr std::int64_t BATTERY_ID = 4128867;

void put(std::FILE* out, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), out);
}

void put(std::FILE* out, std::int64_t value)
{
    std::array<char, 24> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    put(out, std::string_view(digits.data(), static_cast<std::size_t>(result.ptr - digits.data())));
}

// A UPS's model, safe in a line that scripts split at ( ) % and ;.
void put_name(std::FILE* out, const Text& name)
{
    if (name.size == 0) {
        put(out, "UPS");
        return;
    }
    for (const char c : name.view()) {
        const bool plain = c > ' ' - 1 && c < '~' + 1 && std::string_view("()%;").find(c) == std::string_view::npos;
        std::fputc(plain ? c : '?', out);
    }
}

// The state as the platform words it, and whether a time follows: what the readings say,
// and never a direction or a time that they do not give.
struct State {
    std::string_view words;
    bool timed;
};

State state_of(Direction direction, bool full, bool trickle, bool external)
{
    switch (direction) {
    case Direction::charging: return {trickle ? "finishing charge" : "charging", true};
    case Direction::discharging: return {"discharging", true};
    case Direction::neither:
        if (full)
            return {"charged", true};
        return {external ? "AC attached; not charging" : "not charging", !external};
    case Direction::unknown: break;
    }
    return {"unknown", true};
}

// ` -NAME (id=N)<TAB>NN%; STATE`, as every battery line begins; releases of 2012 printed
// no id, and scripts of their time count fields without it.
void put_battery_start(std::FILE* out, std::int64_t id, Era era, std::int64_t level, std::string_view state)
{
    if (era != Era::year2012) {
        put(out, " (id=");
        put(out, id);
        put(out, ")");
    }
    put(out, "\t");
    put(out, level);
    put(out, "%; ");
    put(out, state);
}

void print_batteries(std::FILE* out, const PowerSources& sources, bool upses, Era era)
{
    const bool external = external_connected(sources).value_or(false);
    put(out, "Now drawing from '");
    switch (drawing_from(sources)) {
    case PowerSource::ac: put(out, "AC Power"); break;
    case PowerSource::battery: put(out, "Battery Power"); break;
    case PowerSource::ups: put(out, "UPS Power"); break;
    }
    put(out, "'\n");
    if (const std::optional<BatteryFigures> f = battery_figures(sources)) {
        const State state = state_of(f->direction, f->full, f->trickle, external);
        put(out, " -InternalBattery-0");
        put_battery_start(out, BATTERY_ID, era, f->level, state.words);
        // The minutes are an estimate only while charging or discharging; a full battery
        // has none left to go.
        const std::int64_t minutes = f->full ? 0 : f->minutes;
        if (state.timed && minutes == NO_ESTIMATE) {
            put(out, "; (no estimate)");
        } else if (state.timed) {
            put(out, "; ");
            put(out, minutes / 60);
            put(out, minutes % 60 < 10 ? ":0" : ":");
            put(out, minutes % 60);
            put(out, " remaining");
        }
        put(out, " present: true\n");
    }
    if (!upses)
        return;
    for (std::size_t i = 0; i < sources.ups_count; ++i) {
        const BatteryReading& ups = sources.upses[i];
        const Direction direction = direction_of(ups.status.view());
        put(out, " -");
        put_name(out, ups.model_name);
        put_battery_start(out, BATTERY_ID + 1 + static_cast<std::int64_t>(i), era, level_percent(ups.now, ups.full).value_or(0),
                          state_of(direction, ups.status.view() == "Full", ups.trickle, false).words);
        put(out, " present: true\n");
    }
}

void print_adapter(std::FILE* out, const PowerSources& sources)
{
    const PowerAdapter* adapter = charger(sources);
    const PowerAdapter* const end = sources.adapters.data() + sources.adapter_count;
    if (adapter == nullptr)
        adapter = std::find_if(sources.adapters.data(), end, [](const PowerAdapter& a) { return a.online.value_or(false); });
    if (adapter == end) {
        put(out, "No adapter attached.\n");
        return;
    }
    const auto line = [&](std::string_view key, std::optional<std::int64_t> value, std::string_view unit) {
        if (!value)
            return;
        put(out, key);
        put(out, *value);
        put(out, unit);
    };
    line(" Wattage = ", adapter_watts(*adapter), "W\n");
    line(" Current = ", adapter->current_max ? std::optional(*adapter->current_max / 1000) : std::nullopt, "mA\n");
    line(" Voltage = ", adapter->voltage_max ? std::optional(*adapter->voltage_max / 1000) : std::nullopt, "mV\n");
}

}  // namespace

std::optional<PmsetForm> parse_pmset_form(int argc, char* argv[])
{
    if (argc != 3 || std::string_view(argv[1]) != "-g")
        return std::nullopt;
    const std::string_view form = argv[2];
    if (form == "batt" || form == "ps")
        return PmsetForm::batteries;
    if (form == "ac" || form == "adapter")
        return PmsetForm::adapter;
    if (form == "accps")
        return PmsetForm::with_upses;
    return std::nullopt;
}

ReadPlan pmset_plan(PmsetForm form)
{
    ReadPlan plan;
    plan.details = false;
    plan.online_decides = true;
    plan.adapter_limits = form == PmsetForm::adapter;
    plan.charge_type = form != PmsetForm::adapter;
    plan.upses = form != PmsetForm::adapter;
    return plan;
}

void print_pmset(std::FILE* out, PmsetForm form, const PowerSources& sources, Era era)
{
    if (form == PmsetForm::adapter)
        print_adapter(out, sources);
    else
        print_batteries(out, sources, form == PmsetForm::with_upses, era);
}
