#!/usr/bin/env python3
# Random power-supply trees: every level that powmeter prints or the stand-in lists must be
# the one that the batteries' own attributes give, by their physical meaning.
#
#   level_truth.py POWMETER IOREG PMSET [--seed N] [--trees N] [--work DIR] [-- RUN_PREFIX...]
import argparse, concurrent.futures, math, os, plistlib, random, re, shutil, subprocess, tempfile
from fractions import Fraction
from pathlib import Path

KINDS = ['energy', 'energy', 'energy', 'charge', 'charge', 'capacity', 'pmu']
LARGEST = 2**31 - 1  # the kernel holds every reading in an int


def log_uniform(rng, low, high):
    return int(math.exp(rng.uniform(math.log(low), math.log(high))))


# Mostly empty to full; past full as gauges drift; rarely past belief, or right at its edge.
def stored(rng, full):
    return rng.choice([rng.randint(0, full)] * 30 + [rng.randint(full, full * 3 // 2)] * 5 +
                      [full + full // 2, full + full // 2 + 1, full * 2, -rng.randint(1, full)])


# One family's charge now and when full, as the drivers lay it out, with rates beside.
def pair(rng, a, family, averages):
    low, high = (1e5, 2e8) if family == 'energy' else (1e4, 2e7)  # µWh or µAh
    # Rarely the largest full that is still believable, or one past it.
    full = log_uniform(rng, low, high) if rng.random() < 0.98 else rng.choice([LARGEST, LARGEST + 1])
    when = 'avg' if averages else 'now'
    a.update({f'{family}_full': full, f'{family}_{when}': stored(rng, full)})
    if rng.random() < 0.3:
        a[f'{family}_full_design'] = full + rng.randint(0, full // 4)
    if rng.random() < (0.5 if family == 'energy' else 0.3):
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
    optional = {'scope': [None] * 3 + ['System', 'System', 'Unknown'], 'present': [None, 1],
                'status': [None, 'Charging', 'Discharging', 'Full', 'Not charging', 'Unknown']}
    a.update({k: v for k, values in optional.items() if (v := rng.choice(values)) is not None})
    return a


def random_tree(rng):
    entries = {}
    kind = rng.choice(KINDS + [None] * 3)  # most devices' batteries share one driver
    for n in range(0 if rng.random() < 0.04 else rng.randint(1, 4)):
        a = battery(rng, kind or rng.choice(KINDS))
        entries[f'PMU_battery_{n}' if a['type'] == 'Unknown' else f'BAT{n}'] = a
    if rng.random() < 0.1:
        entries['BAT9'] = {**battery(rng, rng.choice(KINDS[:5])), 'present': 0}
    for n in range(rng.randint(0, 2)):
        entries[f'hidpp_battery_{n}'] = {'type': 'Battery', 'scope': 'Device', 'present': 1,
            'capacity': rng.randint(0, 100), 'model_name': rng.choice(['Mouse', 'Keyboard'])}
    for name in rng.sample(['AC', 'ADP1', 'USBC0'], rng.randint(0, 2)):
        entries[name] = {'type': 'USB' if name == 'USBC0' else 'Mains', 'online': rng.randint(0, 1)}
    return entries


# (family, now, full, design voltage) of one of the device's own batteries; None for any other.
def reading(a):
    kind = a.get('type', '').strip().lower()
    if kind not in ('battery', 'unknown') or a.get('present', 1) == 0 or \
            a.get('scope', '').strip().lower() not in ('', 'system', 'unknown'):
        return None
    for family in ('energy', 'charge'):
        now, full = a.get(f'{family}_now', a.get(f'{family}_avg')), a.get(f'{family}_full')
        if None not in (now, full) and 0 < full <= LARGEST and 0 <= now and now - full <= full // 2:
            volts = a.get('voltage_min_design')
            return family, now, full, volts if volts and 100_000 <= volts <= LARGEST else None
    capacity = a.get('capacity', -1) if kind == 'battery' else -1  # never an Unknown's
    return ('capacity', capacity, 100, None) if 0 <= capacity <= 150 else None


def half_up(ratio):
    return math.floor(100 * ratio + Fraction(1, 2))


# The stored energy (or charge) over the full one, rounded half up. Batteries of different
# families: their charge, each energy over its own design voltage; else the mean of their own
# percentages.
def truth(entries):
    readings = [r for r in map(reading, entries.values()) if r]
    if not readings:
        return None
    if len({r[0] for r in readings}) == 1:
        return half_up(Fraction(sum(r[1] for r in readings), sum(r[2] for r in readings)))
    if all(family == 'charge' or (family == 'energy' and volts) for family, _, _, volts in readings):
        scale = [Fraction(10**6, volts) if family == 'energy' else 1 for family, _, _, volts in readings]
        charge = [(now * k, full * k) for (_, now, full, _), k in zip(readings, scale)]
        return half_up(sum(c[0] for c in charge) / sum(c[1] for c in charge))
    percents = [half_up(Fraction(now, full)) for _, now, full, _ in readings]
    return half_up(Fraction(sum(percents), 100 * len(percents)))


def rounded(current, maximum):  # a capacity pair as powmeter rounds it
    if not isinstance(current, int) or not isinstance(maximum, int) or maximum <= 0:
        return f'{current}/{maximum}'
    return (current * 1000 // maximum + 5) // 10


def judge_level_line(out, level):
    expected = 'Failed to process ioreg\n' if level is None else f'Battery Level is {level}%\n'
    return [] if out == expected else [f'printed {out!r}']


def judge_pmset(out, level):
    found = re.findall(r'^ -InternalBattery-0(?: \(id=\d+\))?\t(\d+)%;', out, re.M)
    expected = [] if level is None else [str(level)]
    return [] if found == expected else [f'printed {out!r}']


def judge_listing(out, level):
    found = plistlib.loads(out.encode()) if out.strip() else []  # no match prints nothing
    if level is None or len(found) != 1:
        return [] if level is None and not found else [f'{len(found)} AppleSmartBattery']
    b, legacy = found[0], found[0].get('LegacyBatteryInfo', {})
    levels = {'StateOfCharge': b.get('BatteryData', {}).get('StateOfCharge'),
              'Current/MaxCapacity': rounded(b.get('CurrentCapacity'), b.get('MaxCapacity')),
              'LegacyBatteryInfo': rounded(legacy.get('Current'), legacy.get('Capacity'))}
    if 'AppleRawCurrentCapacity' in b or 'AppleRawMaxCapacity' in b:
        levels['AppleRaw'] = rounded(b.get('AppleRawCurrentCapacity'), b.get('AppleRawMaxCapacity'))
    return [f'{key} {value}' for key, value in levels.items() if value != level]


# What runs on each tree: (name, command line, environment besides PATH and SYSFS_PATH, judge
# of its standard output against the level). Every run must also end with 0 and no stderr.
# powmeter's level is the same whichever generation the stand-ins print as.
ERAS = ('2012', '2016', '2021')
CHECKS = [
    *[(f'powmeter, era {era}', ['powmeter'], {'POWMETER_ERA': era}, judge_level_line) for era in ERAS],
    ('ioreg -arn', ['ioreg', '-a', '-r', '-n', 'AppleSmartBattery'], {}, judge_listing),
    ('ioreg -arn, era 2021', ['ioreg', '-a', '-r', '-n', 'AppleSmartBattery'], {'POWMETER_ERA': '2021'}, judge_listing),
]


def check(index, args, bin_dir, work):
    entries = random_tree(random.Random(f'{args.seed}:{index}'))
    folder = tempfile.mkdtemp(prefix=f'tree{index}.', dir=work)
    Path(folder, 'class/power_supply').mkdir(parents=True)  # a machine without any has it too
    for name, attributes in entries.items():
        Path(folder, 'class/power_supply', name).mkdir()
        for attribute, value in attributes.items():
            Path(folder, 'class/power_supply', name, attribute).write_text(f'{value}\n')
    level, faults = truth(entries), []
    kept = {k: v for k, v in os.environ.items() if k in ('ASAN_OPTIONS', 'UBSAN_OPTIONS')}
    # pmset in one generation a tree, each in turn.
    for name, command, extra, judge in CHECKS + [('pmset -g batt', ['pmset', '-g', 'batt'],
                                                   {'POWMETER_ERA': ERAS[index % 3]}, judge_pmset)]:
        run = subprocess.run(command, env={'PATH': bin_dir, 'SYSFS_PATH': folder, **kept, **extra},
                             capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL)
        try:
            faults += [f'{name}: {fault}' for fault in judge(run.stdout, level)]
        except Exception as error:  # output that cannot be read at all
            faults.append(f'{name}: {error!r} reading {run.stdout[:200]!r}')
        if run.returncode or run.stderr:
            faults.append(f'{name}: status {run.returncode}, stderr {run.stderr!r}')
    if not faults:
        shutil.rmtree(folder)
        return None
    files = '; '.join(f'{n}: ' + ' '.join(f'{k}={v}' for k, v in a.items())
                      for n, a in entries.items())
    return '\n  '.join([f'seed {args.seed} tree {index} ({folder}), expected {level}', files, *faults])


def main():
    parser = argparse.ArgumentParser(description='Random trees against the level they hold')
    for program in ('powmeter', 'ioreg', 'pmset'):
        parser.add_argument(program)
    parser.add_argument('prefix', nargs='*', help='emulator that starts the built programs')
    parser.add_argument('--seed', type=int, default=1)
    parser.add_argument('--trees', type=int, default=300)
    parser.add_argument('--work', default=tempfile.gettempdir(), help='an existing folder')
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix='level_truth.', dir=args.work)
    os.mkdir(bin_dir := os.path.join(work, 'bin'))
    # powmeter starts its pipeline with /bin/sh itself; the pipeline needs ioreg, grep and tr.
    for tool in ('grep', 'tr'):
        os.symlink(shutil.which(tool), os.path.join(bin_dir, tool))
    for name, program in (('powmeter', args.powmeter), ('ioreg', args.ioreg), ('pmset', args.pmset)):
        path, program = os.path.join(bin_dir, name), os.path.abspath(program)
        if args.prefix:  # through the emulator
            Path(path).write_text(f'#!/bin/sh\nexec {" ".join(args.prefix)} \'{program}\' "$@"\n')
            os.chmod(path, 0o755)
        else:
            os.symlink(program, path)
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        results = pool.map(lambda index: check(index, args, bin_dir, work), range(args.trees))
    failures = [failure for failure in results if failure]
    # The first few failures in full; the rest are only counted.
    print(*failures[:5], f'seed {args.seed}: {len(failures)} of {args.trees} trees failed', sep='\n')
    if failures:
        print(f'failed trees kept under {work}')
        return 1
    shutil.rmtree(work)
    return 0


if __name__ == '__main__':
    raise SystemExit(main())
