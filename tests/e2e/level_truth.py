#!/usr/bin/env python3
# Random power-supply trees: every level that powmeter prints or the stand-ins list must be
# the one that the batteries' own attributes give, by their physical meaning, and so must the
# capacities, the design, the voltage and the minutes that the stand-ins list beside it.
#
#   level_truth.py POWMETER IOREG PMSET SYSTEM_PROFILER [--seed N] [--trees N] [--work DIR] [-- RUN_PREFIX...]
import argparse, collections, concurrent.futures, itertools, json, math, os, plistlib, random, re, shutil, subprocess, tempfile
from fractions import Fraction
from pathlib import Path

KINDS = ['energy', 'energy', 'energy', 'charge', 'charge', 'capacity', 'pmu']
LARGEST = 2**31 - 1  # the kernel holds every reading in an int
PROGRAMS = ('powmeter', 'ioreg', 'pmset', 'system_profiler')  # the built programs, in the order they are given


def log_uniform(rng, low, high):
    return int(math.exp(rng.uniform(math.log(low), math.log(high))))


# Mostly empty to full; past full as gauges drift; rarely past belief, or right at its edge.
def stored(rng, full):
    return rng.choice([rng.randint(0, full)] * 30 + [rng.randint(full, full * 3 // 2)] * 5 +
                      [full + full // 2, full + full // 2 + 1, full * 2, -rng.randint(1, full)])


# Mostly a sound pack, at times a worn one, one on either side of the worn bound, or one
# that holds more than its design.
def design(rng, full):
    return rng.choice([full + rng.randint(0, full // 4)] * 3 + [full * 100 // p for p in (40, 79, 79, 80, 104)])


# One family's charge now and when full, as the drivers lay it out, with rates beside.
def pair(rng, a, family, averages):
    low, high = (1e5, 2e8) if family == 'energy' else (1e4, 2e7)  # µWh or µAh
    # Rarely the largest full that is still believable, or one past it.
    full = log_uniform(rng, low, high) if rng.random() < 0.98 else rng.choice([LARGEST, LARGEST + 1])
    if family == 'energy' and rng.random() < 0.1:  # a pack whose mAh lies a hair from a half
        a['voltage_min_design'] = volts = rng.randint(3_000_000, 16_800_000)
        full = ((2 * log_uniform(rng, 100, 20_000) + 1) * volts + rng.choice([-1, 0, 1])) // 2000
    when = 'avg' if averages else 'now'
    a.update({f'{family}_full': full, f'{family}_{when}': stored(rng, full)})
    if rng.random() < 0.3:
        a[f'{family}_full_design'] = design(rng, full)
    if 'voltage_min_design' not in a and rng.random() < (0.5 if family == 'energy' else 0.3):
        a['voltage_min_design'] = rng.randint(3_000_000, 16_800_000)
    sign = rng.choice([1, 1, -1])  # some drivers sign the rates by direction
    rates = {'power': sign * log_uniform(rng, 1e5, 1e8), 'current': sign * log_uniform(rng, 1e4, 1e7),
             'voltage': rng.randint(3_000_000, 17_000_000)}
    a.update({f'{rate}_{when}': value for rate, value in rates.items() if rng.random() < 0.7})


def battery(rng, kind):
    a = {'type': 'Unknown' if kind == 'pmu' else 'Battery'}
    if kind == 'pmu':  # the PowerPC PMU driver lists averages alone
        pair(rng, a, rng.choice(['energy', 'charge']), averages=True)
    elif kind != 'capacity':
        pair(rng, a, kind, averages=rng.random() < 0.1)
    if kind == 'capacity' or rng.random() < 0.4:  # also the fallback when a pair is unbelievable
        a['capacity'] = rng.choice([rng.randint(0, 100)] * 8 + [rng.randint(101, 150), 151])
    if kind in ('energy', 'charge') and rng.random() < 0.15:  # the other family's wear too, as some drivers give
        other, full = 'charge' if kind == 'energy' else 'energy', log_uniform(rng, 1e5, 1e7)
        a.update({f'{other}_full': full, f'{other}_full_design': design(rng, full)})
    if kind == 'capacity' and rng.random() < 0.5:  # a phone's: the wear beside, as charge or energy
        family, full = rng.choice(['charge', 'charge', 'energy']), log_uniform(rng, 1e5, 1e7)
        a.update({f'{family}_full': full, f'{family}_full_design': design(rng, full)})
    optional = {'scope': [None] * 3 + ['System', 'System', 'Unknown'], 'present': [None, 1],
                'status': [None, 'Charging', 'Discharging', 'Full', 'Not charging', 'Unknown'],
                'cycle_count': [None, rng.randint(0, 3000)], 'capacity_level': [None, 'Critical', 'Low', 'Normal', 'Full'],
                'health': [None, None, 'Good', 'Good', 'Unknown', 'Dead', 'Overheat']}
    a.update({k: v for k, values in optional.items() if (v := rng.choice(values)) is not None})
    return a


def random_tree(rng):
    entries = {}
    kind = rng.choice(KINDS + [None] * 3)  # most devices' batteries share one driver
    together = {'status': rng.choice(['Charging', 'Discharging'])} if rng.random() < 0.4 else {}
    for n in range(0 if rng.random() < 0.04 else rng.randint(1, 4)):
        a = {**battery(rng, kind or rng.choice(KINDS)), **together}
        entries[f'PMU_battery_{n}' if a['type'] == 'Unknown' else f'BAT{n}'] = a
    if rng.random() < 0.3:  # every battery labelled with its design, so that both families' designs add up
        for a in entries.values():
            a.update({f'{f}_full_design': design(rng, a[f'{f}_full']) for f in ('energy', 'charge') if f'{f}_full' in a})
            a.setdefault('voltage_min_design', rng.randint(3_000_000, 16_800_000))
    if rng.random() < 0.1:
        entries['BAT9'] = {**battery(rng, rng.choice(KINDS[:5])), 'present': 0}
    if rng.random() < 0.15:
        entries['ups0'] = {'type': 'UPS', 'capacity': rng.randint(0, 100), 'status': rng.choice(['Discharging', 'Charging', 'Full'])}
    for n in range(rng.randint(0, 2)):
        entries[f'hidpp_battery_{n}'] = {'type': 'Battery', 'scope': 'Device', 'present': 1,
            'capacity': rng.randint(0, 100), 'model_name': rng.choice(['Mouse', 'Keyboard'])}
    for name in rng.sample(['AC', 'ADP1', 'USBC0'], rng.randint(0, 2)):
        entries[name] = {'type': 'USB' if name == 'USBC0' else 'Mains', 'online': rng.randint(0, 1)}
    return entries


def write_tree(entries, folder):
    Path(folder, 'class/power_supply').mkdir(parents=True)  # a machine without any has it too
    for name, attributes in entries.items():
        Path(folder, 'class/power_supply', name).mkdir()
        for attribute, value in attributes.items():
            Path(folder, 'class/power_supply', name, attribute).write_text(f'{value}\n')


# One of the device's own batteries: its family, charge now and when full, design voltage and
# design (None where unbelievable), the rate of its family, status and voltage now.
# Its wear: the family, full and design of the first family that gives both.
Reading = collections.namedtuple('Reading', 'family now full volts wear rate status voltage cycles warning health')


def reading(a):
    kind = a.get('type', '').strip().lower()
    if kind not in ('battery', 'unknown') or a.get('present', 1) == 0 or \
            a.get('scope', '').strip().lower() not in ('', 'system', 'unknown'):
        return None
    volts, voltage = a.get('voltage_min_design', 0), a.get('voltage_now', a.get('voltage_avg'))
    volts = volts if 100_000 <= volts <= LARGEST else None
    wear = next(((f, a[f'{f}_full'], a[f'{f}_full_design']) for f in ('energy', 'charge')
                 if 0 < a.get(f'{f}_full', 0) <= LARGEST and 0 < a.get(f'{f}_full_design', 0) <= LARGEST), None)
    for family, rate in (('energy', 'power'), ('charge', 'current')):
        now, full = a.get(f'{family}_now', a.get(f'{family}_avg')), a.get(f'{family}_full')
        if None not in (now, full) and 0 < full <= LARGEST and 0 <= now and now - full <= full // 2:
            rate = a.get(f'{rate}_now', a.get(f'{rate}_avg'))
            return Reading(family, now, full, volts, wear, rate and abs(rate), a.get('status'), voltage, a.get('cycle_count'), a.get('capacity_level'), a.get('health'))
    capacity = a.get('capacity', -1) if kind == 'battery' else -1  # never an Unknown's
    return Reading('capacity', capacity, 100, volts, wear, None, a.get('status'), voltage, a.get('cycle_count'),
                   a.get('capacity_level'), a.get('health')) \
        if 0 <= capacity <= 150 else None


def nearest(value):
    return math.floor(value + Fraction(1, 2))


def half_up(ratio):
    return nearest(100 * ratio)


# The stored energy (or charge) over the full one, rounded half up. Batteries of different
# families: their charge, each energy over its own design voltage; else the mean of their own
# percentages.
def level_of(readings):
    if len({r.family for r in readings}) == 1:
        return half_up(Fraction(sum(r.now for r in readings), sum(r.full for r in readings)))
    if all(r.family == 'charge' or (r.family == 'energy' and r.volts) for r in readings):
        scale = [Fraction(10**6, r.volts) if r.family == 'energy' else 1 for r in readings]
        return half_up(sum(r.now * k for r, k in zip(readings, scale)) / sum(r.full * k for r, k in zip(readings, scale)))
    return half_up(Fraction(sum(half_up(Fraction(r.now, r.full)) for r in readings), 100 * len(readings)))


# A figure of `family` in µAh: an energy over the battery's own design voltage, to the nearest.
def uah(r, family, x):
    return x if family == 'charge' else nearest(Fraction(x * 10**6, r.volts))


# The batteries' wear, (family, full, design): every battery's pair summed as it is where they
# share a family, else in µAh; None without every battery's pair, or one that has no µAh.
def wear_of(readings):
    wears = [r.wear for r in readings]
    if None in wears:
        return None
    if len({w[0] for w in wears}) == 1:
        return wears[0][0], sum(w[1] for w in wears), sum(w[2] for w in wears)
    if not all(w[0] == 'charge' or r.volts for r, w in zip(readings, wears)):
        return None
    return 'charge', *(sum(uah(r, w[0], w[k]) for r, w in zip(readings, wears)) for k in (1, 2))


# The capacities as the manual lists them: (units, now, full, design, maximum capacity). mAh:
# charge as it is, energy over the full-weighed mean design voltage, or for mixed families each
# energy over its own to the nearest µAh; mWh for energy without one; else each battery's
# percentage against 100; each to the nearest whole unit. Listed in whole units when a now of
# those keeps the level, else in the kernel's own; the design only when every battery's wear
# counts what the capacities count. The maximum capacity is the wear's full over its design.
def capacities(readings, level):
    families = {r.family for r in readings}
    volts = families == {'energy'} and all(r.volts for r in readings) and \
        sum(r.full * r.volts for r in readings) // sum(r.full for r in readings)
    parts = [(r.now, r.full) for r in readings]
    if len(families) == 1 and families != {'capacity'}:
        (basis,) = families
        units, scale = 'mAh' if volts or basis == 'charge' else 'mWh', lambda x: nearest(Fraction(x * 1000, volts or 10**6))
    elif families <= {'energy', 'charge'} and all(r.family == 'charge' or r.volts for r in readings):
        basis, units, scale = 'charge', 'mAh', lambda x: nearest(Fraction(x, 1000))
        parts = [(uah(r, r.family, r.now), uah(r, r.family, r.full)) for r in readings]
    else:
        basis, units, scale = 'capacity', 'percent', lambda x: x
        parts = [(half_up(Fraction(r.now, r.full)), 100) for r in readings]
    now, full = sum(p[0] for p in parts), sum(p[1] for p in parts)
    wear = wear_of(readings)
    best = wear[2] if wear and wear[0] == basis else None
    maximum = half_up(Fraction(wear[1], wear[2])) if wear else None
    if (top := scale(full)) > 0:
        share = now * top // full
        for candidate in (scale(now), share, share + 1):
            if half_up(Fraction(candidate, top)) == level:
                return units, candidate, top, best if best is None else scale(best), maximum
    return 'kernel', now, full, best, maximum


# pmset's time where the readings tell it: batteries of one family that all charge or all
# discharge, from the rates of that family.
def time_left(readings):
    if len({(r.family, r.status) for r in readings}) != 1 or readings[0].status not in ('Charging', 'Discharging'):
        return None
    now, full, rates = sum(r.now for r in readings), sum(r.full for r in readings), [r.rate for r in readings]
    left = now if readings[0].status == 'Discharging' else max(full - now, 0)
    minutes = left * 60 // sum(rates) if None not in rates and sum(rates) else 65535
    return '(no estimate)' if minutes >= 65535 else f'{minutes // 60}:{minutes % 60:02} remaining'


# What the device's batteries hold, for every check to judge its output against.
Truth = collections.namedtuple('Truth', 'level capacities time voltage report source')


# What system_profiler reports of the batteries and the charger, keyed as its text form names
# them; the amperage by the signs it may have. Every key that a generation leaves out is gone.
def report_of(readings, entries, capacities, voltage):
    units, now, full, _, maximum = capacities
    statuses, one = {r.status for r in readings}, len(readings) == 1 and readings[0]
    signs = {'Discharging': '-0', 'Charging': '0+', 'Full': '0', 'Not charging': '0'}
    warnings = {{'Critical': 'Yes', 'Low': 'Yes', 'Normal': 'No', 'Full': 'No'}.get(r.warning) for r in readings}
    # A health other than Good or Unknown names a failure; a pack below four fifths of its design is worn.
    failed, good = any(r.health not in (None, 'Good', 'Unknown') for r in readings), all(r.health == 'Good' for r in readings)
    known = maximum is not None
    mah = (now, full) if units == 'mAh' else (None, None)  # never other units under an mAh label
    return {'State of Charge (%)': level_of(readings), 'Charge Remaining (mAh)': mah[0], 'Full Charge Capacity (mAh)': mah[1],
            'Maximum Capacity': f'{maximum}%' if known else None, 'Cycle Count': one.cycles if one else None, 'Voltage (mV)': voltage,
            'Condition': 'failed' if failed else 'worn' if known and maximum < 80 else 'sound' if known or good else None,
            'Amperage (mA)': ''.join(sorted(set(''.join(signs.get(s, '-0+') for s in statuses)))) if statuses <= signs.keys() else '',
            'Fully Charged': 'Yes' if statuses == {'Full'} else 'No', 'Charging': 'Yes' if 'Charging' in statuses else 'No',
            'The battery’s charge is below the warning level': 'Yes' if 'Yes' in warnings else None if None in warnings else 'No',
            'Connected': 'Yes' if any(a.get('online') == 1 for a in entries.values() if 'online' in a) else 'No',
            'Battery Installed': 'Yes'}


# The source in use: AC while an adapter is online, else the batteries, else a UPS that
# discharges; AC with nothing that could power the device.
def source_of(readings, entries):
    online = any(a.get('online') == 1 for a in entries.values() if a['type'] in ('Mains', 'USB'))
    ups = any(a['type'] == 'UPS' and a['status'] == 'Discharging' for a in entries.values())
    return 'AC' if online or not (readings or ups) else 'Battery' if readings else 'UPS'


def truth(entries):
    readings = [r for r in map(reading, entries.values()) if r]
    if not readings:
        return Truth(None, None, None, None, {}, source_of(readings, entries))
    level, one = level_of(readings), readings[0]
    voltage = one.voltage // 1000 if len(readings) == 1 and one.voltage is not None else None
    listed = capacities(readings, level)
    return Truth(level, listed, time_left(readings), voltage, report_of(readings, entries, listed, voltage),
                 source_of(readings, entries))


def judge_level_line(out, t, era):
    expected = 'Failed to process ioreg\n' if t.level is None else f'Battery Level is {t.level}%\n'
    return [] if out == expected else [f'printed {out!r}']


# The battery line's time has its shape on every tree, and is the truth's where that tells it.
def judge_pmset(out, t, era):
    found = re.findall(r'^ -InternalBattery-0(?: \(id=\d+\))?\t(\d+)%; [A-Za-z ;]+?'
                       r'(?:; (\d+:\d\d remaining|\(no estimate\)))? present: true$', out, re.M)
    expected = [] if t.level is None else [(str(t.level), t.time or found and found[0][1])]
    source = out.startswith(f"Now drawing from '{t.source} Power'\n")
    return [] if found == expected and source else [f'printed {out!r}, not {expected} from {t.source} Power']


def judge_listing(out, t, era):
    found = plistlib.loads(out.encode()) if out.strip() else []  # no match prints nothing
    if t.level is None or len(found) != 1:
        return [] if t.level is None and not found else [f'{len(found)} AppleSmartBattery']
    b, legacy, data = found[0], found[0].get('LegacyBatteryInfo', {}), found[0].get('BatteryData', {})
    units, now, full, best, _ = t.capacities
    shown, raw = (t.level, 100) if era == '2021' else (now, full), (now, full) if units == 'mAh' else (None, None)
    legacy_shown = (None, None) if era == '2021' else shown  # the newest laptops have none
    expected = {'Current/MaxCapacity': shown, 'LegacyBatteryInfo': legacy_shown, 'DesignCapacity': best,
                'Voltage': (t.voltage, None if era == '2021' else t.voltage),
                'AppleRaw': (None, None) if era == '2012' else raw,
                'BatteryData': None if era == '2012' else (t.level, best if units == 'mAh' else None, t.voltage)}
    listed = {'Current/MaxCapacity': (b.get('CurrentCapacity'), b.get('MaxCapacity')),
              'LegacyBatteryInfo': (legacy.get('Current'), legacy.get('Capacity')),
              'DesignCapacity': b.get('DesignCapacity'), 'Voltage': (b.get('Voltage'), legacy.get('Voltage')),
              'AppleRaw': (b.get('AppleRawCurrentCapacity'), b.get('AppleRawMaxCapacity')),
              'BatteryData': (data.get('StateOfCharge'), data.get('DesignCapacity'), data.get('Voltage')) if data else None}
    return [f'{key} {listed[key]}, not {value}' for key, value in expected.items() if listed[key] != value]


LEFT_OUT = {'2012': ('State of Charge (%)', 'Maximum Capacity', 'The battery’s charge is below the warning level'),
            '2021': ('Charge Remaining (mAh)', 'Full Charge Capacity (mAh)', 'Battery Installed', 'Amperage (mA)', 'Voltage (mV)')}
# The report's keys by their JSON names.
JSON_NAMES = {'state_of_charge': 'State of Charge (%)', 'current_capacity': 'Charge Remaining (mAh)',
              'max_capacity': 'Full Charge Capacity (mAh)', 'health_maximum_capacity': 'Maximum Capacity',
              'cycle_count': 'Cycle Count', 'health': 'Condition', 'charger_connected': 'Connected',
              'fully_charged': 'Fully Charged', 'is_charging': 'Charging', 'installed': 'Battery Installed',
              'at_warn_level': 'The battery’s charge is below the warning level'}
names = {**{f'sppower_battery_{k}': v for k, v in JSON_NAMES.items()},
         'sppower_current_amperage': 'Amperage (mA)', 'sppower_current_voltage': 'Voltage (mV)'}


# Both forms of system_profiler against one truth, and so against each other.
def judge_report(out, t, era, form):
    if form == 'json':
        def leaves(node):
            return [leaf for k, v in node.items() for leaf in (leaves(v) if isinstance(v, dict) else [(k, v)])]
        listed = {names[k]: {'TRUE': 'Yes', 'FALSE': 'No', 'Good': 'Normal'}.get(str(v), str(v))
                  for item in json.loads(out)['SPPowerDataType'] for k, v in leaves(item) if k in names}
    else:
        listed = {k: v for k, v in re.findall(r'^ +([^:\n]+): (.+)$', out, re.M) if k in names.values()}
    words = {'sound': 'Normal', 'failed': 'Service Battery' if era == '2012' else 'Service Recommended',
             'worn': 'Replace Soon' if era == '2012' else 'Service Recommended'}
    report = {**t.report, 'Condition': words.get(t.report.get('Condition'))}
    expected = {k: str(v) for k, v in report.items() if v is not None and k not in LEFT_OUT.get(era, ())}
    sign, signs = listed.pop('Amperage (mA)', None), expected.pop('Amperage (mA)', '')
    sign = sign and '-0+'[(int(sign) > 0) - (int(sign) < 0) + 1]
    return [f'{k} {listed.get(k)}, not {v}' for k, v in (expected | listed).items() if listed.get(k) != expected.get(k)] + \
        ([f'Amperage of sign {sign}, not one of {signs!r}'] if sign and sign not in signs else [])


# What runs on each tree: (name, command line, judge of its standard output against the truth
# in the generation it prints as). Each runs in one generation a tree, the generations in turn,
# so that every generation meets every check on a third of the trees. Every run must also end
# with 0 and no stderr.
ERAS = ('2012', '2016', '2021')
CHECKS = [
    ('powmeter', ['powmeter'], judge_level_line),
    ('ioreg -arn', ['ioreg', '-a', '-r', '-n', 'AppleSmartBattery'], judge_listing),
    ('pmset -g batt', ['pmset', '-g', 'batt'], judge_pmset),
    ('system_profiler', ['system_profiler', 'SPPowerDataType'], lambda out, t, era: judge_report(out, t, era, 'text')),
    ('system_profiler -json', ['system_profiler', '-json', 'SPPowerDataType'], lambda out, t, era: judge_report(out, t, era, 'json')),
]


# The battery's keys of the newest laptops, as the notes list them, and those older ones had
# that the newest dropped. The newest keep BatteryInstalled and PermanentFailureStatus too.
KEYS_2021 = {'CurrentCapacity', 'MaxCapacity', 'AppleRawCurrentCapacity', 'AppleRawMaxCapacity', 'NominalChargeCapacity',
             'DesignCapacity', 'Serial', 'DeviceName', 'Voltage', 'Amperage', 'InstantAmperage', 'Temperature', 'CycleCount',
             'ExternalConnected', 'IsCharging', 'FullyCharged', 'TimeRemaining', 'AvgTimeToEmpty', 'AvgTimeToFull',
             'AdapterDetails', 'BatteryData', 'BatteryInstalled', 'PermanentFailureStatus'}
DROPPED_2021 = {'BatterySerialNumber', 'LegacyBatteryInfo', 'Manufacturer', 'InstantTimeToEmpty'}
HID_SERVICE = 'AppleDeviceManagementHIDEventService'


# Each object of a listing in order, as (name, class, id, retain count, properties). The text
# form's numbers are 64-bit patterns, read back signed; its dictionaries are inline.
def text_objects(out):
    value = lambda v: int(v) - (int(v) >= 2**63) * 2**64 if v.isdigit() else \
        {'Yes': True, 'No': False}.get(v, v[1:-1] if v.startswith('"') else v)
    objects = []
    for line in out.splitlines():
        if found := re.search(r'\+-o (.+?)  <class ([^,]+), id 0x([0-9a-f]+), .*retain (\d+)>$', line):
            objects.append((found[1], found[2], int(found[3], 16), int(found[4]), {}))
        elif found := re.fullmatch(r'[ |]*"([^"]+)" = (.*)', line):
            inline = re.findall(r'"([^"]+)"=("[^"]*"|[^,}]*)', found[2])
            objects[-1][4][found[1]] = {k: value(v) for k, v in inline} if found[2].startswith('{') else value(found[2])
    return objects


def archive_objects(node):
    own = {k: v for k, v in node.items() if not k.startswith('IO')}
    return [(node['IORegistryEntryName'], node['IOObjectClass'], node['IORegistryEntryID'], node['IOObjectRetainCount'], own)] + \
        [o for child in node.get('IORegistryEntryChildren', []) for o in archive_objects(child)]


def unsorted_keys(node, path=''):
    children = node.items() if isinstance(node, dict) else enumerate(node) if isinstance(node, list) else []
    return ([path or '/'] if isinstance(node, dict) and list(node) != sorted(node, key=str.encode) else []) + \
        [fault for key, child in children for fault in unsorted_keys(child, f'{path}/{key}')]


# ioreg -a as programs read it, on the tree with texts given to its batteries: it parses,
# every dictionary's keys are in byte order, every object holds what the text form lists
# (its id, class and capacities among them), and the battery's and the peripherals' keys
# and names are those of the generation it prints as, a third of the trees each.
def archive_faults(index, seed, entries, folder, bin_dir, kept):
    rng, era, texts = random.Random(f'{seed}:{index}:texts'), ERAS[index % len(ERAS)], {}
    for name in sorted(entries):
        if reading(entries[name]) and rng.random() < 0.7:
            texts[name] = {attribute: f'{attribute[:3]}{rng.randint(0, 99)}' for attribute in ('serial_number', 'manufacturer')}
            for attribute, text in texts[name].items():
                Path(folder, 'class/power_supply', name, attribute).write_text(f'{text}\n')
    runs = [subprocess.run(['ioreg', *words], env={'PATH': bin_dir, 'SYSFS_PATH': folder, **kept, 'POWMETER_ERA': era},
                           capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL) for words in (['-l'], ['-a', '-l'])]
    faults = [f'status {run.returncode}, stderr {run.stderr!r}' for run in runs if run.returncode or run.stderr]
    archive = plistlib.loads(runs[1].stdout.encode())
    text, objects = text_objects(runs[0].stdout), archive_objects(archive)
    faults += [f'keys out of order in {path}' for path in unsorted_keys(archive)]
    faults += [f'archive lists {a}, text {t}' for a, t in itertools.zip_longest(objects, text) if a != t]
    readings = [name for name in entries if reading(entries[name])]
    one = texts.get(readings[0], {}) if len(readings) == 1 else {}
    for name, kind, _, _, keys in objects:
        if kind == 'AppleSmartBattery':
            serials = {k: keys.get(k) for k in ('BatterySerialNumber', 'Serial')}
            expected = {'BatterySerialNumber': None if era == '2021' else one.get('serial_number'),
                        'Serial': None if era == '2012' else one.get('serial_number')}
            faults += [f'serials {serials}, not {expected}'] if serials != expected else []
            faults += [f'2021 lists {sorted(set(keys) - KEYS_2021)}'] if era == '2021' and set(keys) - KEYS_2021 else []
            faults += [f'{era} lacks {sorted(DROPPED_2021 - set(keys))}'] if era != '2021' and one and DROPPED_2021 - set(keys) else []
        if 'BatteryPercent' in keys and (name != kind or (name == HID_SERVICE) != (era != '2012')):
            faults.append(f'a peripheral named {name}, classed {kind}')
    return [f'ioreg -a, era {era}: {fault}' for fault in faults]


def check(index, args, bin_dir, work):
    entries = random_tree(random.Random(f'{args.seed}:{index}'))
    t, faults = truth(entries), []
    kept = {k: v for k, v in os.environ.items() if k in ('ASAN_OPTIONS', 'UBSAN_OPTIONS')}
    with tempfile.TemporaryDirectory(prefix=f'tree{index}.', dir=work) as folder:
        write_tree(entries, folder)
        for position, (name, command, judge) in enumerate(CHECKS):
            era = ERAS[(index + position) % len(ERAS)]
            run = subprocess.run(command, env={'PATH': bin_dir, 'SYSFS_PATH': folder, **kept, 'POWMETER_ERA': era},
                                 capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL)
            try:
                faults += [f'{name}, era {era}: {fault}' for fault in judge(run.stdout, t, era)]
            except Exception as error:  # output that cannot be read at all
                faults.append(f'{name}, era {era}: {error!r} reading {run.stdout[:200]!r}')
            if run.returncode or run.stderr:
                faults.append(f'{name}, era {era}: status {run.returncode}, stderr {run.stderr!r}')
        try:
            faults += archive_faults(index, args.seed, entries, folder, bin_dir, kept)
        except Exception as error:  # an archive that cannot be read at all
            faults.append(f'ioreg -a: {error!r}')
    files = '; '.join(f'{n}: ' + ' '.join(f'{k}={v}' for k, v in a.items()) for n, a in entries.items())
    return faults and (index, '\n  '.join([f'seed {args.seed} tree {index} ({work}/tree{index}), expected {t}', files, *faults]))


def main():
    parser = argparse.ArgumentParser(description='Random trees against the level they hold')
    for program in PROGRAMS:
        parser.add_argument(program)
    parser.add_argument('prefix', nargs='*', help='emulator that starts the built programs')
    parser.add_argument('--seed', type=int, default=1)
    parser.add_argument('--trees', type=int, default=300)
    parser.add_argument('--work', default=tempfile.gettempdir(), help='an existing folder')
    args = parser.parse_args()
    # One fixed folder that each run empties first, so that failed runs never pile up.
    work = os.path.join(args.work, 'level_truth')
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(bin_dir := os.path.join(work, 'bin'))
    # powmeter starts its pipeline with /bin/sh itself; the pipeline needs ioreg, grep and tr.
    for tool in ('grep', 'tr'):
        os.symlink(shutil.which(tool), os.path.join(bin_dir, tool))
    for name in PROGRAMS:
        path, program = os.path.join(bin_dir, name), os.path.abspath(getattr(args, name))
        if args.prefix:  # through the emulator
            Path(path).write_text(f'#!/bin/sh\nexec {" ".join(args.prefix)} \'{program}\' "$@"\n')
            os.chmod(path, 0o755)
        else:
            os.symlink(program, path)
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        failures = [f for f in pool.map(lambda index: check(index, args, bin_dir, work), range(args.trees)) if f]
    # The first few failures in full, their trees written again to try by hand; the rest counted.
    for index, failure in failures[:5]:
        write_tree(random_tree(random.Random(f'{args.seed}:{index}')), os.path.join(work, f'tree{index}'))
        print(failure)
    print(f'seed {args.seed}: {len(failures)} of {args.trees} trees failed')
    if not failures:
        shutil.rmtree(work)
    return 1 if failures else 0


if __name__ == '__main__':
    raise SystemExit(main())
