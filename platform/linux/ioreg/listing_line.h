// The pieces of a listing's lines: numbers, texts and values in the platform's forms, put
// into a line of fixed room or into anything else that takes pieces.
#pragma once

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "registry_tree.h"

namespace listing {

inline bool is_printable(char c)
{
    return c >= ' ' && c <= '~';
}

// The length of the escape sequence (ESC [ ... final byte) that starts at `at`, or 0.
inline std::size_t escape_length(std::string_view line, std::size_t at)
{
    if (line[at] != '\033' || at + 1 >= line.size() || line[at + 1] != '[')
        return 0;
    std::size_t end = at + 2;
    while (end < line.size() && (line[end] < '@' || line[end] > '~'))
        ++end;
    return (end < line.size() ? end + 1 : end) - at;
}

template <typename Out, typename Integer>
void put_integer(Out& out, Integer value, int base = 10)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value, base);
    out.add(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

// A number as the platform prints it, the 64-bit pattern unsigned: -1 is
// 18446744073709551615.
template <typename Out>
void put_number(Out& out, std::int64_t value, bool hexadecimal)
{
    if (hexadecimal)
        out.add("0x");
    put_integer(out, static_cast<std::uint64_t>(value), hexadecimal ? 16 : 10);
}

// `text` with every character that could end its quotes or its line replaced.
template <typename Out>
void put_quoted(Out& out, std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = at;
        while (end < text.size() && listed_char(text[end]) == text[end])
            ++end;
        out.add(std::string_view(text.data() + at, end - at));
        if (end == text.size())
            break;
        out.add(listed_char(text[end]));
        at = end + 1;
    }
}

template <typename Out>
void put_xml_escaped(Out& out, std::string_view text)
{
    for (const char c : text) {
        if (c == '&')
            out.add("&amp;");
        else if (c == '<')
            out.add("&lt;");
        else if (c == '>')
            out.add("&gt;");
        else
            out.add(is_printable(c) ? c : '?');
    }
}

template <typename Out>
void put_value(Out& out, const PropertyValue& value, bool hexadecimal)
{
    switch (value.kind) {
    case PropertyValue::Kind::number:
        put_number(out, value.number, hexadecimal);
        break;
    case PropertyValue::Kind::boolean:
        out.add(value.boolean ? std::string_view("Yes") : std::string_view("No"));
        break;
    case PropertyValue::Kind::text:
        out.add('"');
        put_quoted(out, value.text);
        out.add('"');
        break;
    case PropertyValue::Kind::dictionary:
        out.add('{');
        for (std::size_t i = 0; i < value.entry_count; ++i) {
            if (i > 0)
                out.add(',');
            out.add('"');
            out.add(value.entries[i].key);
            out.add("\"=");
            put_value(out, value.entries[i].value, hexadecimal);
        }
        out.add('}');
        break;
    }
}

// Lines of the listing while they are put together, each then cut to width if need be, and
// written out when little room is left. The room left for a line is always more than the
// longest line that a tree of the most sources and the longest texts has.
class Line {
public:
    static constexpr std::size_t ROOM = 16384;
    static constexpr std::size_t LONGEST_LINE = 4096;

    std::string_view view() const { return {text_.data(), size_}; }
    void clear() { size_ = start_ = 0; }

    // Marks where the next line starts, the one that `cut` cuts.
    void start() { start_ = size_; }

    // Whether what is held should be written out before another line is put together.
    bool full() const { return text_.size() - size_ < LONGEST_LINE; }

    void add(std::string_view piece)
    {
        // Whole pieces, the rule, copy by their own size: a constant one in a few moves.
        const std::size_t room = text_.size() - size_;
        if (piece.size() <= room) {
            std::memcpy(text_.data() + size_, piece.data(), piece.size());
            size_ += piece.size();
            return;
        }
        std::memcpy(text_.data() + size_, piece.data(), room);
        size_ = text_.size();
    }

    void add(char c)
    {
        if (size_ < text_.size())
            text_[size_++] = c;
    }

    // Cuts the line since `start` to `width` characters: the first width - 1 and a `$`,
    // when it is longer. Escape sequences take no width and are all kept.
    void cut(std::size_t width)
    {
        const std::string_view line(text_.data() + start_, size_ - start_);
        std::size_t visible = 0;
        for (std::size_t at = 0; at < line.size();) {
            const std::size_t escape = escape_length(line, at);
            visible += escape == 0 ? 1 : 0;
            at += escape == 0 ? 1 : escape;
        }
        if (width == 0 || visible <= width)
            return;
        std::size_t kept = 0;
        std::size_t to = start_;
        for (std::size_t at = 0; at < line.size();) {
            const std::size_t escape = escape_length(line, at);
            if (escape > 0 || kept < width - 1) {
                const std::size_t length = escape > 0 ? escape : 1;
                std::memmove(text_.data() + to, line.data() + at, length);
                to += length;
                kept += escape > 0 ? 0 : 1;
                at += length;
            } else {
                ++at;
            }
        }
        size_ = to;
        add('$');
    }

private:
    std::array<char, ROOM> text_;
    std::size_t size_ = 0;
    std::size_t start_ = 0;
};

}  // namespace listing
