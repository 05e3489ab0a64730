#!/usr/bin/env python3
"""Sums the output of callgrind_annotate by function (inlined pieces of one
function are listed under several source files) and prints the top ones.

    callgrind_annotate --auto=no --inclusive=no --threshold=100 OUT | cgtop.py [N]"""

import collections
import re
import sys


def main(argv):
    count = int(argv[0]) if argv else 15
    total = None
    per_function = collections.Counter()
    for line in sys.stdin:
        m = re.match(r"\s*([\d,]+) \(\s*[\d.]+%\)\s+(\S.*)$", line)
        if not m:
            continue
        cost = int(m.group(1).replace(",", ""))
        where = m.group(2)
        if "PROGRAM TOTALS" in where:
            total = cost
            continue
        name = where.split(":", 1)[1] if ":" in where else where
        name = re.sub(r"\s*\[[^\]]*\]$", "", name)  # the object file
        name = re.sub(r"\(.*", "", name)  # the parameter list
        per_function[name.replace("torvik::", "")] += cost
    if not total:
        print("cgtop.py: no totals in the input")
        return 1
    print("%14s  %6s  %s" % ("Ir", "share", "function"))
    print("%14s  %6s  %s" % ("{:,}".format(total), "100%", "whole run"))
    # Recursive and mutually recursive calls count twice in inclusive costs;
    # entries above the whole run's cost say nothing and are left out.
    listed = [(n, c) for n, c in per_function.most_common() if n.strip() and c <= total]
    for name, cost in listed[:count]:
        print("%14s  %5.1f%%  %s" % ("{:,}".format(cost), 100.0 * cost / total, name))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
