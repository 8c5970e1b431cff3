#include "power_supply.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// sysfs attributes fit in one page, and pages are at most 64 KiB.
constexpr std::size_t LARGEST_ATTRIBUTE = std::size_t{64} * 1024;

// Readings above this, in µWh or µAh (a gigawatt-hour), are not a battery's. Keeping below
// it leaves every sum and percentage far from overflowing 64 bits.
constexpr std::int64_t LARGEST_READING = 1'000'000'000'000'000;

enum class Family { energy, charge, capacity };

// One battery's reading, all from one family.
struct Reading {
    Family family = Family::capacity;
    std::int64_t now = 0;
    std::int64_t full = 0;
    std::optional<std::int64_t> full_design;
    std::optional<std::int64_t> voltage_now;  // µV
    std::optional<std::int64_t> cycle_count;
    std::string status;
};

bool equals_ignoring_case(std::string_view a, std::string_view b)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// One power-supply entry's folder, read attribute by attribute.
class Entry {
public:
    explicit Entry(std::string folder) : folder_(std::move(folder)) {}

    // The attribute's text, trimmed; nothing when it is absent or empty.
    std::optional<std::string> text(const char* attribute) const
    {
        const std::optional<std::string> content = read(attribute);
        if (!content)
            return std::nullopt;
        const std::string_view trimmed = trim_attribute(*content);
        if (trimmed.empty())
            return std::nullopt;
        return std::string(trimmed);
    }

    std::optional<std::int64_t> integer(const char* attribute) const
    {
        const std::optional<std::string> content = read(attribute);
        return content ? parse_attribute_integer(*content) : std::nullopt;
    }

private:
    std::optional<std::string> read(const char* attribute) const
    {
        return read_attribute(folder_ + "/" + attribute);
    }

    std::string folder_;
};

bool is_system_supply(const Entry& entry)
{
    // A Device scope is a peripheral's own supply: a mouse, a keyboard, a controller.
    const std::optional<std::string> scope = entry.text("scope");
    return !scope || equals_ignoring_case(*scope, "System") || equals_ignoring_case(*scope, "Unknown");
}

bool is_present(const Entry& entry)
{
    const std::optional<std::int64_t> present = entry.integer("present");
    return !present || *present != 0;
}

bool is_plausible(std::int64_t now, std::int64_t full)
{
    // A now far above full is a known bad reading; half again as much is still believable.
    return full > 0 && full <= LARGEST_READING && now >= 0 && now - full <= full / 2;
}

std::optional<Reading> read_family(const Entry& entry, Family family, const char* now_name,
                                   const char* full_name, const char* design_name)
{
    const std::optional<std::int64_t> now = entry.integer(now_name);
    const std::optional<std::int64_t> full = entry.integer(full_name);
    if (!now || !full || !is_plausible(*now, *full))
        return std::nullopt;
    Reading reading;
    reading.family = family;
    reading.now = *now;
    reading.full = *full;
    reading.full_design = entry.integer(design_name);
    if (reading.full_design && (*reading.full_design <= 0 || *reading.full_design > LARGEST_READING))
        reading.full_design.reset();
    return reading;
}

// The first family that gives a believable reading: the energy or charge ratio before the
// kernel's `capacity`, which truncates and on some machines holds health rather than charge.
std::optional<Reading> read_battery(const Entry& entry)
{
    std::optional<Reading> reading =
        read_family(entry, Family::energy, "energy_now", "energy_full", "energy_full_design");
    if (!reading)
        reading = read_family(entry, Family::charge, "charge_now", "charge_full", "charge_full_design");
    if (!reading) {
        const std::optional<std::int64_t> capacity = entry.integer("capacity");
        if (!capacity || *capacity < 0 || *capacity > 150)
            return std::nullopt;
        reading = Reading{};
        reading->now = *capacity;
        reading->full = 100;
    }
    reading->voltage_now = entry.integer("voltage_now");
    reading->cycle_count = entry.integer("cycle_count");
    reading->status = entry.text("status").value_or("");
    return reading;
}

// Energy and charge are listed in thousandths of what the kernel counts: mWh and mAh.
std::int64_t listed(Family family, std::int64_t value)
{
    return family == Family::capacity ? value : value / 1000;
}

std::int64_t percent_rounded(const Reading& r)
{
    return (r.now * 200 + r.full) / (r.full * 2);
}

// Sums `part` of every reading; nothing when a sum would not fit, or when one is missing.
template <typename Part>
std::optional<std::int64_t> sum(const std::vector<Reading>& readings, Part part)
{
    std::int64_t total = 0;
    for (const Reading& r : readings) {
        const std::optional<std::int64_t> value = part(r);
        if (!value || __builtin_add_overflow(total, *value, &total))
            return std::nullopt;
    }
    return total;
}

std::optional<DeviceBattery> combine(const std::vector<Reading>& readings)
{
    if (readings.empty())
        return std::nullopt;
    const Family family = readings.front().family;
    const bool one_family = std::all_of(readings.begin(), readings.end(),
                                        [&](const Reading& r) { return r.family == family; });
    std::optional<std::int64_t> now;
    std::optional<std::int64_t> full;
    DeviceBattery battery;
    if (one_family) {
        now = sum(readings, [](const Reading& r) { return std::optional(r.now); });
        full = sum(readings, [](const Reading& r) { return std::optional(r.full); });
        if (const auto design = sum(readings, [](const Reading& r) { return r.full_design; }))
            battery.design_capacity = listed(family, *design);
    } else {
        // Units differ, so the device's charge is the mean of each battery's percentage.
        now = sum(readings, [](const Reading& r) { return std::optional(percent_rounded(r)); });
        full = sum(readings, [](const Reading&) { return std::optional<std::int64_t>(100); });
    }
    if (!now || !full)
        return std::nullopt;
    const Family unit = one_family ? family : Family::capacity;
    battery.current_capacity = listed(unit, *now);
    battery.max_capacity = listed(unit, *full);

    battery.is_charging = std::any_of(readings.begin(), readings.end(),
                                      [](const Reading& r) { return r.status == "Charging"; });
    battery.fully_charged = std::all_of(readings.begin(), readings.end(),
                                        [](const Reading& r) { return r.status == "Full"; });
    // Voltage and cycles belong to one battery; for several there is no one value to list.
    if (readings.size() == 1) {
        const Reading& r = readings.front();
        if (r.voltage_now && *r.voltage_now >= 0)
            battery.voltage = *r.voltage_now / 1000;
        if (r.cycle_count && *r.cycle_count >= 0)
            battery.cycle_count = r.cycle_count;
    }
    return battery;
}

std::vector<std::string> entry_names(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    closedir(dir);
    // std::string compares its characters as unsigned bytes: byte order, whatever the locale.
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::string_view trim_attribute(std::string_view text)
{
    constexpr std::string_view white_space = " \t\n\v\f\r";
    const std::size_t first = text.find_first_not_of(white_space);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(white_space) - first + 1);
}

std::optional<std::int64_t> parse_attribute_integer(std::string_view text)
{
    text = trim_attribute(text);
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

std::optional<std::string> read_attribute(const std::string& path)
{
    // O_NONBLOCK, so that a FIFO planted where an attribute should be cannot hang us.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> content;
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        std::string text;
        char chunk[4096];
        for (;;) {
            const ssize_t got = read(fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0 || text.size() + static_cast<std::size_t>(got) > LARGEST_ATTRIBUTE) {
                // A failed read (ENODEV, EIO, ...) or an oversized file is no attribute at all.
                if (got == 0)
                    content = std::move(text);
                break;
            }
            text.append(chunk, static_cast<std::size_t>(got));
        }
    }
    close(fd);
    return content;
}

PowerSources read_power_sources(const std::string& sysfs_root)
{
    const std::string class_folder = sysfs_root + "/class/power_supply/";
    PowerSources sources;
    std::vector<Reading> readings;
    for (const std::string& name : entry_names(class_folder)) {
        const Entry entry(class_folder + name);
        const std::optional<std::string> type = entry.text("type");
        if (!type || !is_system_supply(entry))
            continue;
        if (equals_ignoring_case(*type, "Battery")) {
            std::optional<Reading> reading = is_present(entry) ? read_battery(entry) : std::nullopt;
            if (reading)
                readings.push_back(std::move(*reading));
            continue;
        }
        const bool usb = equals_ignoring_case(type->substr(0, 3), "USB");
        if (usb || equals_ignoring_case(*type, "Mains")) {
            // 1 is online; 2, online with a programmable voltage (USB PD), is online too.
            const std::optional<std::int64_t> online = entry.integer("online");
            sources.adapters.push_back({usb, online && *online > 0});
        }
    }
    sources.battery = combine(readings);
    return sources;
}
