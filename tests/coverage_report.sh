#!/bin/sh
# Prints line and branch coverage of the product and the stand-in, and fails unless the
# tests ran every line of the product.
#   coverage_report.sh GCOVR SOURCE_DIR BUILD_DIR
set -u
gcovr=$1 source=$2 build=$3
set -- "$gcovr" --root "$source" --object-directory "$build" \
  --exclude-directories ".*/CMakeFiles/[0-9.]*/.*" --exclude-throw-branches --exclude-unreachable-branches
"$@" --filter "$source/src/" --filter "$source/platform/" &&
  "$@" --filter "$source/src/" --filter "$source/platform/" --branches --print-summary &&
  "$@" --filter "$source/src/" --fail-under-line 100 >/dev/null
