#!/usr/bin/env python3
"""Fails when compiled code takes from the C++ library a part that Apple's libc++ provides only on
a macOS newer than our floor (packaging/macos-floor). packaging/libcxx-availability dates those parts
by the symbols that stand for them; this reads the symbols that every object file under the given
directories takes from elsewhere (nm, demangled) and looks each one up there.

usage: check-libcxx-floor.py [--floor VERSION] DIRECTORY...
"""

import argparse
import collections
import os
import pathlib
import re
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
UNDEFINED = re.compile(r"^(.*?):\s+U (.+)$")

Part = collections.namedtuple("Part", "version symbol feature")


def version(text):
    return tuple(int(number) for number in text.strip().split("."))


def shown(numbers):
    return ".".join(str(number) for number in numbers)


def availability(path):
    parts = []
    for number, line in enumerate(path.read_text().splitlines(), 1):
        if not line.strip() or line.startswith("#"):
            continue
        fields = line.split("\t")
        if len(fields) != 3:
            raise SystemExit(f"{path.name}:{number}: want version, symbol and feature separated by tabs")
        parts.append(Part(version(fields[0]), re.compile(fields[1]), fields[2]))
    return parts


def undefined_symbols(objects):
    """(object, demangled symbol) for every symbol an object takes from elsewhere."""
    environment = dict(os.environ, LC_ALL="C")
    for start in range(0, len(objects), 200):
        chunk = [str(path) for path in objects[start:start + 200]]
        listing = subprocess.run(["nm", "--demangle", "--undefined-only", "--print-file-name", *chunk],
                                 check=True, stdout=subprocess.PIPE, text=True, env=environment).stdout
        for line in listing.splitlines():
            match = UNDEFINED.match(line)
            if match:
                yield match.group(1), match.group(2)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--floor", help="oldest macOS to allow (default: packaging/macos-floor)")
    parser.add_argument("directories", nargs="+", type=pathlib.Path)
    options = parser.parse_args()

    floor = version(options.floor or (HERE / "macos-floor").read_text().splitlines()[0])
    parts = availability(HERE / "libcxx-availability")
    objects = sorted(path for directory in options.directories for path in directory.rglob("*.o"))
    if not objects:
        print(f"check-libcxx-floor: no object file under {' '.join(map(str, options.directories))}")
        return 1

    above, within = collections.defaultdict(list), collections.Counter()
    for obj, symbol in undefined_symbols(objects):
        for part in parts:
            if part.symbol.search(symbol):
                if part.version > floor:
                    above[(obj, part)].append(symbol)
                else:
                    within[part] += 1
    for (obj, part), symbols in above.items():
        more = f" and {len(symbols) - 1} more" if len(symbols) > 1 else ""
        print(f"check-libcxx-floor: {obj}: {part.feature}: macOS {shown(part.version)}, above the floor "
              f"{shown(floor)}: {symbols[0]}{more}")
    for part, count in sorted(within.items(), key=lambda item: item[0].version):
        print(f"check-libcxx-floor: at or below the floor: {part.feature}: macOS {shown(part.version)} "
              f"({count} references)")
    references = sum(len(symbols) for symbols in above.values())
    print(f"check-libcxx-floor: {len(objects)} object files, {references} references above macOS {shown(floor)}")
    return 1 if above else 0


if __name__ == "__main__":
    sys.exit(main())
