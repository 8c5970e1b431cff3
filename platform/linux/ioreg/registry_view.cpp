#include "registry_view.h"

#include <algorithm>
#include <charconv>

#include <cstdio>

#include <unistd.h>

namespace {

std::optional<std::size_t> count_from(const char* text)
{
    const std::string_view digits = text;
    std::size_t value = 0;
    const char* end = digits.data() + digits.size();
    // NOLINTNEXTLINE(bugprone-suspicious-stringview-data-usage): from_chars is given the end too.
    const auto [stop, error] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

bool has_criteria(const ListingOptions& options)
{
    return options.class_name || options.name || options.key;
}

void collect_matches(const RegistryObject& object, const ListingOptions& options, Listing& found)
{
    if (matches(object, options)) {
        found.roots[found.root_count++] = &object;
        return;
    }
    for (std::size_t i = 0; i < object.child_count; ++i)
        collect_matches(object.children[i], options, found);
}

}  // namespace

std::optional<ListingOptions> parse_listing_options(int argc, char* argv[])
{
    ListingOptions options;
    // 0 starts getopt afresh in glibc and musl, so that it can parse more than once.
    optind = 0;
    for (int option = 0; (option = getopt(argc, argv, "abc:d:fik:ln:p:rsStw:x")) != -1;) {
        switch (option) {
        case 'a': options.xml = true; break;
        case 'b': options.bold = true; break;
        case 'c': options.class_name = optarg; break;
        case 'k': options.key = optarg; break;
        case 'l': options.all_properties = true; break;
        case 'n': options.name = optarg; break;
        case 'p': options.service_plane = std::string_view(optarg) == "IOService"; break;
        case 'r': options.as_roots = true; break;
        case 's': options.state = true; break;
        case 'S': options.state = false; break;
        case 'x': options.hexadecimal = true; break;
        // Smarter formats, class inheritance and tree location: nothing here to show them on.
        case 'f': case 'i': case 't': break;
        case 'd':
        case 'w': {
            const std::optional<std::size_t> count = count_from(optarg);
            if (!count) {
                // getopt names an unknown option or a missing argument itself; this it cannot.
                std::fprintf(stderr, "ioreg: -%c takes a whole number, not '%s'\n", option, optarg);
                return std::nullopt;
            }
            if (option == 'd')
                options.depth = *count;
            else
                options.width = count;
            break;
        }
        default: return std::nullopt;
        }
    }
    // The tool takes no operands, wherever they stand.
    if (optind != argc) {
        std::fprintf(stderr, "ioreg: takes no operands, but was given '%s'\n", argv[optind]);
        return std::nullopt;
    }
    return options;
}

bool matches(const RegistryObject& object, const ListingOptions& options)
{
    if (!has_criteria(options))
        return false;
    // The lineage's empty tail is no class, so an empty -c matches nothing.
    if (options.class_name && (options.class_name->empty() ||
                               std::find(object.lineage.begin(), object.lineage.end(),
                                         *options.class_name) == object.lineage.end()))
        return false;
    if (options.name && !object.answers_to(*options.name))
        return false;
    return !options.key || object.find(*options.key) != nullptr;
}

bool shows_properties(const RegistryObject& object, const ListingOptions& options)
{
    return options.all_properties || matches(object, options);
}

Listing choose_listing(const RegistryObject& tree, const ListingOptions& options)
{
    Listing listing;
    listing.depth = options.depth;
    if (!options.service_plane) {
        // The other planes exist, but nothing here is attached to them.
        listing.depth = 1;
        if (!options.as_roots)
            listing.roots[listing.root_count++] = &tree;
    } else if (options.as_roots && has_criteria(options)) {
        collect_matches(tree, options, listing);
    } else {
        listing.roots[listing.root_count++] = &tree;
    }
    return listing;
}
