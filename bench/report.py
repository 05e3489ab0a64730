#!/usr/bin/env python3
"""Reads the hyperfine JSON files that run.sh exported and prints the
comparison: median times, each peer's median over Torvik's, the targets
(Torvik at most half the fastest peer on every workload; growth exponent at
most 1.05 over each series of one shape at growing sizes, NAME-NNNNN) and PASS/FAIL against them.

    report.py RESULTS_DIR [--markdown]

RESULTS_DIR holds one <workload>.json per workload, or one
<workload>.round<k>.json per workload and round, each with the commands
named torvik, pasmo, z80asm and gnu; the runs of all rounds are taken
together. The exit status is 0 whatever the
verdict; it is 2 only when the results cannot be read."""

import json
import math
import os
import statistics
import sys

ASSEMBLERS = ("torvik", "pasmo", "z80asm", "gnu")
PEERS = ASSEMBLERS[1:]
LABEL = {"torvik": "Torvik", "pasmo": "pasmo", "z80asm": "z80asm", "gnu": "GNU as"}
MAIN_WORKLOADS = ("symbols", "code", "lines")
RATIO_TARGET = 2.0  # fastest peer median / Torvik median, at least
EXPONENT_TARGET = 1.05


cpu_results = {}


def workload_of(fname):
    """The workload a results file belongs to: <workload>.json, or
    <workload>.round<k>.json for one round of several."""
    name = fname[:-len(".json")]
    stem, dot, part = name.rpartition(".")
    return stem if dot and part.startswith("round") else name


def load(directory):
    """Median wall time and mean CPU time of each command per workload, over
    the runs of all rounds together."""
    times = {}
    cpu_sums = {}
    for fname in sorted(os.listdir(directory)):
        if not fname.endswith(".json"):
            continue
        with open(os.path.join(directory, fname)) as f:
            data = json.load(f)
        workload = workload_of(fname)
        for r in data["results"]:
            times.setdefault(workload, {}).setdefault(r["command"], []).extend(r["times"])
            total, count = cpu_sums.setdefault(workload, {}).get(r["command"], (0.0, 0))
            runs = len(r["times"])
            cpu_sums[workload][r["command"]] = (total + (r["user"] + r["system"]) * runs, count + runs)
    results = {}
    for workload, commands in times.items():
        results[workload] = {c: statistics.median(t) for c, t in commands.items()}
        cpu_results[workload] = {c: total / count for c, (total, count) in cpu_sums[workload].items()}
    return results


def slope(xs, ys):
    lx = [math.log(x) for x in xs]
    ly = [math.log(y) for y in ys]
    mx = sum(lx) / len(lx)
    my = sum(ly) / len(ly)
    return sum((a - mx) * (b - my) for a, b in zip(lx, ly)) / sum((a - mx) ** 2 for a in lx)


def ms(t):
    return "%.2f" % (t * 1000.0)


def table(rows, markdown):
    widths = [max(len(str(r[i])) for r in rows) for i in range(len(rows[0]))]
    out = []
    for n, r in enumerate(rows):
        if markdown:
            out.append("| " + " | ".join(str(c) for c in r) + " |")
            if n == 0:
                out.append("|" + "|".join("---" for _ in r) + "|")
        else:
            out.append("  ".join(str(c).rjust(w) if i else str(c).ljust(w) for i, (c, w) in enumerate(zip(r, widths))))
    return "\n".join(out)


def series(workloads):
    """The workloads named NAME-NNNNN, by NAME, as sorted (NNNNN, workload) pairs."""
    found = {}
    for w in workloads:
        stem, _, size = w.rpartition("-")
        if stem and size.isdigit():
            found.setdefault(stem, []).append((int(size), w))
    return {stem: sorted(points) for stem, points in found.items()}


def main(argv):
    if not argv or argv[0].startswith("-"):
        print(__doc__)
        return 2
    markdown = "--markdown" in argv
    try:
        results = load(argv[0])
    except (OSError, ValueError, KeyError) as e:
        print("report.py: cannot read results: %s" % e)
        return 2
    workloads = [w for w in MAIN_WORKLOADS if w in results] + sorted(w for w in results if w not in MAIN_WORKLOADS)
    verdicts = []

    header = ["workload"] + ["%s ms" % LABEL[a] for a in ASSEMBLERS] + ["%s/Torvik" % LABEL[p] for p in PEERS] + ["target"]
    rows = [header]
    for w in workloads:
        m = results[w]
        t = m["torvik"]
        fastest = min(m[p] for p in PEERS)
        ok = fastest / t >= RATIO_TARGET
        verdicts.append(ok)
        rows.append([w] + [ms(m[a]) for a in ASSEMBLERS] + ["%.2f" % (m[p] / t) for p in PEERS] + ["PASS" if ok else "FAIL"])
    print("Median wall time per run (hyperfine), and each peer's median over Torvik's.")
    print("Target: Torvik's median at most half the fastest peer's (ratio to the fastest peer >= %.1f)." % RATIO_TARGET)
    print()
    print(table(rows, markdown))
    print()

    # CPU time is less disturbed by other work on the machine than wall time;
    # it is shown for reference and judged against no target.
    rows = [["workload"] + ["%s ms" % LABEL[a] for a in ASSEMBLERS] + ["%s/Torvik" % LABEL[p] for p in PEERS]]
    for w in workloads:
        c = cpu_results[w]
        rows.append([w] + [ms(c[a]) for a in ASSEMBLERS] + ["%.2f" % (c[p] / c["torvik"]) for p in PEERS])
    print("For reference: CPU time per run (user + system, mean over the runs).")
    print()
    print(table(rows, markdown))
    print()

    for stem, points in sorted(series(workloads).items(), reverse=True):
        if len(points) < 2:
            continue
        sizes = [n for n, _ in points]
        rows = [["assembler", "exponent (fit)", "exponent (last step)", "target"]]
        for a in ASSEMBLERS:
            times = [results[w][a] for _, w in points]
            e = slope(sizes, times)
            last = math.log(times[-1] / times[-2]) / math.log(sizes[-1] / sizes[-2])
            verdict = ""
            if a == "torvik":
                ok = e <= EXPONENT_TARGET
                verdicts.append(ok)
                verdict = "PASS" if ok else "FAIL"
            rows.append([LABEL[a], "%.3f" % e, "%.3f" % last, verdict])
        print("Growth over the %s series (%s symbols): least-squares slope of" % (stem, ", ".join(str(n) for n in sizes)))
        print("log(median time) against log(symbols); the last step is the slope from")
        print("%d to %d symbols alone. Target for Torvik: at most %.2f." % (sizes[-2], sizes[-1], EXPONENT_TARGET))
        print()
        print(table(rows, markdown))
        print()

    print("Overall: %s (%d of %d targets met)" % ("PASS" if all(verdicts) else "FAIL", sum(verdicts), len(verdicts)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
