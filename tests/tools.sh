#!/bin/sh
# The small tools in tools/. help: every one answers --help with its usage on standard
# output, naming itself, and exit status 0, and does nothing else. first_run: the two lines
# that tools/first-run ends with, typed into a fresh shell outside the checkout, give the
# same output to the commands it showed, for a build folder whose name needs quoting too.
#   tools.sh help|first_run SOURCE_DIR BUILD_DIR
set -u
case=$1 source=$2 build=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "$*" >&2
  exit 1
}

if [ "$case" = help ]; then
  # Copies, which find no checkout around them: a tool that took --help for work to do
  # fails there rather than build, mutate or install anything.
  cp -p "$source"/tools/* "$work" || exit 1
  for tool in "$work"/*; do
    [ -x "$tool" ] || continue
    name=tools/$(basename "$tool")
    "$tool" --help >"$work/out" 2>"$work/err" || fail "$name --help: exit status $?"
    [ ! -s "$work/err" ] || fail "$name --help wrote on standard error: $(cat "$work/err")"
    grep -qF "$name" "$work/out" || fail "$name --help does not name it: $(cat "$work/out")"
  done
  exit 0
fi

ln -s "$build" "$work/it's built" || exit 1
"$source/tools/first-run" "$work/it's built" >"$work/shown" || fail "tools/first-run failed"
tail -n 2 "$work/shown" >"$work/replay.sh"
sed -n 's/^\$ \(.*\)$/echo "$ \1"; \1; echo/p' "$work/shown" >>"$work/replay.sh"
sed -n '/^\$ /,$p' "$work/shown" | head -n -3 >"$work/expected"
(cd / && env -i HOME="$work" PATH=/usr/bin:/bin sh "$work/replay.sh") >"$work/actual" 2>&1
if ! cmp -s "$work/expected" "$work/actual"; then
  echo "typed after first-run's last two lines, its commands print otherwise (shown, then typed):"
  diff "$work/expected" "$work/actual"
  echo "the two lines:"
  cat "$work/shown" | tail -n 2
  exit 1
fi
