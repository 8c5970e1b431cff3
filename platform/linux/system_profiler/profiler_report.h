// The platform's power report, SPPowerDataType: the device's batteries, its power
// settings' groups, its UPS and its charger, as text or as JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

#include "power_supply.h"
#include "stand_in.h"

// What a command line asks for: the report as text or as JSON, or the data types there are.
enum class ProfilerForm : std::uint8_t { text, json, data_types };

// The one line that names what there is, for any other command line.
inline constexpr char PROFILER_USAGE[] =
    "usage: system_profiler [-json] [-detailLevel mini | basic | full] SPPowerDataType | -listDataTypes"
    " (this system_profiler knows SPPowerDataType only, and no -xml)\n";

// Gives the form that `argv` names, its options before or after the data type; nothing for
// any other command line.
std::optional<ProfilerForm> parse_profiler_form(int argc, char* argv[]);

// Gives what the report needs read: the battery's details but none that only the registry
// lists, the UPSes, what a charger delivers; an adapter's `online` decides the source.
ReadPlan profiler_plan();

// Writes the data types there are to `out`.
void print_data_types(std::FILE* out);

// Writes the report of `sources` to `out` in `form`, with the keys that `era`'s release
// printed. Its level is the one powmeter prints through ioreg.
void print_profiler(std::FILE* out, ProfilerForm form, const PowerSources& sources, Era era);
