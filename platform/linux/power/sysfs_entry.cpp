#include "sysfs_entry.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sysfs {

namespace {

// sysfs attributes fit in one page, and pages are at most 64 KiB.
constexpr std::size_t LARGEST_ATTRIBUTE = std::size_t{64} * 1024;

// Attributes are read one at a time, each straight into this and parsed before the next:
// one byte more than the largest attribute tells a file that is too large.
char attribute_buffer[LARGEST_ATTRIBUTE + 1];

EntryNames entry_names_storage;

}  // namespace

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

bool is_absence(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

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

std::optional<std::int64_t> within(std::optional<std::int64_t> value, std::int64_t lowest, std::int64_t highest)
{
    return value && *value >= lowest && *value <= highest ? value : std::nullopt;
}

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

EntryNames& entry_names()
{
    return entry_names_storage;
}

}  // namespace sysfs

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
