// ioreg for Linux: lists the device's power sources from the kernel's power-supply class as
// the platform's I/O Registry listing tool lists its registry, so that the battery lines
// written for that tool work here.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <sys/ioctl.h>
#include <unistd.h>

#include "power_supply.h"
#include "registry_printer.h"
#include "registry_tree.h"
#include "registry_view.h"

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

    // SYSFS_PATH moves the whole of /sys, as other sysfs tools let it.
    const char* named_root = std::getenv("SYSFS_PATH");
    const bool named = named_root != nullptr && *named_root != '\0';
    read_power_sources(named ? named_root : "/sys", sources);
    // A listing without what could not be read would be taken for the truth: list nothing.
    if (sources.failure) {
        std::fputs("ioreg: cannot read ", stderr);
        errno = sources.failure->error;
        std::perror(sources.failure->path.data());
        return 1;
    }
    // A real /sys may lack the class; a tree named by hand that lacks it is a mistake.
    if (named && !sources.class_found) {
        std::fputs("ioreg: SYSFS_PATH ", stderr);
        std::fputs(named_root, stderr);
        std::fputs(" has no class/power_supply folder\n", stderr);
        return 1;
    }

    build_registry_tree(sources, tree);
    const Listing listing = choose_listing(tree.root(), *options);
    print_listing(stdout, listing, *options);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::perror("ioreg: standard output");
        return 1;
    }
    return 0;
}
