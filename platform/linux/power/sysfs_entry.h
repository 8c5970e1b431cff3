// Reading sysfs: one attribute at a time into a static buffer, a power-supply entry's folder
// attribute by attribute, and a folder's entries in byte order. What the reader of the
// power-supply class builds its readings from; it knows nothing of batteries.
#pragma once

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include "power_supply.h"

namespace sysfs {

// The kernel holds every reading in an int, so a larger one is no driver's. Within it every
// capacity listed, in mAh, mWh or percent, stays one that powmeter can read.
inline constexpr std::int64_t LARGEST_READING = 2'147'483'647;

// The most entries a class folder may hold: the sources listed and others (wireless
// chargers, UPSes) besides.
inline constexpr std::size_t MOST_ENTRIES = 128;

// The error that says a folder held more than its lists do.
inline constexpr int TOO_MANY = ENOBUFS;

using Path = std::array<char, LONGEST_PATH>;

// Writes `parts` one after the other into `path`, cut short if need be, and a zero byte.
void join(Path& path, std::initializer_list<std::string_view> parts);

// Whether a failed open means the thing is not there: it never was, or it is no file of
// its kind.
bool is_absence(int error);

// One attribute's whole content, or the error that kept it from being read: ENODEV when its
// device has gone, any other when it exists but could not be read.
struct Attribute {
    std::optional<std::string_view> content;  // in attribute_buffer, until the next read
    int error = 0;
};

// Reads the regular file `name` in `folder` (or AT_FDCWD). One that is missing, not a regular
// file or larger than any sysfs attribute is absent; the content lasts until the next read.
Attribute read_attribute_at(int folder, const char* name);

// Gives the text of an attribute's content: trimmed, cut to LONGEST_TEXT, empty for none.
Text text_of(const std::optional<std::string_view>& content);

// Whether an unreadable attribute makes the whole listing wrong, or only its own keys.
enum class Need : std::uint8_t { deciding, descriptive };

// Gives `value` when it lies from `lowest` to `highest`; nothing otherwise.
std::optional<std::int64_t> within(std::optional<std::int64_t> value, std::int64_t lowest, std::int64_t highest);

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

// Lists the folder's entries in byte order into `into`; false when listing it failed part
// way, with the error in errno, or when it holds more than MOST_ENTRIES.
bool list_entries(DIR* dir, EntryNames& into);

// Gives the one store of entry names: a class folder's names are kept while its entries are
// read, and one store keeps the stand-ins off the stack and the heap.
EntryNames& entry_names();

}  // namespace sysfs
