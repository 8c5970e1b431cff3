// The forms of single pieces as the listing writes them, for tests and fuzzing. Apart from
// the printer, so that the stand-in itself links no growing string.
#include <string>

#include "listing_line.h"
#include "registry_printer.h"

namespace {

// Takes pieces into a string of any length, as a Line takes them into its fixed room.
struct StringOut {
    std::string text;
    void add(std::string_view piece) { text += piece; }
    void add(char c) { text += c; }
};

}  // namespace

std::string quoted_text(std::string_view text)
{
    StringOut out;
    listing::put_quoted(out, text);
    return out.text;
}

std::string xml_escaped(std::string_view text)
{
    StringOut out;
    listing::put_xml_escaped(out, text);
    return out.text;
}

std::string cut_line(std::string_view line, std::size_t width)
{
    listing::Line cut;
    cut.add(line);
    cut.cut(width);
    return std::string(cut.view());
}

std::string value_text(const PropertyValue& value, bool hexadecimal)
{
    StringOut out;
    listing::put_value(out, value, hexadecimal);
    return out.text;
}
