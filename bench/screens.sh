#!/usr/bin/env bash
# The comparison screens of Keldrun.exe on two snapshots of 1,000,000 files and 200,000 keys,
# under Wine and Xvfb in a fresh prefix: the time from Compare to the painted Registry screen,
# to the painted Files screen, to the listed folder of 50,000 files, and the program's peak
# memory. Printed, never a test. The workspace is written by build/native/screens_data through
# the engine's snapshot writer; screens_bench.exe drives the program from outside.
#
# usage: bench/screens.sh [RUNS]     (default 3; each run starts the program afresh)
# Needs build/native/screens_data and build/win64/{Keldrun,screens_bench}.exe (see README).
set -euo pipefail
source "$(dirname "$0")/../tests/wine/lib.sh"

runs=${1:-3}
data=$KELDRUN_NATIVE_BUILD/screens_data
require "$data" "$KELDRUN_WIN_BUILD/Keldrun.exe" "$KELDRUN_WIN_BUILD/screens_bench.exe"
work=$(mktemp -d /tmp/keldrun-screens.XXXXXX)
prefix=$work/prefix
trap 'end_prefix "$prefix"; rm -rf "$work"' EXIT
make_prefix "$prefix"

home=$prefix/drive_c/Keldrun
mkdir -p "$home/data"
cp "$KELDRUN_WIN_BUILD/Keldrun.exe" "$home/"
cp "$KELDRUN_WIN_BUILD/screens_bench.exe" "$work/"
"$data" "$home"
ls -l "$home"/data/*.snp | awk '{ printf "  %s: %.1f MB\n", $NF, $5 / 1048576 }'

bench=$(WINEPREFIX=$prefix winepath -w "$work/screens_bench.exe" 2>/dev/null)
end_prefix "$prefix"
# The folder C:\big in Full: 49,950 unchanged rows, 50 changed files as "old" and "new", 10 added.
for i in $(seq 1 "$runs"); do
  echo "run $i:"
  WINEPREFIX=$prefix timeout 600 xvfb-run -a -s "-screen 0 1280x1024x24" \
    wine "$bench" 'C:\Keldrun\Keldrun.exe' 50060 | tr -d '\r' | sed 's/^/  /'
  end_prefix "$prefix"
done
