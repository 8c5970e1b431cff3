// Writes the chosen part of the registry tree as the platform's text listing or as an XML
// property list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "registry_tree.h"
#include "registry_view.h"

// Writes `listing` to `out` in the form `options` asks for, one line at a time. Text: object
// lines with the tree's columns, and the properties of the objects that `options` shows
// between braces. XML (-a): a property list of the one root's dictionary, or with -r an
// array of one dictionary per root; nothing when -r found no root. Object names are made
// safe as texts are. Whether every write succeeded is left to `out`'s error flag.
void print_listing(std::FILE* out, const Listing& listing, const ListingOptions& options);

// The forms of single pieces, as the listing writes them; for tests and fuzzing.

// Gives `text` safe between the double quotes of a listing: a double quote becomes ', a
// backslash /, and every byte that is not printable ASCII (control characters, DEL, and
// all bytes from 0x80 up) ?. So no text can end its quotes or its line.
std::string quoted_text(std::string_view text);

// Gives `text` safe as XML character data: &, < and > as entities, and every byte that is
// not printable ASCII ?, so that the result is valid XML 1.0 in any encoding.
std::string xml_escaped(std::string_view text);

// Gives `line` cut to `width` characters: the first width - 1 and a `$`, when it is longer.
// Escape sequences take no width and are all kept. A width of 0 cuts nothing.
std::string cut_line(std::string_view line, std::size_t width);

// Gives a value as the text form prints it: a number as the unsigned 64-bit decimal of its
// bit pattern (or 0x and lower-case hexadecimal digits), Yes or No, a quoted text, or a
// dictionary inline with no blanks, {"Key"=value,"Other"=value}.
std::string value_text(const PropertyValue& value, bool hexadecimal);
