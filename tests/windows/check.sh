#!/bin/sh
# The Windows programs under Wine: the end-to-end cases and the concurrent
# runs in one directory against Torvik.exe (from the Linux build's test
# runner, through the Windows launcher that passes each case's program
# name on), the oracle check of the default table, and the release zip.
# Prints the reason of every case skipped on Windows.
#
#   check.sh LINUX_BUILD WINDOWS_BUILD SOURCE_DIR [WINE]
set -u
linux=$(cd "$1" && pwd) windows=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
wine=${4:-/usr/lib/wine/wine64}
[ -x "$wine" ] || { echo "windows: cannot run $wine (Debian: wine64)"; exit 1; }

# Wine's own prefix (made once, in a few seconds) and one server for all
# the runs, so that each program starts in milliseconds; the server ends
# by itself soon after the last of them.
WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
export WINEDEBUG WINEDLLOVERRIDES LC_ALL
mkdir -p "${WINEPREFIX:-$HOME/.wine}"
"$(dirname "$wine")/wineserver" -p30
"$wine" wineboot --init > "$windows/wineboot.log" 2>&1

passed=0 failed=0
check() {
  name=$1
  shift
  if "$@" > "$windows/check-$name.log" 2>&1; then
    passed=$((passed + 1))
    echo "windows: $name passed"
  else
    failed=$((failed + 1))
    echo "windows: $name FAILED"
    tail -n 60 "$windows/check-$name.log"
  fi
}

check e2e env TORVIK_TEST_PROGRAM="$windows/Torvik.exe" TORVIK_TEST_LAUNCHER="$wine $windows/torvik_launch.exe" \
  "$linux/tests/torvik_e2e_tests" --gtest_filter='Cases/*:Concurrency.*'
awk '/^not on Windows: / { reason = substr($0, 17) }
     /^\[  SKIPPED \] .* \([0-9]+ ms\)$/ { sub(/^Cases\/EndToEnd.Case\//, "", $4); print "windows: skipped " $4 ": " reason }' \
  "$windows/check-e2e.log"
check oracle_z80 python3 "$source/tests/oracle/oracle.py" --torvik "$windows/Torvik.exe" --launcher "$wine" \
  --table "$source/tables/z80.tab"
check dist python3 "$source/tests/windows/check_dist.py" "$windows"/torvik-*-windows-x86_64.zip "$source"

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
