#!/usr/bin/env bash
# Times Keldrun.exe from process start to the first paint of its main window with a catalog of
# 200 snapshots, under Wine and Xvfb in a fresh prefix, against three peers, runs of the four
# alternating: the floor of any window program (startup_bench.exe's own window: OLE, the common
# controls, one window with an empty list), that floor with the program's common controls
# (version 6 and visual styles, as Keldrun.exe's manifest asks) and the same window made bare
# (the program's dialog templates, tab row, columns, 200 rows and filled boxes, with its common
# controls); the last two are a copy of startup_bench.exe beside Keldrun.exe's manifest. Prints
# each run, the medians and the ratios.
# The workspace: one snapshot of a small folder taken by the native keldrun, exported once and
# imported 199 times.
#
# usage: bench/startup.sh [RUNS]     (default 7)
# Needs build/native/keldrun and build/win64/{Keldrun,startup_bench}.exe (see README).
set -euo pipefail
source "$(dirname "$0")/../tests/wine/lib.sh"

runs=${1:-7}
native=$KELDRUN_NATIVE_BUILD/keldrun
require "$native" "$KELDRUN_WIN_BUILD/Keldrun.exe" "$KELDRUN_WIN_BUILD/startup_bench.exe"
work=$(mktemp -d /tmp/keldrun-startup.XXXXXX)
prefix=$work/prefix
trap 'end_prefix "$prefix"; rm -rf "$work"' EXIT
make_prefix "$prefix"

home=$prefix/drive_c/Keldrun
mkdir -p "$home" "$work/folder" "$work/packed"
cp "$KELDRUN_WIN_BUILD/Keldrun.exe" "$home/"
cp "$KELDRUN_WIN_BUILD/startup_bench.exe" "$work/"
cp "$KELDRUN_WIN_BUILD/startup_bench.exe" "$work/same_window.exe"
cp "$KELDRUN_SOURCE_DIR/resources/keldrun.manifest" "$work/same_window.exe.manifest"
for i in $(seq 1 20); do printf 'file %d' "$i" >"$work/folder/f$i.txt"; done
nat() { "$native" --home "$home" --wine-prefix "$prefix" "$@" >/dev/null; }
nat snapshot --name 'Snapshot #1' --files "$work/folder"
nat export 1 --to "$work/packed"
files=()
for i in $(seq 2 200); do files+=("$work/packed/snap001.snp"); done
nat import "${files[@]}"
rows=$("$native" --home "$home" list | tail -n +2 | wc -l)
[ "$rows" -eq 200 ] || { echo "startup: the catalog holds $rows snapshots, not 200" >&2; exit 1; }

bench=$(WINEPREFIX=$prefix winepath -w "$work/startup_bench.exe" 2>/dev/null)
same=$(WINEPREFIX=$prefix winepath -w "$work/same_window.exe" 2>/dev/null)
end_prefix "$prefix"
WINEPREFIX=$prefix timeout 900 xvfb-run -a -s "-screen 0 1280x1024x24" \
  wine "$bench" 'C:\Keldrun\Keldrun.exe' 200 "$runs" "$same" | tr -d '\r'
