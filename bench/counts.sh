#!/usr/bin/env bash
# Counts the instructions each assembler executes on each workload (under
# callgrind) and prints them beside Torvik's, with the same targets as
# run.sh: at most half the fastest peer, and a growth exponent of at most
# 1.05 over each series of one shape at growing sizes (scale-NNNNN,
# names-NNNNN). Instruction counts do not depend on other work on the
# machine, so this is the steady companion of run.sh's timings on a busy
# machine; it leaves out process start-up in the kernel, which wall time
# includes. z80asm is left out: on the symbol-heavy workloads it
# runs for minutes under callgrind.
#
#   bench/counts.sh [workload ...]      default: all workloads
#
#   TORVIK=path, BENCH_WORK=dir as for run.sh (the workloads are generated
#   there when missing). Exits 0 whatever the verdict.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
work=${BENCH_WORK:-$root/build/bench}
command -v valgrind >/dev/null || { echo "counts.sh: valgrind not found" >&2; exit 2; }

if [ -z "${TORVIK:-}" ]; then
  cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$root/build/release" --target Torvik >/dev/null
  TORVIK=$root/build/release/Torvik
fi
TORVIK=$(cd "$(dirname "$TORVIK")" && pwd)/$(basename "$TORVIK")

[ -d "$work/src" ] || python3 "$here/gen.py" "$work/src" >/dev/null
workloads=("$@")
[ ${#workloads[@]} -gt 0 ] || mapfile -t workloads < <(python3 "$here/gen.py" --list)

# Executed instructions of one command, run in the current directory.
count() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    sed -n 's/.*refs: *//p' | tr -d ,
}

out=$work/counts.txt
: >"$out"
for w in "${workloads[@]}"; do
  cd "$work/src/$w"
  echo "$w $(count "$TORVIK" main.asm counts.otk) $(count pasmo main.pasmo counts-pasmo.bin)" \
    "$(count z80-unknown-coff-as -o counts.o main.s)" >>"$out"
done

python3 - "$out" <<'EOF'
import math, sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip()]
print("Executed instructions (millions) and each peer's count over Torvik's.")
print("Target: Torvik at most half the fastest peer (ratio >= 2.0).")
print()
print("%-12s %10s %10s %10s %13s %14s  %s" % ("workload", "Torvik", "pasmo", "GNU as", "pasmo/Torvik", "GNU as/Torvik", "target"))
for w, t, p, g in rows:
    t, p, g = int(t), int(p), int(g)
    ok = min(p, g) / t >= 2.0
    print("%-12s %10.1f %10.1f %10.1f %13.2f %14.2f  %s" % (w, t / 1e6, p / 1e6, g / 1e6, p / t, g / t, "PASS" if ok else "FAIL"))
# A series is the workloads named NAME-NNNNN, the same shape at NNNNN symbols.
series = {}
for w, *r in rows:
    stem, _, size = w.rpartition("-")
    if stem and size.isdigit():
        series.setdefault(stem, []).append((int(size), [int(x) for x in r]))
for stem, points in sorted(series.items(), reverse=True):
    if len(points) < 2:
        continue
    points.sort()
    print()
    print("Growth exponent over the %s series (slope of log(count) against log(symbols);" % stem)
    print("last step alone in parentheses):")
    lx = [math.log(n) for n, _ in points]
    for i, name in enumerate(("Torvik", "pasmo", "GNU as")):
        ly = [math.log(c[i]) for _, c in points]
        mx, my = sum(lx) / len(lx), sum(ly) / len(ly)
        e = sum((a - mx) * (b - my) for a, b in zip(lx, ly)) / sum((a - mx) ** 2 for a in lx)
        last = (ly[-1] - ly[-2]) / (lx[-1] - lx[-2])
        verdict = ("  PASS" if e <= 1.05 else "  FAIL") if name == "Torvik" else ""
        print("  %-7s %.3f (%.3f)%s" % (name, e, last, verdict))
EOF
