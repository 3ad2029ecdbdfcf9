#!/usr/bin/env python3
"""Reads every quoted #include of the tree against the table of which folder may include what.

The component's layers only point down. Bottom first: base/; player_api/ (what is shipped to
players); res/ (resources and the generated interface headers); store/; launch/; adapters/ (the
component's adapters to the player); tips/; server/ (the COM server, on top). Each includes only
folders named before it, so no two folders include each other; the check also reads that from the
includes themselves. The reference host stands beside the component and shares only base/, the
record format of store/ and the declarations a player gets. Tests may use the component, the
reference host and the kit in tests/common, but not another test folder. Exit 1, with one line
per include, when an include breaks the table or names a file that does not exist.

Usage: check_includes.py ROOT [--expect-refused] [--pretend FILE:INCLUDE]...
  --pretend adds an include to FILE as if it were written there; with --expect-refused the
  exit status is 0 only when the table refuses every pretended include (a check of the check).
"""
import os
import re
import sys

SOURCE_SUFFIXES = ('.cpp', '.h', '.c', '.rc', '.idl')
SKIPPED_FOLDERS = {'.git', '.ci', 'docs', 'scripts'}
# Headers that the build generates (into the build folder); their names are all that is checked.
GENERATED = {'res/Cadenza_Upgrade.h', 'res/component_version.h', 'component_version.h', 'player_version.h'}

# What a player gets: the service declarations and the common libraries' declarations.
HOST_DECLARATIONS = ['player_api/host_services.h', 'player_api/cadenza_common.h']
# The record format that the stand-in updater and the sample-record tool share with the component.
STORE_FORMAT = ['store/']
COMPONENT = ['base/', 'player_api/', 'res/', 'store/', 'launch/', 'adapters/', 'tips/', 'server/']
REFHOST = ['base/', 'res/', 'refhost/'] + STORE_FORMAT + HOST_DECLARATIONS

# The sample player (sample/) is built from the package alone: besides its own files it includes
# only the package's include/ files, by bare name (the include folder is on its path).
PACKAGE_INCLUDES = {'host_services.h', 'cadenza_common.h', 'Cadenza_Upgrade.h', 'Cadenza_Upgrade_i.c'}

# (folder, what files in it may include), the longest folder that matches a file wins. An entry
# ending in '/' allows a whole folder, any other a single file.
RULES = [
    ('base/', ['base/']),
    ('player_api/', ['player_api/']),
    ('res/', ['res/']),
    ('store/', ['base/', 'store/']),
    ('launch/', ['base/', 'store/', 'launch/']),
    ('adapters/', ['base/', 'player_api/', 'adapters/']),
    # The tips window reaches the server only through COM (the IUpgradeHost it is handed).
    ('tips/', ['base/', 'player_api/', 'res/', 'store/', 'launch/', 'adapters/', 'tips/']),
    ('server/', COMPONENT),
    ('refhost/', REFHOST),
    # Built by another compiler for the Microsoft ABI, without the platform's headers.
    ('refhost/mfc/', ['refhost/mfc/', 'player_api/cadenza_common.h']),
    ('sample/', []),
    ('tests/common/', COMPONENT + REFHOST + ['tests/common/']),
    ('bench/', COMPONENT + REFHOST + ['tests/common/', 'bench/']),
]
# Each test folder: the component, the reference host, the kit and itself.
TEST_FOLDERS = ['tests/base/', 'tests/store/', 'tests/launch/', 'tests/host/', 'tests/tips/', 'tests/refhost/', 'tests/e2e/']
RULES += [(folder, COMPONENT + REFHOST + ['tests/common/', folder]) for folder in TEST_FOLDERS]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def rule_for(path):
    best = None
    for folder, allowed in RULES:
        if path.startswith(folder) and (best is None or len(folder) > len(best[0])):
            best = (folder, allowed)
    return best


def allowed_by(target, allowed):
    return any(target == entry or (entry.endswith('/') and target.startswith(entry)) for entry in allowed)


def sources(root):
    for folder, subfolders, files in os.walk(root):
        rel = os.path.relpath(folder, root).replace(os.sep, '/')
        top = rel.split('/')[0]
        if top in SKIPPED_FOLDERS or top.startswith('build'):
            subfolders[:] = []
            continue
        for name in files:
            if name.endswith(SOURCE_SUFFIXES):
                yield (name if rel == '.' else rel + '/' + name)


def includes_of(root, path):
    with open(os.path.join(root, path), encoding='utf-8', errors='replace') as f:
        for number, line in enumerate(f, 1):
            match = INCLUDE.match(line)
            if match:
                yield number, match.group(1)


def check(root, pretend):
    faults = []
    files = sorted(set(sources(root)) | {p for p, _ in pretend})
    for path in files:
        found = list(includes_of(root, path)) if os.path.exists(os.path.join(root, path)) else []
        found += [(0, inc) for p, inc in pretend if p == path]
        rule = rule_for(path)
        for number, target in found:
            where = '%s:%d' % (path, number)
            if '/' not in target:  # beside the file, or generated into the build folder
                beside = os.path.join(root, os.path.dirname(path), target)
                if path.startswith('sample/'):
                    if not os.path.exists(beside) and target not in PACKAGE_INCLUDES:
                        faults.append('%s: sample/ may include only its own files and the package\'s '
                                      'include/ ("%s")' % (where, target))
                elif not os.path.exists(beside) and target not in GENERATED:
                    faults.append('%s: "%s" does not exist' % (where, target))
                continue
            if target not in GENERATED and not os.path.exists(os.path.join(root, target)):
                faults.append('%s: "%s" does not exist' % (where, target))
            if rule is None:
                faults.append('%s: no rule for this folder (add one to %s)' % (where, os.path.basename(__file__)))
            elif not allowed_by(target, rule[1]):
                faults.append('%s: %s may not include "%s"' % (where, rule[0], target))
    faults += mutual_includes(root, files)
    return len(files), faults


def mutual_includes(root, files):
    """Two folders that include each other (a circle the table would not show on its own)."""
    edges = {}
    for path in files:
        if not os.path.exists(os.path.join(root, path)) or rule_for(path) is None:
            continue
        source = rule_for(path)[0]
        for number, target in includes_of(root, path):
            owner = rule_for(target)
            if '/' in target and owner is not None and owner[0] != source:
                edges.setdefault((source, owner[0]), '%s:%d' % (path, number))
    return ['%s: %s and %s include each other (also %s)' % (where, a, b, edges[(b, a)])
            for (a, b), where in sorted(edges.items()) if a < b and (b, a) in edges]


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    root = argv[1]
    pretend = []
    args = argv[2:]
    expect_refused = bool(args) and args[0] == '--expect-refused'
    if expect_refused:
        args = args[1:]
    while args:
        if args[0] != '--pretend' or len(args) < 2 or ':' not in args[1]:
            print(__doc__)
            return 2
        pretend.append(tuple(args[1].split(':', 1)))
        args = args[2:]
    count, faults = check(root, pretend)
    if expect_refused:
        missed = [p + ':' + inc for p, inc in pretend
                  if not any(f.startswith(p + ':0: ') and ('may not include "%s"' % inc) in f for f in faults)]
        for m in missed:
            print('not refused: ' + m)
        print('%d pretended includes, %d refused' % (len(pretend), len(pretend) - len(missed)))
        return 1 if missed or not pretend else 0
    for fault in faults:
        print(fault)
    print('%d files read, %d includes against the table' % (count, len(faults)) if faults else
          '%d files read; every include keeps to the table' % count)
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
