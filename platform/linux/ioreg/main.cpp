// ioreg for Linux: lists the device's power sources from the kernel's power-supply class as
// the platform's I/O Registry listing tool lists its registry, so that the battery lines
// written for that tool work here.
#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

#include "power_supply.h"
#include "registry_printer.h"
#include "registry_tree.h"
#include "registry_view.h"
#include "stand_in.h"

namespace {

constexpr char USAGE[] =
    "usage: ioreg [-abfilrsStx] [-c class] [-d depth] [-k key] [-n name] [-p plane] [-w width]\n";

// The stand-in's state for one run: large, and so neither on the stack nor copied.
PowerSources sources;
RegistryTree tree;

}  // namespace

int main(int argc, char* argv[])
{
    std::optional<ListingOptions> options = parse_listing_options(argc, argv);
    if (!options) {
        std::fputs(USAGE, stderr);
        return 1;
    }
    // Widths and bold are for a person at a terminal; a pipe gets whole, plain lines. Only a
    // terminal has a window size to tell.
    winsize size{};
    const bool terminal = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0;
    if (!options->width && terminal)
        options->width = size.ws_col;
    options->bold = options->bold && terminal;

    const std::optional<Era> era = named_era("ioreg");
    if (!era || !read_named_sources("ioreg", sources, ReadPlan{}))
        return 1;
    build_registry_tree(sources, tree, era_named() ? era : std::nullopt);
    const Listing listing = choose_listing(tree.root(), *options);
    print_listing(stdout, listing, *options);
    return output_arrived("ioreg") ? 0 : 1;
}
