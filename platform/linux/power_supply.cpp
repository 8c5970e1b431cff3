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

bool equals_ignoring_case(std::string_view a, std::string_view b)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// The whole content of the regular file `name` in `folder`, or nothing when it is missing,
// unreadable, not a regular file or larger than any sysfs attribute.
std::optional<std::string> read_attribute_at(int folder, const char* name)
{
    // O_NONBLOCK, so that a FIFO planted where an attribute should be cannot hang us.
    const int fd = openat(folder, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
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

// One power-supply entry's folder, read attribute by attribute.
class Entry {
public:
    Entry(int class_folder, const char* name)
        : folder_(openat(class_folder, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~Entry()
    {
        if (folder_ >= 0)
            close(folder_);
    }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

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

    // The attribute's integer when it lies from `lowest` to `highest`; nothing otherwise.
    std::optional<std::int64_t> integer(const char* attribute, std::int64_t lowest,
                                        std::int64_t highest) const
    {
        const std::optional<std::int64_t> value = integer(attribute);
        if (value && (*value < lowest || *value > highest))
            return std::nullopt;
        return value;
    }

    // Some drivers sign currents and powers by direction, others never do.
    std::optional<std::int64_t> magnitude(const char* attribute) const
    {
        const std::optional<std::int64_t> value = integer(attribute, -LARGEST_READING, LARGEST_READING);
        if (value && *value < 0)
            return -*value;
        return value;
    }

private:
    std::optional<std::string> read(const char* attribute) const
    {
        return folder_ < 0 ? std::nullopt : read_attribute_at(folder_, attribute);
    }

    int folder_;
};

bool is_system_supply(const Entry& entry)
{
    // A Device scope is a peripheral's own supply: a mouse, a keyboard, a controller.
    const std::optional<std::string> scope = entry.text("scope");
    return !scope || equals_ignoring_case(*scope, "System") || equals_ignoring_case(*scope, "Unknown");
}

std::optional<std::int64_t> read_percent(const Entry& entry)
{
    return entry.integer("capacity", 0, 150);
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

// The attributes of one family: the charge now, when full, and when new.
struct FamilyAttributes {
    Family family;
    const char* now;
    const char* full;
    const char* design;
};

constexpr FamilyAttributes ENERGY{Family::energy, "energy_now", "energy_full", "energy_full_design"};
constexpr FamilyAttributes CHARGE{Family::charge, "charge_now", "charge_full", "charge_full_design"};

std::optional<BatteryReading> read_family(const Entry& entry, const FamilyAttributes& names)
{
    const std::optional<std::int64_t> now = entry.integer(names.now);
    const std::optional<std::int64_t> full = entry.integer(names.full);
    if (!now || !full || !is_plausible(*now, *full))
        return std::nullopt;
    BatteryReading reading;
    reading.family = names.family;
    reading.now = *now;
    reading.full = *full;
    reading.full_design = entry.integer(names.design, 1, LARGEST_READING);
    return reading;
}

// The first family that gives a believable reading: the energy or charge ratio before the
// kernel's `capacity`, which truncates and on some machines holds health rather than charge.
std::optional<BatteryReading> read_battery(const Entry& entry)
{
    std::optional<BatteryReading> reading = read_family(entry, ENERGY);
    if (!reading)
        reading = read_family(entry, CHARGE);
    if (!reading) {
        const std::optional<std::int64_t> capacity = read_percent(entry);
        if (!capacity)
            return std::nullopt;
        reading = BatteryReading{};
        reading->now = *capacity;
        reading->full = 100;
    }
    reading->voltage_now = entry.integer("voltage_now", 0, LARGEST_READING);
    reading->voltage_min_design = entry.integer("voltage_min_design", 1, LARGEST_READING);
    reading->current_now = entry.magnitude("current_now");
    reading->power_now = entry.magnitude("power_now");
    // Tenths of a degree; a thousand degrees either way is no battery's.
    reading->temperature = entry.integer("temp", -10'000, 10'000);
    reading->cycle_count = entry.integer("cycle_count", 0, LARGEST_READING);
    reading->status = entry.text("status").value_or("");
    reading->model_name = entry.text("model_name").value_or("");
    reading->manufacturer = entry.text("manufacturer").value_or("");
    reading->serial_number = entry.text("serial_number").value_or("");
    return reading;
}

std::vector<std::string> entry_names(DIR* dir)
{
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
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

PowerSources read_power_sources(const std::string& sysfs_root)
{
    PowerSources sources;
    DIR* const class_folder = opendir((sysfs_root + "/class/power_supply").c_str());
    if (class_folder == nullptr)
        return sources;
    sources.class_found = true;
    for (const std::string& name : entry_names(class_folder)) {
        const Entry entry(dirfd(class_folder), name.c_str());
        const std::optional<std::string> type = entry.text("type");
        if (!type)
            continue;
        const bool battery = equals_ignoring_case(*type, "Battery");
        const bool present = battery && is_present(entry);
        if (!is_system_supply(entry)) {
            if (present)
                sources.peripherals.push_back({read_percent(entry), entry.text("model_name").value_or("")});
            continue;
        }
        if (battery) {
            std::optional<BatteryReading> reading = present ? read_battery(entry) : std::nullopt;
            if (reading)
                sources.batteries.push_back(std::move(*reading));
            continue;
        }
        const bool usb = equals_ignoring_case(type->substr(0, 3), "USB");
        if (usb || equals_ignoring_case(*type, "Mains")) {
            // 1 is online; 2, online with a programmable voltage (USB PD), is online too.
            const std::optional<std::int64_t> online = entry.integer("online");
            sources.adapters.push_back({usb, online && *online > 0});
        }
    }
    closedir(class_folder);
    return sources;
}
