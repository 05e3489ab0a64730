#!/bin/sh
# Installs the build into a fresh prefix and moves the prefix elsewhere;
# then the Z80 Torvik and each CPU's command, found through PATH (the
# commands through links in another directory), assemble their examples
# with their own tables, and otkdump lists each object with that table as
# listings/CPU.txt holds.
#
#   check_install.sh CMAKE BUILD_DIR SOURCE_DIR WORK_DIR
set -u
cmake=$1 build=$2 source=$3 work=$4
status=0
fail() { echo "install: $*"; status=1; }

rm -rf "$work" && mkdir -p "$work" || exit 2
"$cmake" --install "$build" --prefix "$work/prefix" > "$work/install.log" || { cat "$work/install.log"; exit 1; }
mv "$work/prefix" "$work/moved" || exit 2
prefix=$(cd "$work/moved" && pwd -P)
mkdir "$work/links" && ln -s "$prefix"/bin/torvik-* "$work/links/" || exit 2
PATH=$work/links:$prefix/bin:$PATH
export PATH

mkdir "$work/z80" && cp "$source/examples/hello.asm" "$source/examples/mathlib.inc" "$work/z80/" || exit 2
(cd "$work/z80" && Torvik hello.asm hello.otk > run.txt) || fail "z80: $(cat "$work/z80/run.txt")"
grep -qx "Loading instruction table \"$prefix/bin/tkinstr.tab\"" "$work/z80/run.txt" || fail "z80: not the table in bin"

for cpu in z180 r800 z80n sm83 ez80; do
  dir=$prefix/lib/torvik/$cpu
  out=$work/$cpu
  mkdir "$out" && cp "$source/examples/$cpu.asm" "$out/" || exit 2
  cmp -s "$dir/tkinstr.tab" "$source/tables/$cpu.tab" || fail "$cpu: $dir/tkinstr.tab is not tables/$cpu.tab"
  [ "$(wc -l < "$prefix/bin/torvik-$cpu")" -eq 2 ] || fail "$cpu: bin/torvik-$cpu is not two lines"
  (cd "$out" && "torvik-$cpu" "$cpu.asm" "$cpu.otk" > run.txt) || fail "$cpu: $(cat "$out/run.txt")"
  grep -qx "Loading instruction table \"$dir/tkinstr.tab\"" "$out/run.txt" || fail "$cpu: not its own table"
  (cd "$out" && otkdump -t "$dir/tkinstr.tab" -s "$cpu.asm" "$cpu.otk" > listing.txt) || fail "$cpu: otkdump failed"
  diff -u "$source/tests/install/listings/$cpu.txt" "$out/listing.txt" || fail "$cpu: the listing differs"
done
[ $status -eq 0 ] && rm -rf "$work"
exit $status
