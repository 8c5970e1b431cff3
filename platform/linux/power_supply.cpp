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

// Whether a failed open means the thing is not there: it never was, or it is no file of
// its kind.
bool is_absence(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

// One attribute's whole content, or the error that kept it from being read: ENODEV when its
// device has gone, any other when it exists but could not be read.
struct Attribute {
    std::optional<std::string> content;  // nothing when absent or unreadable
    int error = 0;
};

// Reads the regular file `name` in `folder`. One that is missing, not a regular file or
// larger than any sysfs attribute is absent.
Attribute read_attribute_at(int folder, const char* name)
{
    // O_NONBLOCK, so that a FIFO planted where an attribute should be cannot hang us.
    const int fd = openat(folder, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {std::nullopt, is_absence(errno) ? 0 : errno};
    Attribute attribute;
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        attribute.error = errno;
    } else if (S_ISREG(status.st_mode)) {
        std::string text;
        char chunk[4096];
        for (;;) {
            const ssize_t got = read(fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                attribute.error = errno;
                break;
            }
            if (got == 0) {
                attribute.content = std::move(text);
                break;
            }
            if (text.size() + static_cast<std::size_t>(got) > LARGEST_ATTRIBUTE)
                break;
            text.append(chunk, static_cast<std::size_t>(got));
        }
    }
    close(fd);
    return attribute;
}

// Whether an unreadable attribute makes the whole listing wrong, or only its own keys.
enum class Need { deciding, descriptive };

// One power-supply entry's folder, read attribute by attribute.
class Entry {
public:
    Entry(int class_folder, const std::string& class_path, const std::string& name,
          std::optional<ReadFailure>& failure)
        : folder_(openat(class_folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
          open_error_(folder_ < 0 ? errno : 0), path_(class_path + "/" + name), failure_(failure)
    {
        // Without its folder nothing of the entry, its type included, can be read.
        if (open_error_ == ENODEV)
            gone_ = true;
        else if (open_error_ != 0 && !is_absence(open_error_))
            fail(path_, open_error_);
    }
    ~Entry()
    {
        if (folder_ >= 0)
            close(folder_);
    }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    // The attribute's text, trimmed; nothing when it is absent, unreadable or empty.
    std::optional<std::string> text(const char* attribute, Need need) const
    {
        const std::optional<std::string> content = read(attribute, need);
        if (!content)
            return std::nullopt;
        const std::string_view trimmed = trim_attribute(*content);
        if (trimmed.empty())
            return std::nullopt;
        return std::string(trimmed);
    }

    std::optional<std::int64_t> integer(const char* attribute, Need need) const
    {
        const std::optional<std::string> content = read(attribute, need);
        return content ? parse_attribute_integer(*content) : std::nullopt;
    }

    // The attribute's integer when it lies from `lowest` to `highest`; nothing otherwise.
    std::optional<std::int64_t> integer(const char* attribute, std::int64_t lowest,
                                        std::int64_t highest, Need need = Need::descriptive) const
    {
        const std::optional<std::int64_t> value = integer(attribute, need);
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

    // The attribute as read, its error included; absent from an entry that is gone.
    Attribute attribute(const char* name) const
    {
        if (folder_ < 0)
            return {};
        Attribute read = read_attribute_at(folder_, name);
        // A peripheral unplugged mid-read takes all of its attributes with it.
        if (read.error == ENODEV)
            gone_ = true;
        return read;
    }

    // Whether the entry's device went away while it was read: then it is no source at all.
    bool gone() const { return gone_; }

private:
    std::optional<std::string> read(const char* attribute, Need need) const
    {
        Attribute read = this->attribute(attribute);
        if (read.error != 0 && read.error != ENODEV && need == Need::deciding)
            fail(path_ + "/" + attribute, read.error);
        return std::move(read.content);
    }

    void fail(const std::string& path, int error) const
    {
        if (!failure_)
            failure_ = ReadFailure{path, error};
    }

    int folder_;
    int open_error_;
    mutable bool gone_ = false;
    std::string path_;
    std::optional<ReadFailure>& failure_;
};

bool is_system_supply(const Entry& entry)
{
    // A Device scope is a peripheral's own supply: a mouse, a keyboard, a controller.
    const std::optional<std::string> scope = entry.text("scope", Need::deciding);
    return !scope || equals_ignoring_case(*scope, "System") || equals_ignoring_case(*scope, "Unknown");
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
    const std::optional<std::int64_t> now = entry.integer(names.now, Need::deciding);
    const std::optional<std::int64_t> full = entry.integer(names.full, Need::deciding);
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
        const std::optional<std::int64_t> capacity = read_percent(entry, Need::deciding);
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
    reading->status = entry.text("status", Need::deciding).value_or("");
    reading->model_name = entry.text("model_name", Need::descriptive).value_or("");
    reading->manufacturer = entry.text("manufacturer", Need::descriptive).value_or("");
    reading->serial_number = entry.text("serial_number", Need::descriptive).value_or("");
    return reading;
}

// The folder's entries in byte order, or nothing when listing it failed part way.
std::optional<std::vector<std::string>> entry_names(DIR* dir)
{
    std::vector<std::string> names;
    for (;;) {
        // readdir tells its end from its failure only by errno.
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr)
            break;
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    if (errno != 0)
        return std::nullopt;
    // std::string compares its characters as unsigned bytes: byte order, whatever the locale.
    std::sort(names.begin(), names.end());
    return names;
}

// Adds to `into` what the entry is: one of the device's batteries, an adapter, a
// peripheral's battery, or nothing.
void read_entry(const Entry& entry, PowerSources& into)
{
    const std::optional<std::string> type = entry.text("type", Need::deciding);
    if (!type)
        return;
    const bool battery = equals_ignoring_case(*type, "Battery");
    if (!is_system_supply(entry)) {
        if (battery && is_present(entry, Need::descriptive))
            into.peripherals.push_back({read_percent(entry, Need::descriptive),
                                        entry.text("model_name", Need::descriptive).value_or("")});
        return;
    }
    if (battery) {
        std::optional<BatteryReading> reading = is_present(entry, Need::deciding) ? read_battery(entry) : std::nullopt;
        if (reading)
            into.batteries.push_back(std::move(*reading));
        return;
    }
    const bool usb = equals_ignoring_case(type->substr(0, 3), "USB");
    if (usb || equals_ignoring_case(*type, "Mains")) {
        // 1 is online; 2, online with a programmable voltage (USB PD), is online too.
        const Attribute online = entry.attribute("online");
        std::optional<bool> known;
        if (online.error == 0) {
            const std::optional<std::int64_t> value =
                online.content ? parse_attribute_integer(*online.content) : std::nullopt;
            known = value && *value > 0;
        }
        into.adapters.push_back({usb, known});
    }
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
    const std::string class_path = sysfs_root + "/class/power_supply";
    DIR* const class_folder = opendir(class_path.c_str());
    if (class_folder == nullptr) {
        if (!is_absence(errno))
            sources.failure = ReadFailure{class_path, errno};
        return sources;
    }
    sources.class_found = true;
    const std::optional<std::vector<std::string>> names = entry_names(class_folder);
    if (!names)
        sources.failure = ReadFailure{class_path, errno};
    for (const std::string& name : names.value_or(std::vector<std::string>{})) {
        // Past a failure nothing read is listed, so nothing more needs reading.
        if (sources.failure)
            break;
        const Entry entry(dirfd(class_folder), class_path, name, sources.failure);
        PowerSources found;
        read_entry(entry, found);
        if (entry.gone())
            continue;
        for (BatteryReading& battery : found.batteries)
            sources.batteries.push_back(std::move(battery));
        sources.adapters.insert(sources.adapters.end(), found.adapters.begin(), found.adapters.end());
        for (PeripheralBattery& peripheral : found.peripherals)
            sources.peripherals.push_back(std::move(peripheral));
    }
    closedir(class_folder);
    return sources;
}
