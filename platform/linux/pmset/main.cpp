// pmset for Linux: the read-only forms of the platform's power management tool that battery
// scripts read, from the kernel's power-supply class, so that those scripts work here.
#include <cstdio>

#include "pmset_report.h"
#include "stand_in.h"

namespace {

// Large, and so neither on the stack nor copied.
PowerSources sources;

}  // namespace

int main(int argc, char* argv[])
{
    const std::optional<PmsetForm> form = parse_pmset_form(argc, argv);
    if (!form) {
        std::fputs(PMSET_USAGE, stderr);
        return 1;
    }
    const std::optional<Era> era = named_era("pmset");
    if (!era || !read_named_sources("pmset", sources, pmset_plan(*form)))
        return 1;
    print_pmset(stdout, *form, sources, *era);
    return output_arrived("pmset") ? 0 : 1;
}
