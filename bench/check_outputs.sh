#!/usr/bin/env bash
# Differential check of the benchmark workloads: each one is assembled by
# the given Torvik and must print a clean run, produce exactly the code and
# local relocations the generator computed for it, and write the very object
# file that the assembler wrote before any speed work (its SHA-256 is kept in
# expected-objects.sha256). Speed work must never change what it writes.
#
#   bench/check_outputs.sh PATH_TO_TORVIK
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
torvik=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 "$here/gen.py" --check "$work" >/dev/null
failures=0
for dir in "$work"/*/; do
  name=$(basename "$dir")
  expected=$(printf 'Loading instruction table "%s"\nAssembling "main.asm"\nFirst pass...\nSecond pass...\nAssembly complete - 0 error(s), 0 warning(s)' \
    "$(dirname "$torvik")/tkinstr.tab")
  if ! out=$(cd "$dir" && "$torvik" main.asm main.otk); then
    echo "FAILED $name: exit status $?"; echo "$out"; failures=$((failures + 1)); continue
  fi
  if [ "$out" != "$expected" ]; then
    echo "FAILED $name: unexpected output"; echo "$out"; failures=$((failures + 1)); continue
  fi
  if ! python3 "$here/objcheck.py" otk "$dir/main.otk" "$dir"; then
    echo "FAILED $name: object differs"; failures=$((failures + 1)); continue
  fi
  want=$(awk -v n="$name" '$2 == n { print $1 }' "$here/expected-objects.sha256")
  have=$(sha256sum "$dir/main.otk" | cut -d' ' -f1)
  if [ "$want" != "$have" ]; then
    echo "FAILED $name: object file differs from the one expected ($have)"; failures=$((failures + 1)); continue
  fi
done
[ "$failures" -eq 0 ] || { echo "$failures workload(s) failed"; exit 1; }
echo "all workloads assemble to the expected bytes"
