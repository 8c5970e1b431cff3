#include "power_supply.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <initializer_list>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// sysfs attributes fit in one page, and pages are at most 64 KiB.
constexpr std::size_t LARGEST_ATTRIBUTE = std::size_t{64} * 1024;

// The kernel holds every reading in an int, so a larger one is no driver's. Within it every
// capacity listed, in mAh, mWh or percent, stays one that powmeter can read.
constexpr std::int64_t LARGEST_READING = 2'147'483'647;

// A battery's design voltage, in µV, below which its mAh would pass what powmeter reads; no
// cell is built to run down to a tenth of a volt.
constexpr std::int64_t LOWEST_DESIGN_VOLTAGE = 100'000;

// Attributes are read one at a time, each straight into this and parsed before the next:
// one byte more than the largest attribute tells a file that is too large.
char attribute_buffer[LARGEST_ATTRIBUTE + 1];

// The most entries the class folder may hold: the sources listed and others (wireless
// chargers, UPSes) besides.
constexpr std::size_t MOST_ENTRIES = 128;

// The error that says the class held more than its lists do.
constexpr int TOO_MANY = ENOBUFS;

using Path = std::array<char, LONGEST_PATH>;

// Writes `parts` one after the other into `path`, cut short if need be, and a zero byte.
void join(Path& path, std::initializer_list<std::string_view> parts)
{
    std::size_t size = 0;
    for (const std::string_view part : parts) {
        const std::size_t length = std::min(part.size(), path.size() - 1 - size);
        std::memcpy(path.data() + size, part.data(), length);
        size += length;
    }
    path[size] = '\0';
}

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

// Whether a failed open means the thing is not there: it never was, or it is no file of
// its kind.
bool is_absence(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

// One attribute's whole content, or the error that kept it from being read: ENODEV when its
// device has gone, any other when it exists but could not be read.
struct Attribute {
    std::optional<std::string_view> content;  // in attribute_buffer, until the next read
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
        std::size_t size = 0;
        for (;;) {
            const std::size_t room = sizeof attribute_buffer - size;
            const ssize_t got = read(fd, attribute_buffer + size, room);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                attribute.error = errno;
                break;
            }
            size += static_cast<std::size_t>(got);
            // Filling the buffer takes one byte more than any attribute has.
            if (size > LARGEST_ATTRIBUTE)
                break;
            // A regular file reads short only at its end, and sysfs gives an attribute
            // whole in one read: no need to ask again to be told that it has ended.
            if (static_cast<std::size_t>(got) < room) {
                attribute.content = std::string_view(attribute_buffer, size);
                break;
            }
        }
    }
    close(fd);
    return attribute;
}

// The text of an attribute's content: trimmed, cut to LONGEST_TEXT, empty for none.
Text text_of(const std::optional<std::string_view>& content)
{
    Text text;
    if (content) {
        const std::string_view trimmed = trim_attribute(*content);
        text.size = std::min(trimmed.size(), LONGEST_TEXT);
        std::memcpy(text.bytes.data(), trimmed.data(), text.size);
    }
    return text;
}

// Whether an unreadable attribute makes the whole listing wrong, or only its own keys.
enum class Need : std::uint8_t { deciding, descriptive };

std::optional<std::int64_t> within(std::optional<std::int64_t> value, std::int64_t lowest, std::int64_t highest)
{
    return value && *value >= lowest && *value <= highest ? value : std::nullopt;
}

// One power-supply entry's folder, read attribute by attribute.
class Entry {
public:
    // NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the class's path, then the entry's name.
    Entry(int class_folder, std::string_view class_path, const char* name, std::optional<ReadFailure>& failure)
        : folder_(openat(class_folder, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC)), class_path_(class_path),
          name_(name), failure_(failure)
    {
        // Without its folder nothing of the entry, its type included, can be read.
        if (folder_ < 0 && errno == ENODEV)
            gone_ = true;
        else if (folder_ < 0 && !is_absence(errno))
            fail("", errno);
    }
    ~Entry()
    {
        if (folder_ >= 0)
            close(folder_);
    }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    // The attribute as read, its error included; absent from an entry that is gone.
    Attribute attribute(const char* name) const
    {
        if (folder_ < 0)
            return {};
        const Attribute read = read_attribute_at(folder_, name);
        // A peripheral unplugged mid-read takes all of its attributes with it.
        if (read.error == ENODEV)
            gone_ = true;
        return read;
    }

    // The attribute as read; one that decides and cannot be read fails the reading.
    Attribute get(const char* attribute, Need need) const
    {
        const Attribute read = this->attribute(attribute);
        if (read.error != 0 && read.error != ENODEV && need == Need::deciding)
            fail(attribute, read.error);
        return read;
    }

    // The attribute's text, trimmed and cut to LONGEST_TEXT; empty when it is absent,
    // unreadable or blank.
    Text text(const char* attribute, Need need) const { return text_of(content(attribute, need)); }

    std::optional<std::int64_t> integer(const char* attribute, Need need) const
    {
        const std::optional<std::string_view> read = content(attribute, need);
        return read ? parse_attribute_integer(*read) : std::nullopt;
    }

    // The reading of now, else the average that drivers without one give (the PowerPC PMU's).
    // NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the attribute of now, then its average.
    std::optional<std::int64_t> integer(const char* now, const char* average, Need need) const
    {
        const Attribute read = get(now, need);
        const std::optional<std::int64_t> value = read.content ? parse_attribute_integer(*read.content) : std::nullopt;
        return value || read.error != 0 ? value : integer(average, need);
    }

    // The attribute's integer when it lies from `lowest` to `highest`; nothing otherwise.
    std::optional<std::int64_t> integer(const char* attribute, std::int64_t lowest,
                                        std::int64_t highest, Need need = Need::descriptive) const
    {
        return within(integer(attribute, need), lowest, highest);
    }

    // The same of now, else of its average.
    std::optional<std::int64_t> integer(const char* now, const char* average, std::int64_t lowest,
                                        std::int64_t highest) const
    {
        return within(integer(now, average, Need::descriptive), lowest, highest);
    }

    // Some drivers sign currents and powers by direction, others never do.
    std::optional<std::int64_t> magnitude(const char* now, const char* average) const
    {
        const std::optional<std::int64_t> value = integer(now, average, -LARGEST_READING, LARGEST_READING);
        if (value && *value < 0)
            return -*value;
        return value;
    }

    // Whether the entry's device went away while it was read: then it is no source at all.
    bool gone() const { return gone_; }

private:
    std::optional<std::string_view> content(const char* attribute, Need need) const
    {
        return get(attribute, need).content;
    }

    void fail(std::string_view attribute, int error) const
    {
        if (failure_)
            return;
        failure_.emplace();
        failure_->error = error;
        join(failure_->path, {class_path_, "/", name_, attribute.empty() ? "" : "/", attribute});
    }

    int folder_;
    std::string_view class_path_;
    std::string_view name_;
    std::optional<ReadFailure>& failure_;
    mutable bool gone_ = false;
};

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

std::optional<BatteryReading> read_family(const Entry& entry, const FamilyAttributes& names, bool details)
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
    if (details)
        reading.full_design = entry.integer(names.design, 1, LARGEST_READING);
    return reading;
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
    std::optional<BatteryReading> reading = read_family(entry, ENERGY, plan.details);
    if (!reading)
        reading = read_family(entry, CHARGE, plan.details);
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

// An entry's name as kept: its text ends with a zero byte, for openat.
struct EntryName {
    const char* text;
    std::size_t size;

    std::string_view view() const { return {text, size}; }
};

// The entries' names, kept while they are read.
struct EntryNames {
    std::array<std::array<char, 256>, MOST_ENTRIES> names;
    std::array<EntryName, MOST_ENTRIES> sorted;
    std::size_t count = 0;
};

EntryNames entry_names_storage;

// Lists the folder's entries in byte order; false when listing it failed part way, with
// the error in errno, or when it holds more than MOST_ENTRIES.
bool list_entries(DIR* dir, EntryNames& into)
{
    for (;;) {
        // readdir tells its end from its failure only by errno.
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr)
            break;
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (into.count == MOST_ENTRIES) {
            errno = TOO_MANY;
            return false;
        }
        std::array<char, 256>& kept = into.names[into.count];
        std::memcpy(kept.data(), name.data(), name.size() + 1);
        into.sorted[into.count++] = {kept.data(), name.size()};
    }
    if (errno != 0)
        return false;
    // string_view compares its characters as unsigned bytes: byte order, whatever the locale.
    std::sort(into.sorted.begin(), into.sorted.begin() + static_cast<std::ptrdiff_t>(into.count),
              [](const EntryName& a, const EntryName& b) { return a.view() < b.view(); });
    return true;
}

}  // namespace

std::string_view trim_attribute(std::string_view text)
{
    auto is_space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!text.empty() && is_space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_space(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<std::int64_t> parse_attribute_integer(std::string_view text)
{
    text = trim_attribute(text);
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    // NOLINTNEXTLINE(bugprone-suspicious-stringview-data-usage): from_chars is given the end too.
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

void read_power_sources(std::string_view sysfs_root, PowerSources& sources, const ReadPlan& plan)
{
    Path class_path;
    join(class_path, {sysfs_root, "/class/power_supply"});
    auto fail = [&](int error) {
        sources.failure.emplace();
        sources.failure->path = class_path;
        sources.failure->error = error;
    };
    DIR* const class_folder = opendir(class_path.data());
    if (class_folder == nullptr) {
        if (!is_absence(errno))
            fail(errno);
        return;
    }
    sources.class_found = true;
    EntryNames& names = entry_names_storage;
    names.count = 0;
    if (!list_entries(class_folder, names))
        fail(errno);
    for (std::size_t i = 0; i < names.count && !sources.failure; ++i) {
        const Entry entry(dirfd(class_folder), class_path.data(), names.sorted[i].text, sources.failure);
        const std::size_t batteries = sources.battery_count;
        const std::size_t adapters = sources.adapter_count;
        const std::size_t peripherals = sources.peripheral_count;
        const std::size_t upses = sources.ups_count;
        if (!read_entry(entry, plan, sources) && !sources.failure)
            fail(TOO_MANY);
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
    Path product_name;
    join(product_name, {sysfs_root, "/class/dmi/id/product_name"});
    sources.machine_name = text_of(read_attribute_at(AT_FDCWD, product_name.data()).content);
}
