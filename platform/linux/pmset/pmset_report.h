// The read-only forms of the platform's pmset that battery scripts use: where the power
// comes from, the device's batteries as one line, the charger, and the UPSes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

#include "power_supply.h"
#include "stand_in.h"

// What a command line asks for: `-g batt` and `-g ps` the source and the battery line,
// `-g ac` and `-g adapter` the charger, `-g accps` the battery line and the UPSes.
enum class PmsetForm : std::uint8_t { batteries, adapter, with_upses };

// The one line that names the forms there are, for any other command line.
inline constexpr char PMSET_USAGE[] =
    "usage: pmset -g batt | ps | ac | adapter | accps (this pmset only reads; it changes nothing)\n";

// Gives the form that `argv` names; nothing for any other command line, since every other
// form of the platform's pmset changes a setting or reports what Linux does not have.
std::optional<PmsetForm> parse_pmset_form(int argc, char* argv[]);

// Gives what `form` needs read: the adapters' `online` decides the source line.
ReadPlan pmset_plan(PmsetForm form);

// Writes `form` for `sources` to `out`, as `era`'s release printed it. The level is the one
// powmeter prints through ioreg.
void print_pmset(std::FILE* out, PmsetForm form, const PowerSources& sources, Era era);
