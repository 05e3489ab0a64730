#!/bin/sh
# Every manual page given formats without a single warning (groff -man -ww
# -z prints nothing) and renders through man -l with its NAME section.
#
#   check_pages.sh PAGE...
#
# Exit status 0 when all pass, 1 otherwise, 77 when groff or man is missing.
command -v groff >/dev/null 2>&1 && command -v man >/dev/null 2>&1 || { echo "groff or man is not installed"; exit 77; }
passed=0
failed=0
for page in "$@"; do
  ok=1
  warnings=$(groff -man -ww -z "$page" 2>&1)
  if [ -n "$warnings" ]; then
    printf '%s: groff says:\n%s\n' "$page" "$warnings"
    ok=0
  fi
  if ! rendered=$(MANPAGER=cat MANWIDTH=80 man -l "$page" 2>&1); then
    printf '%s: man -l fails:\n%s\n' "$page" "$rendered"
    ok=0
  elif ! printf '%s\n' "$rendered" | grep -q '^NAME$'; then
    printf '%s: man -l shows no NAME section:\n%s\n' "$page" "$rendered"
    ok=0
  fi
  if [ "$ok" = 1 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
