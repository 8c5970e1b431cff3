#include "registry_printer.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "listing_line.h"

namespace {

using listing::Line;
using listing::put_integer;
using listing::put_value;
using listing::put_xml_escaped;

constexpr std::string_view BOLD = "\033[1m";
constexpr std::string_view PLAIN = "\033[0m";

void flush(std::FILE* out, Line& lines)
{
    std::fwrite(lines.view().data(), 1, lines.view().size(), out);
    lines.clear();
}

// Writes the text form one line after the other; the tree's columns grow by two
// characters a level on the way down and shrink on the way back.
class TextWriter {
public:
    TextWriter(std::FILE* out, const ListingOptions& options, const Listing& listing)
        : out_(out), options_(options), listing_(listing), width_(options.width.value_or(0))
    {
    }

    // `later_sibling` says whether another object follows this one at its level; `level`
    // counts from 1 at the root.
    void object(const RegistryObject& object, bool later_sibling, std::size_t level)
    {
        line_.start();
        line_.add(columns());
        line_.add("+-o ");
        if (options_.bold)
            line_.add(BOLD);
        line_.add(object.name);
        if (options_.bold)
            line_.add(PLAIN);
        line_.add("  <class ");
        line_.add(object.lineage.front());
        line_.add(", id 0x");
        put_integer(line_, object.id, 16);
        if (object.service && options_.state)
            line_.add(", registered, matched, active, busy 0 (0 ms)");
        line_.add(", retain ");
        put_integer(line_, object.retain);
        line_.add('>');
        end_line();

        const bool children = listing_.lists_below(level) && object.child_count > 0;
        push(later_sibling);
        if (shows_properties(object, options_)) {
            push(children);
            line_of("{");
            for (std::size_t i = 0; i < object.property_count; ++i) {
                const Property& property = object.properties[i];
                line_.start();
                line_.add(columns());
                line_.add("  \"");
                line_.add(property.key);
                line_.add("\" = ");
                put_value(line_, property.value, options_.hexadecimal);
                end_line();
            }
            line_of("}");
            line_of("");
            --depth_;
        }
        if (children) {
            for (std::size_t i = 0; i < object.child_count; ++i)
                this->object(object.children[i], i + 1 < object.child_count, level + 1);
        }
        --depth_;
    }

    void finish() { flush(out_, line_); }

private:
    // The columns of the levels above, two characters each: `| ` while a level has another
    // object to come.
    std::string_view columns() const { return {columns_.data(), 2 * depth_}; }

    void push(bool bar)
    {
        columns_[2 * depth_] = bar ? '|' : ' ';
        columns_[(2 * depth_) + 1] = ' ';
        ++depth_;
    }

    void line_of(std::string_view text)
    {
        line_.start();
        line_.add(columns());
        line_.add(text);
        end_line();
    }

    void end_line()
    {
        if (width_ > 0)
            line_.cut(width_);
        line_.add('\n');
        if (line_.full())
            flush(out_, line_);
    }

    std::FILE* out_;
    const ListingOptions& options_;
    const Listing& listing_;
    const std::size_t width_;  // 0 cuts no line
    // Two levels per object and one more for its properties, on the deepest branch.
    std::array<char, 4 * MOST_OBJECTS> columns_{};
    std::size_t depth_ = 0;
    Line line_;
};

// The keys that every object's dictionary holds beside its properties, in the order of
// OWN_KEYS; the children last, since they are there only when they are listed.
enum class OwnKey : std::uint8_t { object_class, retain_count, entry_id, entry_name, children };
constexpr std::array<std::string_view, 5> OWN_KEYS = {"IOObjectClass", "IOObjectRetainCount", "IORegistryEntryID",
                                                      "IORegistryEntryName", "IORegistryEntryChildren"};

// One key of a dictionary while it is sorted: its first eight bytes as one number, which
// orders nearly every pair of keys with one comparison, and its index.
struct SortedKey {
    std::uint64_t prefix;
    std::uint8_t index;
};

// The keys of one dictionary in byte order, the most that one holds.
using KeyOrder = std::array<SortedKey, MOST_KEYS + OWN_KEYS.size()>;

// Zero bytes past a short key's end put it before the longer keys that begin with it.
std::uint64_t prefix_of(std::string_view key)
{
    std::uint64_t prefix = 0;
    if (key.size() >= sizeof prefix) {
        for (std::size_t i = 0; i < sizeof prefix; ++i)
            prefix = (prefix << 8U) | static_cast<unsigned char>(key[i]);
        return prefix;
    }
    for (std::size_t i = 0; i < sizeof prefix; ++i)
        prefix = (prefix << 8U) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0U);
    return prefix;
}

// Sorts the indices 0 to `count` - 1 into `order` by the bytes of `key_of(index)`, as the
// platform's archive sorts every dictionary: capitals before small letters, a key before
// the longer ones that begin with it. A few dozen keys, mostly in place after the first
// bytes: an insertion sort into a fixed array.
template <typename KeyOf>
void sort_keys(std::size_t count, const KeyOf& key_of, KeyOrder& order)
{
    for (std::size_t i = 0; i < count; ++i) {
        const SortedKey key{prefix_of(key_of(i)), static_cast<std::uint8_t>(i)};
        std::size_t at = i;
        for (; at > 0; --at) {
            const SortedKey& before = order[at - 1];
            if (before.prefix < key.prefix || (before.prefix == key.prefix && key_of(before.index) < key_of(i)))
                break;
            order[at] = before;
        }
        order[at] = key;
    }
}

// Writes the property list form one line after the other, each indented by tabs.
class XmlWriter {
public:
    XmlWriter(std::FILE* out, const ListingOptions& options, const Listing& listing)
        : out_(out), options_(options), listing_(listing)
    {
    }

    void line(std::size_t tabs, std::string_view text)
    {
        start(tabs);
        line_.add(text);
        end();
    }

    void finish() { flush(out_, line_); }

    // The object's dictionary: the properties shown and its own keys, all in byte order.
    void object(const RegistryObject& object, std::size_t level, std::size_t tabs)
    {
        line(tabs, "<dict>");
        const std::size_t shown = shows_properties(object, options_) ? object.property_count : 0;
        const bool children = listing_.lists_below(level) && object.child_count > 0;
        const std::size_t count = shown + OWN_KEYS.size() - (children ? 0 : 1);
        KeyOrder order;
        sort_keys(count, [&](std::size_t i) { return i < shown ? object.properties[i].key : OWN_KEYS[i - shown]; },
                  order);
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t i = order[k].index;
            if (i < shown) {
                property(tabs + 1, object.properties[i]);
                continue;
            }
            key(tabs + 1, OWN_KEYS[i - shown]);
            switch (static_cast<OwnKey>(i - shown)) {
            case OwnKey::object_class: string(tabs + 1, object.lineage.front()); break;
            case OwnKey::retain_count: integer(tabs + 1, object.retain); break;
            case OwnKey::entry_id: integer(tabs + 1, object.id); break;
            case OwnKey::entry_name: string(tabs + 1, object.name); break;
            case OwnKey::children:
                line(tabs + 1, "<array>");
                for (std::size_t c = 0; c < object.child_count; ++c)
                    this->object(object.children[c], level + 1, tabs + 2);
                line(tabs + 1, "</array>");
                break;
            }
        }
        line(tabs, "</dict>");
    }

private:
    void start(std::size_t tabs)
    {
        line_.start();
        for (std::size_t i = 0; i < tabs; ++i)
            line_.add('\t');
    }

    void end()
    {
        line_.add('\n');
        if (line_.full())
            flush(out_, line_);
    }

    void key(std::size_t tabs, std::string_view name)
    {
        start(tabs);
        line_.add("<key>");
        line_.add(name);
        line_.add("</key>");
        end();
    }

    void string(std::size_t tabs, std::string_view text)
    {
        start(tabs);
        line_.add("<string>");
        put_xml_escaped(line_, text);
        line_.add("</string>");
        end();
    }

    // Signed, whatever -x asks: a property list's integers have one form.
    template <typename Integer>
    void integer(std::size_t tabs, Integer value)
    {
        start(tabs);
        line_.add("<integer>");
        put_integer(line_, value);
        line_.add("</integer>");
        end();
    }

    void property(std::size_t tabs, const Property& property)
    {
        const PropertyValue& value = property.value;
        key(tabs, property.key);
        switch (value.kind) {
        case PropertyValue::Kind::number: integer(tabs, value.number); break;
        case PropertyValue::Kind::boolean: line(tabs, value.boolean ? "<true/>" : "<false/>"); break;
        case PropertyValue::Kind::text: string(tabs, value.text); break;
        case PropertyValue::Kind::dictionary: {
            line(tabs, "<dict>");
            KeyOrder order;
            sort_keys(value.entry_count, [&](std::size_t i) { return value.entries[i].key; }, order);
            for (std::size_t k = 0; k < value.entry_count; ++k)
                this->property(tabs + 1, value.entries[order[k].index]);
            line(tabs, "</dict>");
            break;
        }
        }
    }

    std::FILE* out_;
    const ListingOptions& options_;
    const Listing& listing_;
    Line line_;
};

}  // namespace

void print_listing(std::FILE* out, const Listing& listing, const ListingOptions& options)
{
    if (!options.xml) {
        TextWriter writer(out, options, listing);
        for (std::size_t i = 0; i < listing.root_count; ++i)
            writer.object(*listing.roots[i], false, 1);
        writer.finish();
        return;
    }
    if (listing.root_count == 0)
        return;
    std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
               "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\">\n",
               out);
    XmlWriter writer(out, options, listing);
    if (options.as_roots) {
        writer.line(0, "<array>");
        for (std::size_t i = 0; i < listing.root_count; ++i)
            writer.object(*listing.roots[i], 1, 1);
        writer.line(0, "</array>");
    } else {
        writer.object(*listing.roots[0], 1, 0);
    }
    writer.line(0, "</plist>");
    writer.finish();
}

