#!/usr/bin/env bash
# Benchmarks Torvik against pasmo, z80asm and GNU as for z80.
#
#   bench/run.sh            build Torvik (release), generate the workloads,
#                           check every assembler's output, time them all
#   bench/run.sh --check    generate and check only, no timing
#
# Settings through the environment:
#   TORVIK=path     use this Torvik binary (tkinstr.tab beside it) instead of
#                   building build/release/Torvik
#   RUNS=n          exactly n timed runs per command (default: hyperfine's
#                   own count, at least MIN_RUNS and about 3 s per command)
#   MIN_RUNS=n      the least number of timed runs (default 10)
#   WARMUP=n        warm-up runs per command and round (default 3)
#   ROUNDS=n        rounds the runs are split into (default 4); the commands
#                   take turns round by round, in reversed order every other
#                   round, so that a machine whose speed drifts while the
#                   script runs does not favour the command timed first
#   ONLY="a b"      only these workloads (names from bench/gen.py --list)
#   BENCH_WORK=dir  where the sources, outputs and results go
#                   (default build/bench)
#
# Exit status: 0 when every assembler assembled every workload into the
# expected bytes, whether or not Torvik meets its speed targets; 1 when an
# assembler failed (non-zero exit, no output file, or code that differs from
# what the generator expects); 2 when a tool is missing.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
work=${BENCH_WORK:-$root/build/bench}
rounds=${ROUNDS:-4}
per_round() { echo $(( ($1 + rounds - 1) / rounds )); }
if [ -n "${RUNS:-}" ]; then
  run_args=(--runs "$(per_round "$RUNS")")
  runs_text="$RUNS timed runs"
else
  run_args=(--min-runs "$(per_round "${MIN_RUNS:-10}")" --max-runs "$(per_round 1000)")
  runs_text="at least ${MIN_RUNS:-10} timed runs (about 3 s a round)"
fi
warmup=${WARMUP:-3}
check_only=0
[ "${1:-}" = "--check" ] && check_only=1

need() {
  if ! command -v "$1" >/dev/null 2>&1; then
    echo "run.sh: $1 not found (install the package $2)" >&2
    exit 2
  fi
}
need python3 python3
need pasmo pasmo
need z80asm z80asm
need z80-unknown-coff-as binutils-z80
need z80-unknown-coff-objcopy binutils-z80
[ $check_only = 1 ] || need hyperfine hyperfine

if [ -z "${TORVIK:-}" ]; then
  need cmake cmake
  cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$root/build/release" --target Torvik >/dev/null
  TORVIK=$root/build/release/Torvik
fi
TORVIK=$(cd "$(dirname "$TORVIK")" && pwd)/$(basename "$TORVIK")
[ -x "$TORVIK" ] || { echo "run.sh: no Torvik binary at $TORVIK" >&2; exit 2; }
case "$TORVIK" in *" "*) echo "run.sh: the Torvik path must not hold blanks: $TORVIK" >&2; exit 2 ;; esac

src=$work/src
results=$work/results
rm -rf "$src" "$results"
mkdir -p "$src" "$results"

echo "Generating workloads in $src"
only_args=()
for w in ${ONLY:-}; do only_args+=(--only "$w"); done
python3 "$here/gen.py" "${only_args[@]}" "$src"
workloads=$(cd "$src" && ls)

# One run of each assembler in its own directory; the object or binary file
# must be written and hold the expected code.
failed=0
fail() {
  echo "  FAILED: $*"
  failed=1
}
# check_peer NAME LOG OUTPUT BINARY COMMAND...: runs a peer assembler in
# the workload's directory $d, its messages into LOG; it must exit 0 and
# write OUTPUT, and BINARY must hold the expected code. BINARY is OUTPUT
# itself, or else the code section copied out of the object file OUTPUT.
check_peer() {
  local name=$1 log=$2 output=$3 binary=$4
  shift 4
  local rc=0
  (cd "$d" && "$@" >"$log" 2>&1) || rc=$?
  if [ $rc != 0 ]; then
    fail "$w: $name exited with status $rc ($(head -n1 "$d/$log"))"
  elif [ ! -f "$d/$output" ]; then
    fail "$w: $name wrote no output"
  else
    [ "$binary" = "$output" ] || z80-unknown-coff-objcopy -O binary -j .text "$d/$output" "$d/$binary"
    python3 "$here/objcheck.py" bin "$d/$binary" "$d" | sed 's/^/  /' || fail "$w: $name wrote other code"
  fi
}
echo
echo "Checking outputs"
for w in $workloads; do
  d=$src/$w
  rm -f "$d"/main.otk "$d"/pasmo.bin "$d"/z80asm.bin "$d"/main.o "$d"/gnu.bin

  rc=0
  (cd "$d" && "$TORVIK" main.asm main.otk >torvik.log 2>&1) || rc=$?
  if [ $rc != 0 ]; then
    fail "$w: Torvik exited with status $rc ($(grep -m1 -E 'Error|Warning' "$d/torvik.log" || tail -n1 "$d/torvik.log"))"
  elif [ ! -s "$d/main.otk" ]; then
    fail "$w: Torvik wrote no object file"
  elif ! grep -q '0 error(s), 0 warning(s)' "$d/torvik.log"; then
    fail "$w: Torvik reported problems: $(tail -n1 "$d/torvik.log")"
  else
    python3 "$here/objcheck.py" otk "$d/main.otk" "$d" | sed 's/^/  /' || fail "$w: Torvik wrote wrong code"
  fi

  check_peer pasmo pasmo.log pasmo.bin pasmo.bin pasmo main.pasmo pasmo.bin
  check_peer z80asm z80asm.log z80asm.bin z80asm.bin z80asm -i main.z80asm -o z80asm.bin
  check_peer "GNU as" gnu.log main.o gnu.bin z80-unknown-coff-as -o main.o main.s
done

if [ $failed != 0 ]; then
  echo
  echo "run.sh: an assembler failed on its input; see the lines marked FAILED"
  exit 1
fi
[ $check_only = 1 ] && { echo; echo "All outputs as expected."; exit 0; }

echo
echo "Timing: $warmup warm-up runs and $runs_text per command, in $rounds rounds"
load_before=$(cut -d' ' -f1 /proc/loadavg)
commands=(
  -n torvik "$TORVIK main.asm main.otk"
  -n pasmo "pasmo main.pasmo pasmo.bin"
  -n z80asm "z80asm -i main.z80asm -o z80asm.bin"
  -n gnu "z80-unknown-coff-as -o main.o main.s"
)
reversed=()
for ((i = ${#commands[@]} - 3; i >= 0; i -= 3)); do reversed+=("${commands[@]:i:3}"); done
for round in $(seq "$rounds"); do
  echo "  round $round of $rounds"
  order=("${commands[@]}")
  [ $((round % 2)) = 0 ] && order=("${reversed[@]}")
  for w in $workloads; do
    d=$src/$w
    # Without a shell (-N), from inside the workload's directory, where
    # Torvik also writes its intermediate file.
    (cd "$d" && hyperfine -N --warmup "$warmup" "${run_args[@]}" --style basic \
      --export-json "$results/$w.round$round.json" "${order[@]}" \
      >"$results/$w.round$round.log" 2>&1) ||
      { echo "run.sh: hyperfine failed on $w, see $results/$w.round$round.log"; exit 1; }
  done
done

load_after=$(cut -d' ' -f1 /proc/loadavg)

echo
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "Load average (1 min) before and after timing: $load_before, $load_after"
if python3 -c "import sys; sys.exit(0 if max($load_before, $load_after) > $(nproc) / 2 else 1)"; then
  echo "Note: other work was running on this machine; wall times are inflated and noisy."
fi
echo "Torvik: $TORVIK"
echo
python3 "$here/report.py" "$results"
exit 0
