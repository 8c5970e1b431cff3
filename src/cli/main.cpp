// powmeter: prints the battery's charge as a whole percentage, read from the registry listing.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "capacity_query.h"
#include "level_report.h"

namespace {

[[noreturn]] void print_usage()
{
    std::puts("Usage:");
    std::puts("powmeter");
    std::fputs("...", stdout);
    std::puts("powmeter -v for verbose");
    std::puts("THE END");
    // exit, not _exit, so that the usage text is flushed.
    std::exit(1);
}

}  // namespace

int main(int argc, char* argv[])
{
    bool verbose = false;
    if (argc > 2)
        print_usage();
    if (argc == 2) {
        if (std::strcmp(argv[1], "-v") != 0)
            print_usage();
        verbose = true;
    }

    // nothrow, so that running out of memory is a message like any other failed stage.
    const std::unique_ptr<char[]> capacity_text(new (std::nothrow) char[CAPACITY_TEXT_SIZE]);
    if (!capacity_text) {
        std::puts("Failed to allocate memory");
        return 0;
    }
    std::memset(capacity_text.get(), 0, CAPACITY_TEXT_SIZE);

    if (!read_capacity_text(capacity_text.get())) {
        std::puts("Failed to process ioreg");
        return 0;
    }

    const auto current_capacity = extract_capacity(capacity_text.get(), CURRENT_CAPACITY_KEY);
    if (!current_capacity) {
        std::puts("Failed to parse current battery data");
        return 0;
    }

    // A maximum of 0 has no level to give, so it is as unusable as a missing one.
    const auto maximum_capacity = extract_capacity(capacity_text.get(), MAXIMUM_CAPACITY_KEY);
    if (!maximum_capacity || *maximum_capacity == 0) {
        std::puts("Failed to parse battery capacity data");
        return 0;
    }

    print_battery_report(*current_capacity, *maximum_capacity, verbose);
    return 0;
}
