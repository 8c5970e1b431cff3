#!/bin/sh
# Battery one-liners of the kind people keep in prompts, status lines and dotfiles, by name,
# run against whichever ioreg comes first on PATH.
case $1 in
rc-awk-level) ioreg -rc AppleSmartBattery | awk '/"MaxCapacity" = /{m=$3} /"CurrentCapacity" = /{c=$3} END{print int(100*c/m)}' ;;
brc-grep) ioreg -brc AppleSmartBattery | grep -E '^\+-o|"(CycleCount|IsCharging|ExternalConnected)"' ;;
terminal)
  # Bold names, and lines cut to the terminal's width, at a terminal only.
  /usr/bin/script -qec '/bin/stty cols 50 && ioreg -brc AppleSmartBattery' /dev/null | sed -n 1,2p | cat -v ;;
terminal-width)
  # A width given on the command line wins over the terminal's.
  /usr/bin/script -qec '/bin/stty cols 50 && ioreg -w 30 -rc AppleSmartBattery' /dev/null | sed -n 1p | cat -v ;;
pmset-level) pmset -g batt | grep -Eo '[0-9]+%' | head -n 1 ;;
pmset-state) pmset -g batt | awk -F '; *' 'NR==2 {print $2}' ;;
pmset-fields) pmset -g batt | awk 'NR==2 {print $3, $4}' ;;
pmset-cut) pmset -g batt | cut -f2 | tail -n 1 | awk -F '; ' '{print $1 "|" $2 "|" $3}' ;;
pmset-on-ac) if pmset -g batt | grep -q 'AC Power'; then echo mains; else echo battery; fi ;;
pmset-source) pmset -g ps | sed -n "s/Now drawing from '\(.*\)'/\1/p" ;;
pmset-time) pmset -g batt | grep -Eo '[0-9]+:[0-9]{2}|\(no estimate\)' ;;
sp-cycles) system_profiler SPPowerDataType | awk '/Cycle Count/{print $3}' ;;
sp-condition) system_profiler SPPowerDataType | grep Condition | sed -e 's/^.*: //' ;;
sp-maximum) system_profiler SPPowerDataType | awk '/Maximum Capacity/{print $3}' ;;
sp-full-charge) system_profiler SPPowerDataType | grep "Full Charge Capacity" | awk '{print $5}' ;;
sp-charger) system_profiler SPPowerDataType | grep -A 2 "AC Charger Information" ;;
sp-laptop) if system_profiler SPPowerDataType | grep -q "Battery Power"; then echo laptop; else echo desktop; fi ;;
sp-connected) system_profiler SPPowerDataType | grep Connected | cut -c 7-99 ;;
sp-json-cycles)
  system_profiler SPPowerDataType -json |
    jq '.SPPowerDataType[] | select(._name=="spbattery_information") | .sppower_battery_health_info.sppower_battery_cycle_count' ;;
era-2012-capacity)
  # Scripts of 2012 take whatever line holds the word, and got the old keys only.
  POWMETER_ERA=2012 ioreg -l | grep Capacity | awk '{print $(NF-2), $NF}' && POWMETER_ERA=2012 ioreg -rc AppleSmartBattery | awk '/AdapterDetails|BatteryData|Raw|Nominal/{n++} END{print n+0}' ;;
era-2012-pmset) POWMETER_ERA=2012 pmset -g accps | sed -n '2,$p' ;;
era-2021-pmset) POWMETER_ERA=2021 pmset -g batt | sed -n 2p ;;
era-2021-percent)
  # Scripts of 2021 print CurrentCapacity as the percentage and compute with the raw mAh.
  POWMETER_ERA=2021 ioreg -rc AppleSmartBattery | awk '/"(CurrentCapacity|MaxCapacity|AppleRawCurrentCapacity|AppleRawMaxCapacity)" =/{print $1, $3} /LegacyBatteryInfo/{print $3}' ;;
era-2016-same)
  # 2016 is what the stand-ins print unset: byte for byte, in every form, but for the
  # peripherals' names, which unset keeps as older systems had them.
  later_names='s/BNBMouseDevice|BNBTrackpadDevice|AppleBluetoothHIDKeyboard/AppleDeviceManagementHIDEventService/g'
  for words in '-l' '-a -l' '-rc AppleSmartBattery'; do
    [ "$(POWMETER_ERA=2016 ioreg $words)" = "$(ioreg $words | sed -E "$later_names")" ] || echo "ioreg $words differs"
  done
  for form in batt accps ac; do
    [ "$(POWMETER_ERA=2016 pmset -g $form)" = "$(POWMETER_ERA= pmset -g $form)" ] || echo "pmset -g $form differs"
  done
  echo same ;;
bad-values)
  # What was wrong comes first, then the usage text.
  for words in '-w abc' '-d x' '-l word'; do ioreg $words 2>&1 | head -n 1; done ;;
bad-option) ioreg -z 2>&1 | grep '^usage:' ;;
rn-egrep-awk) ioreg -n AppleSmartBattery -r | grep -E 'Temperature|TimeRemaining|AvgTimeTo' | awk '{print $1, $3}' ;;
l-w0-grep-capacity) ioreg -l -w0 | grep Capacity | awk '{print $(NF-2), $NF}' ;;
c-w0-sed-minutes) ioreg -c AppleSmartBattery -w0 | sed -n 's/.*"TimeRemaining" = //p' ;;
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
def walk(o):
    keys = sorted(k for k in o if not k.startswith("IO"))
    if keys:
        print(o["IOObjectClass"], keys[:3])
    for child in o.get("IORegistryEntryChildren", []):
        walk(child)
walk(plistlib.loads(sys.stdin.buffer.read()))' ;;
r-d1-k-peripherals) ioreg -r -d 1 -k BatteryPercent ;;
ar-d1-k-peripherals)
  ioreg -a -r -d 1 -k BatteryPercent | python3 -c '
import plistlib, sys
for o in plistlib.loads(sys.stdin.buffer.read()):
    print(o["IORegistryEntryName"], o["IOObjectClass"], o["Product"], o["BatteryPercent"])' ;;
l-grep-awk5)
  # Scripts that count fields: the value is the fifth, after the tree's two bars.
  ioreg -l | grep '"MaxCapacity" =' | awk '{print $5}' ;;
n-awk5) ioreg -n AppleSmartBattery | awk '/"(Current|Max)Capacity" =/{print $5}' ;;
l-cut-f19) ioreg -l -w0 | grep '"CurrentCapacity" =' | cut -d' ' -f19 ;;
fourth-capacity)
  # Older scripts: the first line with MaxCapacity in it, and the fourth Capacity line.
  ioreg -l | awk '/MaxCapacity/{print $NF; exit}' && ioreg -l | grep Capacity | sed -n 4p | awk '{print $3, $5}' ;;
peripheral-lookups)
  # How many peripherals each generation's lookups find, generation by generation.
  for era in '' 2012 2016 2021; do
    found="${era:-unset}:"
    for words in '-n BNBMouseDevice' '-n AppleDeviceManagementHIDEventService' '-c AppleBluetoothHIDKeyboard' \
                 '-c AppleDeviceManagementHIDEventService' '-k BatteryPercent'; do
      found="$found $(POWMETER_ERA=$era ioreg -r -d 1 $words | grep -c '^+-o')"
    done
    echo "$found"
  done ;;
mouse-by-name) ioreg -n BNBMouseDevice | grep -E '"(Product|BatteryPercent)"' ;;
keyboard-by-class) ioreg -rc AppleBluetoothHIDKeyboard | grep BatteryPercent ;;
hid-service-grep) ioreg -c AppleDeviceManagementHIDEventService -r -l | grep -A5 "MX Master" | grep BatteryPercent | awk '{print $3}' ;;
adapter-watts) ioreg -rc AppleSmartBattery | grep -o '"AdapterDetails" = .*' ;;
objects-only) ioreg ;;
rxc-hex) ioreg -rxc AppleSmartBattery | grep -E '"(Amperage|CycleCount)"' ;;
w40-cut) ioreg -w 40 -rSc AppleSmartBattery | sed -n '1p;3p' ;;
no-match) ioreg -rn NoSuchObject ;;
other-plane) ioreg -p IOUSB -l ;;
*)
  echo "one_liners.sh: no one-liner named '$1'" >&2
  exit 2 ;;
esac
