#!/usr/bin/env python3
"""Checks that the undocumented table holds every row of the documented one,
in the same order, so that installing it loses nothing.

    superset.py DOCUMENTED.tab UNDOCUMENTED.tab"""

import sys


def rows(path):
    """The table's rows as tuples of their five fields, comments dropped."""
    found = []
    with open(path, encoding="latin-1") as table:
        for line in table:
            fields = line.split(";", 1)[0].split()
            if fields:
                found.append(tuple(fields[:5]))
    return found


def main(argv):
    if len(argv) != 2:
        print(__doc__)
        return 2
    documented, undocumented = rows(argv[0]), rows(argv[1])
    position = 0
    for row in documented:
        try:
            position = undocumented.index(row, position) + 1
        except ValueError:
            print("missing from %s or out of order: %s" % (argv[1], " ".join(row)))
            return 1
    print("%d documented rows stand in order among %d rows" % (len(documented), len(undocumented)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
