// powmeter: prints the battery's charge as a whole percentage, read from the registry listing.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "capacity_query.h"
#include "level_report.h"

namespace {

// Gives `status` once all that was written has reached standard output. Output lost to a
// full disk or a closed standard output is named on standard error and turns a success
// into 2; a usage error keeps its 1.
int checked_exit_status(int status)
{
    // A write that failed before leaves the error flag set, and its errno, since nothing
    // after it has failed; a flush that fails now leaves its own.
    if (std::ferror(stdout) == 0 && std::fflush(stdout) == 0)
        return status;
    std::perror("powmeter: cannot write standard output");
    return status == 0 ? 2 : status;
}

[[noreturn]] void print_usage()
{
    std::puts("Usage:");
    std::puts("powmeter");
    // The dots have no line of their own: they run into the next line.
    std::puts("...powmeter -v for verbose");
    std::puts("THE END");
    std::exit(checked_exit_status(1));
}

}  // namespace

// The language fixes main's signature, whether or not main changes its arguments.
// cppcheck-suppress constParameter
int main(int argc, char* argv[])
{
    bool verbose = false;
    if (argc > 2)
        print_usage();
    if (argc == 2) {
        // The length first, then the two characters; no library call needed for three bytes.
        const char* argument = argv[1];
        if (argument[0] != '-' || argument[1] != 'v' || argument[2] != '\0')
            print_usage();
        verbose = true;
    }

    // nothrow, so that running out of memory is a message like any other failed stage.
    const std::unique_ptr<char[]> capacity_text(new (std::nothrow) char[CAPACITY_TEXT_SIZE]);
    if (!capacity_text) {
        std::puts("Failed to allocate memory");
        return checked_exit_status(0);
    }
    std::memset(capacity_text.get(), 0, CAPACITY_TEXT_SIZE);

    if (!read_capacity_text(capacity_text.get())) {
        std::puts("Failed to process ioreg");
        return checked_exit_status(0);
    }

    const auto current_capacity = extract_capacity(capacity_text.get(), CURRENT_CAPACITY_KEY);
    if (!current_capacity) {
        std::puts("Failed to parse current battery data");
        return checked_exit_status(0);
    }

    // A maximum of 0 has no level to give, so it is as unusable as a missing one.
    const auto maximum_capacity = extract_capacity(capacity_text.get(), MAXIMUM_CAPACITY_KEY);
    if (!maximum_capacity || *maximum_capacity == 0) {
        std::puts("Failed to parse battery capacity data");
        return checked_exit_status(0);
    }

    print_battery_report(*current_capacity, *maximum_capacity, verbose);
    return checked_exit_status(0);
}
