#!/bin/sh
# Runs the README's console examples that read a sample tree, from the source folder, as a
# newcomer pastes them, and checks that each prints what the README shows.
#   readme_examples.sh SOURCE_DIR BUILD_DIR WORK
# In the ```console blocks that name examples/, each line "$ command" is run, all in one
# shell as one terminal would, and the lines up to the next command are its expected
# output. build/default in the commands stands for BUILD_DIR. No command may need sudo.
set -u
source=$1 build=$2 work=$3
rm -rf "$work" && mkdir -p "$work" || exit 1

# Root's commands are written as root runs them: a minimal system or a container has no sudo.
if grep -nE '^(\$ )?sudo |[;&|] *sudo ' "$source/README.md"; then
  echo "the README's commands above need sudo"
  exit 1
fi

awk -v build="$build" '
  /^```console$/ { inside = 1; text = ""; next }
  /^```$/ && inside { inside = 0; if (text ~ /examples\//) printf "%s", text; next }
  inside { gsub(/\$PWD\/build\/default/, build); text = text $0 "\n" }
' "$source/README.md" >"$work/examples"
[ -s "$work/examples" ] || { echo "no console example names a sample tree"; exit 1; }

# Each command, then a marker line, so that the outputs can be told apart.
sed -n 's/^\$ \(.*\)$/\1; echo "@@@ end of example"/p' "$work/examples" >"$work/examples.sh"
awk 'NR > 1 && /^\$ / { print "@@@ end of example" } !/^\$ / { print } END { print "@@@ end of example" }' \
  "$work/examples" >"$work/expected"
(cd "$source" && env -i HOME="$work" PATH=/usr/bin:/bin sh "$work/examples.sh") >"$work/actual" 2>&1
if ! cmp -s "$work/expected" "$work/actual"; then
  echo "the README's examples differ from what they print (README, then actual):"
  diff "$work/expected" "$work/actual"
  echo "folder kept: $work"
  exit 1
fi
rm -rf "$work"
