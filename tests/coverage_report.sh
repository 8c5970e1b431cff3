#!/bin/sh
# Prints line and branch coverage of the product and the stand-in, file by file, then the
# figures of src/ and platform/linux/ as a whole, and fails unless the tests ran every line
# of the product.
#   coverage_report.sh GCOVR SOURCE_DIR BUILD_DIR
set -u
gcovr=$1 source=$2 build=$3
set -- "$gcovr" --root "$source" --object-directory "$build" \
  --exclude-directories ".*/CMakeFiles/[0-9.]*/.*" --exclude-throw-branches --exclude-unreachable-branches
"$@" --filter "$source/src/" --filter "$source/platform/" &&
  "$@" --filter "$source/src/" --filter "$source/platform/" --branches || exit
status=0
for dir in src platform/linux; do
  check=
  [ "$dir" = src ] && check="--fail-under-line 100"
  # The summary follows the table. (gcovr replaces an --output file, /dev/null too.)
  # shellcheck disable=SC2086
  figures=$("$@" --filter "$source/$dir/" --print-summary $check) || status=$?
  printf '%-16s %s\n' "$dir/" "$(printf '%s\n' "$figures" | grep -E '^(lines|branches): ' | paste -sd ' ')"
done
[ "$status" -ne 2 ] || echo "coverage: the tests leave lines of src/ unrun" >&2
exit "$status"
