#!/bin/sh
# Source installs. uninstall: taken back with tools/uninstall, a prefix that the install
# created goes entirely; one that held an empty shared folder keeps just that, after two
# installs too. install.root_first: `sudo cmake --install` from a user's fresh tree leaves
# nothing of root's there, and the user's cpack still works (only root can play both; 77
# elsewhere).
#   uninstall.sh uninstall|install.root_first CMAKE BUILD_DIR UNINSTALL CPACK
set -eu
case=$1 cmake=$2 build=$3 uninstall=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "$*" >&2
  exit 1
}

if [ "$case" = install.root_first ]; then
  # nobody plays the user, in a copy of the tree without CMake's install_manifest.txt.
  [ "$(id -u)" -eq 0 ] || exit 77
  chmod 755 "$work" && cp -a "$build" "$work/tree" && rm -f "$work/tree/install_manifest.txt"
  grep -rlF "$build" --include='*.cmake' "$work/tree" | xargs sed -i "s|$build|$work/tree|g"
  chown -R 65534:65534 "$work/tree" && "$cmake" --install "$work/tree" --prefix "$work/root" >/dev/null
  cd "$work/tree" && setpriv --reuid=65534 --regid=65534 --clear-groups "$5" -G TGZ \
    --config CPackConfig.cmake >/dev/null || fail "the user's cpack failed after a root install"
  [ -z "$(find . -user 0)" ] || fail "root's in the user's tree: $(find . -user 0)"
  exit 0
fi

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
