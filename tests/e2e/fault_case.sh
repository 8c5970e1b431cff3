#!/bin/sh
# Runs a command twice, once as it is and once with one system call failed by strace, and
# checks what the failure did to it.
#
#   fault_case.sh WORK TREE TARGET CALL ERRNO STATUS STDOUT REASON -- COMMAND...
#
# WORK    folder for this case; removed again when the case passes
# TREE    the sysfs folder for SYSFS_PATH; "unset" or "empty" for no or an empty SYSFS_PATH,
#         which both mean /sys
# TARGET  the file or folder whose call fails, below the tree's class/power_supply ("." for
#         that folder itself)
# CALL    the call that fails: openat, read, %fstat or getdents64; the first such call on
#         TARGET fails (an openat relative to TARGET's folder counts as one on TARGET)
# ERRNO   the error it fails with, as EIO
# STATUS  the exit status the failed run must end with
# STDOUT  "empty"; "without:KEY,KEY..." for the listing's property lines less those keys'
#         (every other number as it was; "without:" for all of them); or the exact bytes,
#         with printf %b escapes
# REASON  empty for no standard error; else it must be the one line
#         "COMMAND: cannot read TARGET: REASON"
set -u
work=$1 tree=$2 target=$3 call=$4 errno=$5 status=$6 stdout=$7 reason=$8
shift 9

rm -rf "$work"
mkdir -p "$work/bin" || exit 1
cp "${STAND_IN_IOREG:?}" "$work/bin/ioreg" && cp "${STAND_IN_PMSET:?}" "$work/bin/pmset" &&
  cp "${STAND_IN_SYSTEM_PROFILER:?}" "$work/bin/system_profiler" || exit 1
# powmeter's failures are its ioreg's.
case $(basename "$1") in pmset | system_profiler) command=$(basename "$1") ;; *) command=ioreg ;; esac
strace -qq -o /dev/null true || { echo "strace cannot trace here"; exit 77; }
case $tree in
unset) set -- env -u SYSFS_PATH "$@" && tree=/sys ;;
empty) set -- env SYSFS_PATH= "$@" && tree=/sys ;;
*) tree=$(cd "$tree" && pwd) && set -- env SYSFS_PATH="$tree" "$@" ;;
esac
target=$tree/class/power_supply/$target
target=${target%/.}
parent=$(dirname "$target")
# LeakSanitizer stops the world with ptrace, which strace already holds.
run() {
  env -i PATH="$work/bin:/usr/bin:/bin" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} \
    strace -f -qq -y -P "$target" -P "$parent" -e trace="$call" "$@" </dev/null
}

run -o "$work/trace" "$@" >"$work/before.out" 2>"$work/before.err"
when=$(grep -n -m 1 -F -e "<$target>" -e "<$parent>, \"$(basename "$target")\"" -e "\"$target\"" \
  "$work/trace" | cut -d: -f1)
[ -n "$when" ] || { echo "no $call on $target in:"; cat "$work/trace"; exit 1; }
run -o /dev/null -e inject="$call:error=$errno:when=$when" "$@" >"$work/after.out" 2>"$work/after.err"
actual=$?

failed=
[ "$actual" -eq "$status" ] || { echo "exit status: expected $status, got $actual"; failed=yes; }
# The listing's property lines without their columns, a dictionary's entries a line each.
properties() { grep '" = ' "$1" | sed -e 's/^[ |]*//' -e 's/{/\n{\n/' -e 's/}$/\n}/' -e 's/,"/\n"/g'; }
case $stdout in
empty) : >"$work/expected.out" ;;
without:*)
  keys=$(printf '%s' "${stdout#without:}" | sed 's/,/|/g')
  properties "$work/before.out" | grep -v -E "^\"($keys)\" ?= ?" >"$work/expected.out"
  [ -z "$keys" ] || [ "$(properties "$work/before.out" | grep -c -E "^\"($keys)\" ?= ?")" -gt 0 ] ||
    { echo "the listing had no $keys to leave out"; failed=yes; }
  properties "$work/after.out" >"$work/after.properties"
  mv "$work/after.properties" "$work/after.out" ;;
*) printf '%b' "$stdout" >"$work/expected.out" ;;
esac
if ! cmp -s "$work/expected.out" "$work/after.out"; then
  echo "standard output differs:"
  diff "$work/expected.out" "$work/after.out"
  failed=yes
fi
: >"$work/expected.err"
[ -z "$reason" ] || printf '%s: cannot read %s: %s\n' "$command" "$target" "$reason" >"$work/expected.err"
if ! cmp -s "$work/expected.err" "$work/after.err"; then
  echo "standard error differs (expected, then actual):"
  cat "$work/expected.err" "$work/after.err"
  failed=yes
fi
if [ -n "$failed" ]; then
  echo "case folder kept: $work"
  exit 1
fi
rm -rf "$work"
