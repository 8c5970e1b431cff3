#!/bin/sh
# Source installs. uninstall: taken back with tools/uninstall, a prefix that the install
# created goes entirely; one that held an empty shared folder keeps just that, after two
# installs too. uninstall.installed: the same by the copy the install carries, run alone,
# from outside the checkout, by a user who may not read the checkout (nobody, where root
# runs the test); a run that cannot remove a file keeps what it needs to be run again.
# install.root_first: `sudo cmake --install` from a user's fresh tree leaves nothing of
# root's there, and the user's cpack still works (only root can play both; 77 elsewhere).
#   uninstall.sh uninstall|uninstall.installed|install.root_first CMAKE BUILD_DIR UNINSTALL CPACK SOURCE_DIR native|cross
set -eu
case=$1 cmake=$2 build=$3 uninstall=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "$*" >&2
  exit 1
}

if [ "$case" = install.root_first ]; then
  # nobody plays the user, in a copy of just what an install reads: the build tree's install
  # and package scripts, the files they name there, and those they name in the source folder,
  # which may be one that nobody else can enter, as root's home is. Never the test scripts:
  # they name other tests' work folders, which come and go while this runs.
  [ "$(id -u)" -eq 0 ] || exit 77
  source=$6
  chmod 755 "$work" && mkdir "$work/tree" "$work/source"
  (cd "$build" && find . \( -name cmake_install.cmake -o -name 'CPack*.cmake' \) -exec cp --parents {} "$work/tree" \; 2>/dev/null || true)
  find "$work/tree" -name '*.cmake' -exec grep -ohE '"/[^"$;]+' {} + | cut -c 2- | sort -u | while IFS= read -r path; do
    case $path in
    # The build tree itself is named bare where it lies inside the source folder (the
    # presets' build/NAME): never copied whole, since other tests' work folders are in it.
    "$build" | "$build"/*) [ ! -f "$path" ] || (cd "$build" && cp --parents "${path#"$build"/}" "$work/tree") ;;
    "$source"/*) [ ! -e "$path" ] || (cd "$source" && cp -a --parents "${path#"$source"/}" "$work/source") ;;
    esac
  done
  grep -rlF -e "$build" -e "$source" --include='*.cmake' "$work/tree" | xargs sed -i -e "s|$build|$work/tree|g" -e "s|$source|$work/source|g"
  chown -R 65534:65534 "$work/tree" && "$cmake" --install "$work/tree" --prefix "$work/root" >/dev/null
  cd "$work/tree" && setpriv --reuid=65534 --regid=65534 --clear-groups "$5" -G TGZ \
    --config CPackConfig.cmake >/dev/null || fail "the user's cpack failed after a root install"
  [ -z "$(find . -user 0)" ] || fail "root's in the user's tree: $(find . -user 0)"
  exit 0
fi

if [ "$case" = uninstall.installed ]; then
  # The prefix in a folder of the user's own, which the last rmdir needs to write.
  home=$work/home prefix=$work/home/alone
  mkdir "$home"
  "$cmake" --install "$build" --prefix "$prefix" >/dev/null
  script=$prefix/share/powmeter/uninstall manifest=$prefix/share/powmeter/install_manifest.txt
  grep -qx share/powmeter/uninstall "$manifest" || fail "$manifest does not list the uninstall script"
  as_user=
  if [ "$(id -u)" -eq 0 ]; then
    chmod 755 "$work" && chown -R 65534:65534 "$home"
    as_user="setpriv --reuid=65534 --regid=65534 --clear-groups"
  fi
  take_back() { (cd / && env -i PATH=/usr/bin:/bin $as_user "$script") >/dev/null 2>&1; }
  chmod a-w "$prefix/bin"
  ! take_back || fail "the installed uninstall passed, with bin/powmeter that it could not remove"
  [ -x "$script" ] && [ -f "$manifest" ] || fail "a failed run took the way to run it again"
  chmod u+w "$prefix/bin"
  take_back || fail "the installed uninstall failed"
  [ ! -e "$prefix" ] || fail "left in the prefix: $(cd "$prefix" && find . | sort)"
  exit 0
fi

"$cmake" --install "$build" --prefix "$work/new" >/dev/null
# On PATH only powmeter, which finds its own stand-ins, but after any ioreg of the user's. A
# cross build's programs run only through an emulator, and its stand-ins not even so.
[ "$(ls "$work/new/bin")" = powmeter ] || fail "on PATH: $(ls "$work/new/bin")"
tree=$work/new/share/doc/powmeter/examples/charge-laptop
if [ "$7" = native ]; then
  # Without PATH the shell's default comes first; a PATH of any length is kept whole.
  long=$(printf '/no/such/folder%.0s:' $(seq 600))
  for path in PATH=/usr/bin:/bin "" "PATH=$long/usr/bin:/bin"; do
    level=$(env -i $path SYSFS_PATH="$tree" "$work/new/bin/powmeter")
    [ "$level" = "Battery Level is 86%" ] || fail "the installed powmeter printed: $level (${path:+${#path} bytes of PATH}${path:-no PATH})"
  done
  # An empty PATH names only the current folder: no grep, so nothing for the pipeline.
  level=$(cd "$work" && env -i PATH= SYSFS_PATH="$tree" "$work/new/bin/powmeter")
  [ "$level" = "Failed to process ioreg" ] || fail "with an empty PATH the installed powmeter printed: $level"
  mkdir "$work/mine" && ln -s /bin/true "$work/mine/ioreg"  # the user's own, which lists nothing
  level=$(env -i PATH="$work/mine:/usr/bin:/bin" SYSFS_PATH="$tree" "$work/new/bin/powmeter")
  [ "$level" = "Failed to process ioreg" ] || fail "the user's own ioreg lost to the stand-in: $level"
fi
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
