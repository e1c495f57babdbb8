#!/usr/bin/env bash
# The comparison screens of Keldrun.exe on two snapshots of 1,000,000 files and 200,000 keys,
# under Wine and Xvfb in a fresh prefix: the time from Compare to the painted Registry screen,
# to the painted Files screen, to the listed folder of 50,000 files, and the program's peak
# memory. Printed, never a test. The workspace is written by build/native/screens_data through
# the engine's snapshot writer; screens_bench.exe drives the program from outside.
#
# With --expand instead: numeric-keypad "*" on the root of a Full-mode Registry tree of 12,263
# keys (one snapshot of the tree of bench/tree_shape.h, viewed) until every key is in the tree
# and painted, beside a bare tree view doing the same lazy fill in the same run
# (tree_expand_bench.exe).
#
# usage: bench/screens.sh [--expand] [RUNS]     (default 3; each run starts the program afresh)
# Needs build/native/screens_data and build/win64/{Keldrun,screens_bench,tree_expand_bench}.exe
# (see README).
set -euo pipefail
source "$(dirname "$0")/../tests/wine/lib.sh"

expand=
if [ "${1:-}" = --expand ]; then expand=1; shift; fi
runs=${1:-3}
data=$KELDRUN_NATIVE_BUILD/screens_data
driver=screens_bench.exe
[ -z "$expand" ] || driver=tree_expand_bench.exe
require "$data" "$KELDRUN_WIN_BUILD/Keldrun.exe" "$KELDRUN_WIN_BUILD/$driver"
work=$(mktemp -d /tmp/keldrun-screens.XXXXXX)
prefix=$work/prefix
trap 'end_prefix "$prefix"; rm -rf "$work"' EXIT
make_prefix "$prefix"

home=$prefix/drive_c/Keldrun
mkdir -p "$home/data"
cp "$KELDRUN_WIN_BUILD/Keldrun.exe" "$home/"
cp "$KELDRUN_WIN_BUILD/$driver" "$work/"
"$data" "$home" ${expand:+--expand}
ls -l "$home"/data/*.snp | awk '{ printf "  %s: %.1f MB\n", $NF, $5 / 1048576 }'

bench=$(WINEPREFIX=$prefix winepath -w "$work/$driver" 2>/dev/null)
end_prefix "$prefix"
if [ -n "$expand" ]; then
  WINEPREFIX=$prefix timeout 3600 xvfb-run -a -s "-screen 0 1280x1024x24" \
    wine "$bench" 'C:\Keldrun\Keldrun.exe' "$runs" | tr -d '\r'
  exit 0
fi
# The folder C:\big in Full: 49,950 unchanged rows, 50 changed files as "old" and "new", 10 added.
for i in $(seq 1 "$runs"); do
  echo "run $i:"
  WINEPREFIX=$prefix timeout 600 xvfb-run -a -s "-screen 0 1280x1024x24" \
    wine "$bench" 'C:\Keldrun\Keldrun.exe' 50060 | tr -d '\r' | sed 's/^/  /'
  end_prefix "$prefix"
done
