#!/bin/sh
# Source installs taken back with tools/uninstall: a prefix that the install created goes
# entirely; one that held an empty shared folder keeps just that, after two installs too.
#   uninstall.sh CMAKE BUILD_DIR UNINSTALL
set -eu
cmake=$1 build=$2 uninstall=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "$*" >&2
  exit 1
}

"$cmake" --install "$build" --prefix "$work/new" >/dev/null
[ -x "$work/new/bin/powmeter" ] || fail "nothing installed in $work/new"
"$uninstall" "$work/new"
[ ! -e "$work/new" ] || fail "$work/new is still there"

prefix=$work/shared
mkdir -p "$prefix/share/man"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
"$uninstall" "$prefix"
left=$(cd "$prefix" && find . -mindepth 1 | sort)
[ "$left" = "./share
./share/man" ] || fail "left in the prefix: $left"
