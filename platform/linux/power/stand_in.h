// What every stand-in does around its own output: where sysfs is, reading it under one fault
// model, and telling whether the output arrived.
#pragma once

#include "power_supply.h"

// Reads, as `plan` asks, the power sources below the folder that SYSFS_PATH names (unset or
// empty: /sys). False, after one line on standard error that begins with `command`, when
// something that decides them exists but cannot be read, or when a folder named by hand has
// no power-supply class: a listing without them would be taken for the truth.
bool read_named_sources(const char* command, PowerSources& sources, const ReadPlan& plan);

// Flushes standard output. False, after one line on standard error that begins with
// `command`, when something written did not arrive.
bool output_arrived(const char* command);
