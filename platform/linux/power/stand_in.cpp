#include "stand_in.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

void say(const char* command, const char* text)
{
    std::fputs(command, stderr);
    std::fputs(text, stderr);
}

}  // namespace

bool read_named_sources(const char* command, PowerSources& sources, const ReadPlan& plan)
{
    // SYSFS_PATH moves the whole of /sys, as other sysfs tools let it.
    const char* named_root = std::getenv("SYSFS_PATH");
    const bool named = named_root != nullptr && *named_root != '\0';
    read_power_sources(named ? named_root : "/sys", sources, plan);
    if (sources.failure) {
        say(command, ": cannot read ");
        errno = sources.failure->error;
        std::perror(sources.failure->path.data());
        return false;
    }
    // A real /sys may lack the class; a tree named by hand that lacks it is a mistake.
    if (named && !sources.class_found) {
        say(command, ": SYSFS_PATH ");
        say(named_root, " has no class/power_supply folder\n");
        return false;
    }
    return true;
}

std::optional<Era> named_era(const char* command)
{
    const char* const named = std::getenv("POWMETER_ERA");
    const std::string_view era = named != nullptr ? named : "";
    if (era.empty() || era == "2016")
        return Era::year2016;
    if (era == "2012")
        return Era::year2012;
    if (era == "2021")
        return Era::year2021;
    say(command, ": POWMETER_ERA must be 2012, 2016 or 2021 (unset or empty: 2016)\n");
    return std::nullopt;
}

bool era_named()
{
    const char* const named = std::getenv("POWMETER_ERA");
    return named != nullptr && *named != '\0';
}

bool output_arrived(const char* command)
{
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0)
        return true;
    // Worded as powmeter words it, so that one pattern catches lost output from any of the
    // four; writing the name may itself touch errno, so the cause is kept first.
    const int cause = errno;
    say(command, ": ");
    errno = cause;
    std::perror("cannot write standard output");
    return false;
}
