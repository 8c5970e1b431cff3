// ioreg for Linux: lists the device's battery from the kernel's power-supply class in the
// form of the platform's I/O Registry listing, so that tools reading that listing work here.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "power_supply.h"

int main(int argc, char* argv[])
{
    if (argc > 2 || (argc == 2 && std::strcmp(argv[1], "-l") != 0)) {
        std::fputs("usage: ioreg [-l]\n", stderr);
        return 1;
    }
    // SYSFS_PATH moves the whole of /sys, as other sysfs tools let it.
    const char* sysfs_root = std::getenv("SYSFS_PATH");
    if (sysfs_root == nullptr || *sysfs_root == '\0')
        sysfs_root = "/sys";

    print_registry_listing(stdout, read_power_sources(sysfs_root));
    if (std::fflush(stdout) != 0) {
        std::perror("ioreg: standard output");
        return 1;
    }
    return 0;
}
