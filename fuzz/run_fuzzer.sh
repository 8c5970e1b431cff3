#!/bin/sh
# Runs one fuzzer for POWMETER_FUZZ_SECONDS (60 by default) from its committed seeds; any
# finding fails, and leaves its reproducer in the work folder.
#   run_fuzzer.sh FUZZER SEEDS WORK
set -u
fuzzer=$1 seeds=$2 work=$3
rm -rf "$work"
mkdir -p "$work/corpus" || exit 1
cd "$work" || exit 1
exec "$fuzzer" -max_total_time="${POWMETER_FUZZ_SECONDS:-60}" -max_len=8192 -print_final_stats=1 \
  -artifact_prefix="$work/" corpus "$seeds"
