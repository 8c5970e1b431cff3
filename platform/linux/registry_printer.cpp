#include "registry_printer.h"

#include <charconv>

namespace {

constexpr std::string_view BOLD = "\033[1m";
constexpr std::string_view PLAIN = "\033[0m";

bool is_printable(char c)
{
    return c >= ' ' && c <= '~';
}

// The length of the escape sequence (ESC [ ... final byte) that starts at `at`, or 0.
std::size_t escape_length(std::string_view line, std::size_t at)
{
    if (line[at] != '\033' || at + 1 >= line.size() || line[at + 1] != '[')
        return 0;
    std::size_t end = at + 2;
    while (end < line.size() && (line[end] < '@' || line[end] > '~'))
        ++end;
    return (end < line.size() ? end + 1 : end) - at;
}

template <typename Integer>
void append_integer(std::string& out, Integer value, int base = 10)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value, base);
    out.append(digits, result.ptr);
}

void append_number(std::string& out, std::int64_t value, bool hexadecimal)
{
    // The platform prints the 64-bit pattern unsigned: -1 is 18446744073709551615.
    const auto pattern = static_cast<std::uint64_t>(value);
    if (hexadecimal)
        out += "0x";
    append_integer(out, pattern, hexadecimal ? 16 : 10);
}

void append_value(std::string& out, const PropertyValue& value, bool hexadecimal)
{
    switch (value.kind) {
    case PropertyValue::Kind::number:
        append_number(out, value.number, hexadecimal);
        break;
    case PropertyValue::Kind::boolean:
        out += value.boolean ? "Yes" : "No";
        break;
    case PropertyValue::Kind::text:
        out += '"';
        out += quoted_text(value.text);
        out += '"';
        break;
    }
}

class TextWriter {
public:
    TextWriter(std::string& out, const ListingOptions& options, const Listing& listing)
        : out_(out), options_(options), listing_(listing)
    {
        line_.reserve(256);
    }

    // `columns` are the tree's columns left of the object; `later_sibling` says whether
    // another object follows it at its level; `level` counts from 1 at the root.
    void object(const RegistryObject& object, const std::string& columns, bool later_sibling,
                std::size_t level)
    {
        line_ = columns;
        line_ += "+-o ";
        if (options_.bold)
            line_ += BOLD;
        line_ += object.name;
        if (options_.bold)
            line_ += PLAIN;
        line_ += "  <class ";
        line_ += object.lineage.front();
        line_ += ", id 0x";
        append_integer(line_, object.id, 16);
        if (object.service && options_.state)
            line_ += ", registered, matched, active, busy 0 (0 ms)";
        line_ += ", retain ";
        append_integer(line_, object.retain);
        line_ += '>';
        emit();

        const bool children = listing_.lists_below(level) && !object.children.empty();
        const std::string own_columns = columns + (later_sibling ? "| " : "  ");
        if (shows_properties(object, options_)) {
            const std::string inside = own_columns + (children ? "| " : "  ");
            emit(inside, "{");
            for (const Property& property : object.properties) {
                line_ = inside;
                line_ += "  \"";
                line_ += property.key;
                line_ += "\" = ";
                append_value(line_, property.value, options_.hexadecimal);
                emit();
            }
            emit(inside, "}");
            emit(inside, "");
        }
        if (!children)
            return;
        for (std::size_t i = 0; i < object.children.size(); ++i)
            this->object(object.children[i], own_columns, i + 1 < object.children.size(), level + 1);
    }

private:
    void emit(const std::string& columns, std::string_view text)
    {
        line_ = columns;
        line_ += text;
        emit();
    }

    void emit()
    {
        if (options_.width && *options_.width > 0)
            out_ += cut_line(line_, *options_.width);
        else
            out_ += line_;
        out_ += '\n';
    }

    std::string& out_;
    const ListingOptions& options_;
    const Listing& listing_;
    std::string line_;
};

void indent(std::string& out, std::size_t tabs)
{
    out.append(tabs, '\t');
}

// Writes `key`'s line and the indent of the value's line that follows it.
void append_xml_key(std::string& out, std::size_t tabs, std::string_view key)
{
    indent(out, tabs);
    out += "<key>";
    out += key;
    out += "</key>\n";
    indent(out, tabs);
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the key, then its text, as listed.
void append_xml_string(std::string& out, std::size_t tabs, std::string_view key, std::string_view text)
{
    append_xml_key(out, tabs, key);
    out += "<string>";
    out += text;
    out += "</string>\n";
}

void append_xml_object(std::string& out, const RegistryObject& object, const ListingOptions& options,
                       const Listing& listing, std::size_t level, std::size_t tabs)
{
    indent(out, tabs);
    out += "<dict>\n";
    if (shows_properties(object, options)) {
        for (const Property& property : object.properties) {
            const PropertyValue& value = property.value;
            switch (value.kind) {
            case PropertyValue::Kind::number:
                append_xml_key(out, tabs + 1, property.key);
                out += "<integer>";
                append_integer(out, value.number);
                out += "</integer>\n";
                break;
            case PropertyValue::Kind::boolean:
                append_xml_key(out, tabs + 1, property.key);
                out += value.boolean ? "<true/>\n" : "<false/>\n";
                break;
            case PropertyValue::Kind::text:
                append_xml_string(out, tabs + 1, property.key, xml_escaped(value.text));
                break;
            }
        }
    }
    append_xml_string(out, tabs + 1, "IOObjectClass", object.lineage.front());
    append_xml_string(out, tabs + 1, "IORegistryEntryName", object.name);
    if (listing.lists_below(level) && !object.children.empty()) {
        append_xml_key(out, tabs + 1, "IORegistryEntryChildren");
        out += "<array>\n";
        for (const RegistryObject& child : object.children)
            append_xml_object(out, child, options, listing, level + 1, tabs + 2);
        indent(out, tabs + 1);
        out += "</array>\n";
    }
    indent(out, tabs);
    out += "</dict>\n";
}

}  // namespace

std::string quoted_text(std::string_view text)
{
    std::string safe(text);
    for (char& c : safe) {
        if (c == '"')
            c = '\'';
        else if (c == '\\')
            c = '/';
        else if (!is_printable(c))
            c = '?';
    }
    return safe;
}

std::string xml_escaped(std::string_view text)
{
    std::string safe;
    safe.reserve(text.size());
    for (const char c : text) {
        if (c == '&')
            safe += "&amp;";
        else if (c == '<')
            safe += "&lt;";
        else if (c == '>')
            safe += "&gt;";
        else
            safe += is_printable(c) ? c : '?';
    }
    return safe;
}

std::string cut_line(std::string_view line, std::size_t width)
{
    std::size_t visible = 0;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t escape = escape_length(line, at);
        visible += escape == 0 ? 1 : 0;
        at += escape == 0 ? 1 : escape;
    }
    if (width == 0 || visible <= width)
        return std::string(line);
    std::string cut;
    std::size_t kept = 0;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t escape = escape_length(line, at);
        if (escape > 0) {
            cut += line.substr(at, escape);
            at += escape;
            continue;
        }
        if (kept < width - 1) {
            cut += line[at];
            ++kept;
        }
        ++at;
    }
    cut += '$';
    return cut;
}

std::string value_text(const PropertyValue& value, bool hexadecimal)
{
    std::string text;
    append_value(text, value, hexadecimal);
    return text;
}

namespace {

void append_text_listing(std::string& out, const Listing& listing, const ListingOptions& options)
{
    // One listing is a few KiB; growing into it would copy it several times over.
    out.reserve(out.size() + 8192);
    TextWriter writer(out, options, listing);
    for (const RegistryObject* root : listing.roots)
        writer.object(*root, "", false, 1);
}

void append_xml_listing(std::string& out, const Listing& listing, const ListingOptions& options)
{
    if (listing.roots.empty())
        return;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n";
    if (options.as_roots) {
        out += "<array>\n";
        for (const RegistryObject* root : listing.roots)
            append_xml_object(out, *root, options, listing, 1, 1);
        out += "</array>\n";
    } else {
        append_xml_object(out, *listing.roots.front(), options, listing, 1, 0);
    }
    out += "</plist>\n";
}

}  // namespace

void append_listing(std::string& out, const Listing& listing, const ListingOptions& options)
{
    if (options.xml)
        append_xml_listing(out, listing, options);
    else
        append_text_listing(out, listing, options);
}
