// system_profiler for Linux: the platform's power report, SPPowerDataType, from the
// kernel's power-supply class, so that the battery scripts that read it work here.
#include <cstdio>

#include "profiler_report.h"
#include "stand_in.h"

namespace {

// Large, and so neither on the stack nor copied.
PowerSources sources;

}  // namespace

int main(int argc, char* argv[])
{
    const std::optional<ProfilerForm> form = parse_profiler_form(argc, argv);
    if (!form) {
        std::fputs(PROFILER_USAGE, stderr);
        return 1;
    }
    if (*form == ProfilerForm::data_types) {
        print_data_types(stdout);
        return output_arrived("system_profiler") ? 0 : 1;
    }
    const std::optional<Era> era = named_era("system_profiler");
    if (!era || !read_named_sources("system_profiler", sources, profiler_plan()))
        return 1;
    print_profiler(stdout, *form, sources, *era);
    return output_arrived("system_profiler") ? 0 : 1;
}
