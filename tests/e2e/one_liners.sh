#!/bin/sh
# Battery one-liners of the kind people keep in prompts, status lines and dotfiles, by name,
# run against whichever ioreg comes first on PATH.
case $1 in
rc-awk-level)
  ioreg -rc AppleSmartBattery | awk '/"MaxCapacity" = /{m=$3} /"CurrentCapacity" = /{c=$3} END{print int(100*c/m)}' ;;
brc-grep)
  ioreg -brc AppleSmartBattery | grep -E '^\+-o|"(CycleCount|IsCharging|ExternalConnected)"' ;;
terminal)
  # Bold names, and lines cut to the terminal's width, at a terminal only.
  /usr/bin/script -qec '/bin/stty cols 50 && ioreg -brc AppleSmartBattery' /dev/null | sed -n 1,2p | cat -v ;;
bad-option)
  ioreg -z 2>&1 | grep '^usage:' ;;
rn-egrep-awk)
  ioreg -n AppleSmartBattery -r | grep -E 'Temperature|TimeRemaining|AvgTimeTo' | awk '{print $1, $3}' ;;
l-w0-grep-capacity)
  ioreg -l -w0 | grep Capacity | awk '{print $(NF-2), $NF}' ;;
c-w0-sed-minutes)
  ioreg -c AppleSmartBattery -w0 | sed -n 's/.*"TimeRemaining" = //p' ;;
rw0-watts)
  ioreg -rw0 -c AppleSmartBattery |
    awk '/"Amperage" =/{a=$3} /"Voltage" =/{v=$3} END{if (a >= 2^63) a -= 2^64; printf "%.2f W\n", a*v/1e6}' ;;
arn-plist)
  ioreg -arn AppleSmartBattery | python3 -c '
import plistlib, sys
for b in plistlib.loads(sys.stdin.buffer.read()):
    print(b["IORegistryEntryName"], b["CurrentCapacity"], b["MaxCapacity"], b.get("Amperage"),
          b["IsCharging"], b.get("DeviceName"), b.get("Manufacturer"), b.get("BatterySerialNumber"))' ;;
a-plist-tree)
  ioreg -a -l | python3 -c '
import plistlib, sys
root = plistlib.loads(sys.stdin.buffer.read())
for o in root["IORegistryEntryChildren"][0]["IORegistryEntryChildren"]:
    print(o["IOObjectClass"], sorted(k for k in o if not k.startswith("IO"))[:3])' ;;
r-d1-k-peripherals)
  ioreg -r -d 1 -k BatteryPercent ;;
objects-only)
  ioreg ;;
rxc-hex)
  ioreg -rxc AppleSmartBattery | grep -E '"(Amperage|CycleCount)"' ;;
w40-cut)
  ioreg -w 40 -rSc AppleSmartBattery | sed -n '1p;3p' ;;
no-match)
  ioreg -rn NoSuchObject ;;
other-plane)
  ioreg -p IOUSB -l ;;
*)
  echo "one_liners.sh: no one-liner named '$1'" >&2
  exit 2 ;;
esac
