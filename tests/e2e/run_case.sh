#!/bin/sh
# Runs one end-to-end case of a built program and checks exactly what it did.
#
#   run_case.sh WORK LISTING MODE STATUS STDOUT STDERR_LINES -- COMMAND...
#
# WORK          folder for this case; made afresh, and removed again when the case passes
# LISTING       what the fake ioreg prints, from listings/; "none" to leave ioreg off PATH;
#               "sysfs=TREE" for the Linux stand-ins $STAND_IN_IOREG, _PMSET, _SYSTEM_PROFILER reading
#               the folder TREE
# MODE          how it prints it (see fake-ioreg), behind any of these prefixes:
#               "sigpipe-ignored:" starts COMMAND with SIGPIPE ignored, as some service
#               managers do; "stdout-full:" and "stdout-closed:" give COMMAND /dev/full or
#               no standard output at all, and STDOUT must then be empty
# STATUS        the exit status COMMAND must end with
# STDOUT        the exact bytes COMMAND must print, with printf %b escapes
# STDERR_LINES  an extended regular expression that every line on standard error must
#               match, for lines that the shell itself writes; empty means no stderr at all
# COMMAND       the program with its arguments, behind any emulator that runs it
set -u
work=$1 listing=$2 mode=$3 status=$4 stdout=$5 stderr_lines=$6
shift 7

here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work/bin" || exit 1

# A narrowed PATH: only what the query pipeline and the fake need, and the fake ioreg first.
for tool in grep tr cat sleep awk sed cut head tail jq; do
  ln -s "$(command -v "$tool")" "$work/bin/$tool" || exit 1
done
# The interpreter itself: a version manager's shim would need the environment scrubbed here.
ln -s "$(python3 -c 'import sys; print(sys.executable)')" "$work/bin/python3" || exit 1
sysfs=
case $listing in
none) ;;
sysfs=*) sysfs=${listing#sysfs=} && cp "${STAND_IN_IOREG:?}" "$work/bin/ioreg" &&
  cp "${STAND_IN_PMSET:?}" "$work/bin/pmset" &&
  cp "${STAND_IN_SYSTEM_PROFILER:?}" "$work/bin/system_profiler" || exit 1 ;;
*) cp "$here/fake-ioreg" "$work/bin/ioreg" || exit 1 ;;
esac

ignore_sigpipe= output=file
while :; do
  case $mode in
  sigpipe-ignored:*) ignore_sigpipe=yes mode=${mode#*:} ;;
  stdout-full:*) output=full mode=${mode#*:} ;;
  stdout-closed:*) output=closed mode=${mode#*:} ;;
  *) break ;;
  esac
done

printf '%b' "$stdout" >"$work/expected.out"
: >"$work/actual.out"
(
  [ -z "$ignore_sigpipe" ] || trap '' PIPE
  case $output in
  file) exec >"$work/actual.out" ;;
  full) exec >/dev/full ;;
  closed) exec >&- ;;
  esac
  exec env -i PATH="$work/bin" FAKE_IOREG_LISTING="$here/listings/$listing" \
    FAKE_IOREG_MODE="$mode" FAKE_IOREG_ENDED="$work/ioreg-ended" ${sysfs:+SYSFS_PATH="$sysfs"} \
    ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} \
    "$@" </dev/null 2>"$work/actual.err"
)
actual_status=$?

failed=
if [ "$actual_status" -ne "$status" ]; then
  echo "exit status: expected $status, got $actual_status"
  failed=yes
fi
if ! cmp -s "$work/expected.out" "$work/actual.out"; then
  echo "standard output differs (expected, then actual):"
  od -c "$work/expected.out"
  od -c "$work/actual.out"
  failed=yes
fi
# An endless fake marks its end only after a pause, so the mark shows that COMMAND waited.
if [ "$mode" = endless ] && [ ! -e "$work/ioreg-ended" ]; then
  echo "the query pipeline was still running when the command ended"
  failed=yes
fi
if [ -z "$stderr_lines" ]; then
  unexpected=$(cat "$work/actual.err")
else
  unexpected=$(grep -v -E "$stderr_lines" "$work/actual.err")
fi
# Every message is a whole line, its line feed included.
[ -z "$(tail -c 1 "$work/actual.err")" ] || unexpected="$unexpected
(the last line has no line feed)"
if [ "$output" != file ] && [ ! -s "$work/actual.err" ]; then
  echo "standard error is empty, but the lost output must be named there"
  failed=yes
fi
if [ -n "$unexpected" ]; then
  echo "unexpected standard error:"
  printf '%s\n' "$unexpected"
  failed=yes
fi

if [ -n "$failed" ]; then
  echo "case folder kept: $work"
  exit 1
fi
rm -rf "$work"
