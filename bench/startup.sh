#!/usr/bin/env bash
# Times Keldrun.exe from process start to the first paint of its main window with a catalog of
# 200 snapshots, under Wine and Xvfb in a fresh prefix, and prints each run and the median.
# The workspace: one snapshot of a small folder taken by the native keldrun, exported once and
# imported 199 times. The peer, in the same prefix: the floor of any window program under Wine
# (startup_bench.exe --floor: OLE, the common controls, one window with an empty list).
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
end_prefix "$prefix"
printf '%s\n' "wine '$bench' --floor 0 $runs && wine '$bench' 'C:\\Keldrun\\Keldrun.exe' 200 $runs" \
  >"$work/both.sh"
WINEPREFIX=$prefix timeout 600 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/both.sh" |
  tr -d '\r' | tee "$work/out"
floor=$(sed -n 's/.* 0 snapshots: median \([0-9.]*\) ms.*/\1/p' "$work/out")
full=$(sed -n 's/.* 200 snapshots: median \([0-9.]*\) ms.*/\1/p' "$work/out")
awk -v f="$floor" -v k="$full" \
  'BEGIN { printf "Keldrun.exe: %.1f ms above the floor of a window program (%.2f times it)\n", k - f, k / f }'
