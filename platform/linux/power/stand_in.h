// What every stand-in does around its own output: where sysfs is, reading it under one fault
// model, and telling whether the output arrived.
#pragma once

#include <cstdint>
#include <optional>

#include "power_supply.h"

// Which generation of the platform's laptops the stand-ins print as, for the scripts
// written for it: 2012 before the raw capacities and the nested dictionaries, 2016 with
// them and capacities in mAh, 2021 with CurrentCapacity in percent of a MaxCapacity of 100.
enum class Era : std::uint8_t { year2012, year2016, year2021 };

// Gives the generation that POWMETER_ERA names, 2016 when it is unset or empty. Nothing,
// after one line on standard error that begins with `command` and names the values, for
// any other value.
std::optional<Era> named_era(const char* command);

// Gives whether POWMETER_ERA names a generation, rather than being unset or empty. Unset,
// the stand-ins print as 2016, but ioreg lets each peripheral be found by the name of every
// generation, since a script of any of them may be the one asking.
bool era_named();

// Reads, as `plan` asks, the power sources below the folder that SYSFS_PATH names (unset or
// empty: /sys). False, after one line on standard error that begins with `command`, when
// something that decides them exists but cannot be read, or when a folder named by hand has
// no power-supply class: a listing without them would be taken for the truth.
bool read_named_sources(const char* command, PowerSources& sources, const ReadPlan& plan);

// Flushes standard output. False, after the line "COMMAND: cannot write standard output:
// REASON" on standard error, when something written did not arrive.
bool output_arrived(const char* command);
