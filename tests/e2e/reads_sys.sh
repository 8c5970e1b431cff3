#!/bin/sh
# Runs the stand-in without SYSFS_PATH in a mount namespace whose /sys/class is TREE's, and
# checks that it listed TREE's battery; then with an empty /sys/class, where it must list
# no source, silently. Root makes it directly, any other user inside a user namespace of
# their own where the system allows those. Exits 77 (skipped) where neither can be made.
#   reads_sys.sh TREE IOREG
tree=$1 ioreg=$2
ns="unshare --mount"
$ns sh -c 'mount -t tmpfs none /sys/class' 2>/dev/null || ns="unshare --map-root-user --mount"
$ns sh -c 'mount -t tmpfs none /sys/class' 2>/dev/null || exit 77
listing=$($ns sh -c 'mount --bind "$1/class" /sys/class && exec env -u SYSFS_PATH "$2" -l' \
  sh "$tree" "$ioreg") || exit 1
printf '%s\n' "$listing" | grep -q '"CurrentCapacity" = 3456$' || {
  printf 'no battery of %s in:\n%s\n' "$tree" "$listing"
  exit 1
}
empty=$($ns sh -c 'mount -t tmpfs none /sys/class && exec env -u SYSFS_PATH "$2" 2>&1' \
  sh "$tree" "$ioreg") || { printf 'a /sys without power supplies failed:\n%s\n' "$empty"; exit 1; }
[ "$(printf '%s\n' "$empty" | grep -c '+-o')" -eq 8 ] || {
  printf 'a /sys without power supplies listed:\n%s\n' "$empty"
  exit 1
}
