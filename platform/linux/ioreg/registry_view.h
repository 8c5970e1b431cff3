// Chooses, from ioreg's command line, which objects of the registry tree are listed, how
// deep, and which of them show their properties.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "registry_tree.h"

// What the command line asks for. The output's own forms (-a, -b, -w, -x, -s, -S) ride
// along for the printers.
struct ListingOptions {
    bool all_properties = false;                // -l
    std::optional<std::string_view> class_name;  // -c
    std::optional<std::string_view> name;        // -n
    std::optional<std::string_view> key;         // -k
    bool as_roots = false;                       // -r
    std::size_t depth = 0;                       // -d; 0 lists every level
    std::optional<std::size_t> width;            // -w; 0 cuts no line
    bool xml = false;                            // -a
    bool bold = false;                           // -b
    bool hexadecimal = false;                    // -x
    bool state = true;                           // -s, -S
    bool service_plane = true;                   // -p: IOService is the one plane with objects
};

// Gives the options that `argv` names, parsed as getopt parses them; nothing, after one line
// on standard error that says what was wrong, for an unknown option, a missing or
// non-numeric argument, or a word that is no option.
std::optional<ListingOptions> parse_listing_options(int argc, char* argv[]);

// Gives whether `object` is one that -c, -n and -k all ask for; false when none is given.
bool matches(const RegistryObject& object, const ListingOptions& options);

// Gives whether `object` is listed with its properties.
bool shows_properties(const RegistryObject& object, const ListingOptions& options);

// The trees to list, one after the other, and how many levels of each.
struct Listing {
    std::array<const RegistryObject*, MOST_OBJECTS> roots{};
    std::size_t root_count = 0;
    std::size_t depth = 0;  // 0: every level

    // Gives whether the children of an object at `level` (1 for a root) are listed.
    bool lists_below(std::size_t level) const { return depth == 0 || level < depth; }
};

// Gives what to list of `tree`: the whole of it, or with -r each matching object (and none
// found inside another) as a root of its own; another plane lists only the root, or nothing.
Listing choose_listing(const RegistryObject& tree, const ListingOptions& options);
