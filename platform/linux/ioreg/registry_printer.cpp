#include "registry_printer.h"

#include <array>

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

    void object(const RegistryObject& object, std::size_t level, std::size_t tabs)
    {
        line(tabs, "<dict>");
        if (shows_properties(object, options_))
            properties(tabs + 1, object.properties, object.property_count);
        string(tabs + 1, "IOObjectClass", object.lineage.front());
        string(tabs + 1, "IORegistryEntryName", object.name);
        if (listing_.lists_below(level) && object.child_count > 0) {
            key(tabs + 1, "IORegistryEntryChildren");
            line(tabs + 1, "<array>");
            for (std::size_t i = 0; i < object.child_count; ++i)
                this->object(object.children[i], level + 1, tabs + 2);
            line(tabs + 1, "</array>");
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

    // NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the key, then its text, as listed.
    void string(std::size_t tabs, std::string_view name, std::string_view text)
    {
        key(tabs, name);
        start(tabs);
        line_.add("<string>");
        put_xml_escaped(line_, text);
        line_.add("</string>");
        end();
    }

    void properties(std::size_t tabs, const Property* first, std::size_t count)
    {
        for (const Property* property = first; property != first + count; ++property) {
            const PropertyValue& value = property->value;
            switch (value.kind) {
            case PropertyValue::Kind::number:
                key(tabs, property->key);
                start(tabs);
                line_.add("<integer>");
                put_integer(line_, value.number);
                line_.add("</integer>");
                end();
                break;
            case PropertyValue::Kind::boolean:
                key(tabs, property->key);
                line(tabs, value.boolean ? "<true/>" : "<false/>");
                break;
            case PropertyValue::Kind::text:
                string(tabs, property->key, value.text);
                break;
            case PropertyValue::Kind::dictionary:
                key(tabs, property->key);
                line(tabs, "<dict>");
                properties(tabs + 1, value.entries, value.entry_count);
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

