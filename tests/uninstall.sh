#!/bin/sh
# Installs the build twice into a prefix that holds one empty shared folder, takes it back
# with tools/uninstall, and fails unless that folder alone is left.
#   uninstall.sh CMAKE BUILD_DIR UNINSTALL
set -eu
cmake=$1 build=$2 uninstall=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
mkdir -p "$prefix/share/man"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
[ -x "$prefix/bin/powmeter" ] || { echo "nothing installed in $prefix" >&2; exit 1; }
"$uninstall" "$prefix"
left=$(cd "$prefix" && find . -mindepth 1 | sort)
[ "$left" = "./share
./share/man" ] || { printf 'left in the prefix:\n%s\n' "$left" >&2; exit 1; }
