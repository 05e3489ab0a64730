#!/usr/bin/env bash
# Profiles Torvik under callgrind on each benchmark workload and prints, per
# workload, the functions with the largest share of executed instructions,
# by their own cost and including their callees. Instruction counts do not
# depend on other work on the machine, unlike times.
#
#   bench/profile.sh [workload ...]     default: symbols code lines
#
#   TORVIK=path   the binary to profile (best built with -g); default: a
#                 Release build with debug information in build/profile
#   BENCH_WORK    as for run.sh; the workloads are generated there if missing
#   TOP=n         functions to list (default 15)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
work=${BENCH_WORK:-$root/build/bench}
top=${TOP:-15}
command -v valgrind >/dev/null || { echo "profile.sh: valgrind not found" >&2; exit 2; }

if [ -z "${TORVIK:-}" ]; then
  cmake -S "$root" -B "$root/build/profile" -DCMAKE_BUILD_TYPE=Release -DTORVIK_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="-g -fno-omit-frame-pointer" >/dev/null
  cmake --build "$root/build/profile" --target Torvik >/dev/null
  TORVIK=$root/build/profile/Torvik
fi
TORVIK=$(cd "$(dirname "$TORVIK")" && pwd)/$(basename "$TORVIK")

[ -d "$work/src" ] || python3 "$here/gen.py" "$work/src" >/dev/null
mkdir -p "$work/profile"
workloads=("$@")
[ ${#workloads[@]} -gt 0 ] || workloads=(symbols code lines)

for w in "${workloads[@]}"; do
  dir=$work/profile/$w
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$work/src/$w"/*.asm "$dir"/
  out=$work/profile/callgrind.$w
  (cd "$dir" && valgrind --tool=callgrind --callgrind-out-file="$out" "$TORVIK" main.asm main.otk >/dev/null 2>"$dir/valgrind.txt")
  echo "=== $w: own cost"
  callgrind_annotate --auto=no --inclusive=no --threshold=100 "$out" | python3 "$here/cgtop.py" "$top"
  echo
  echo "=== $w: including callees"
  callgrind_annotate --auto=no --inclusive=yes --threshold=100 "$out" | python3 "$here/cgtop.py" "$((top + 8))" |
    grep -v -E ' (main|__libc_start[_a-zA-Z@.0-9]*|_start|0x[0-9a-f]+)$' || true
  echo
done
echo "callgrind files in $work/profile (callgrind_annotate FILE for line-level detail)"
