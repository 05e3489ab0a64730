#!/usr/bin/env python3
"""Compares an assembler's output with the bytes gen.py expects.

    objcheck.py otk FILE.otk WORKLOAD_DIR   Torvik object file: its code and
                                            its local relocations
    objcheck.py bin FILE.bin WORKLOAD_DIR   a flat binary: its bytes

WORKLOAD_DIR holds expected.bin and expected.relocs. Prints one line; exits
0 when everything matches and 1 when it does not (or the file is cut short)."""

import os
import sys


def u16(data, pos):
    if pos + 2 > len(data):
        raise ValueError("file ends inside a 16-bit field at offset %d" % pos)
    return data[pos] | data[pos + 1] << 8


def read_otk(path):
    with open(path, "rb") as f:
        return read_otk_bytes(f.read())


def read_otk_bytes(data):
    """The code and the local relocation addresses of an object file."""
    size = u16(data, 0)
    code = data[2 : 2 + size]
    if len(code) != size:
        raise ValueError("code section cut short")
    pos = 2 + size
    count = u16(data, pos)
    relocs = [u16(data, pos + 2 + 2 * i) for i in range(count)]
    return code, relocs


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return "first difference at offset %d (0x%04X): %02X, expected %02X" % (i, i, x, y)
    return "lengths %d, expected %d" % (len(a), len(b))


def main(argv):
    if len(argv) != 3 or argv[0] not in ("otk", "bin"):
        print(__doc__)
        return 2
    kind, path, wdir = argv
    with open(os.path.join(wdir, "expected.bin"), "rb") as f:
        expected = f.read()
    try:
        if kind == "otk":
            code, relocs = read_otk(path)
        else:
            with open(path, "rb") as f:
                code, relocs = f.read(), None
    except (OSError, ValueError) as e:
        print("%s: unreadable: %s" % (path, e))
        return 1
    problems = []
    if code != expected:
        problems.append("code differs: " + first_difference(code, expected))
    if relocs is not None:
        with open(os.path.join(wdir, "expected.relocs")) as f:
            want = [int(x) for x in f.read().split()]
        if relocs != want:
            problems.append("relocations differ: %d recorded, %d expected" % (len(relocs), len(want)))
    if problems:
        print("%s: %s" % (path, "; ".join(problems)))
        return 1
    print("%s: %d code bytes as expected%s" % (path, len(code), "" if relocs is None else ", %d relocations" % len(relocs)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
