#!/usr/bin/env bash
# Whole-process "keldrun compare" of the compare bench's two 300,000-file snapshots, output to
# /dev/null, on both of its trees ("wide": 30 files a folder; "real": 10 files a folder, long,
# non-ASCII and non-BMP names): with every file changed, the printed rows per second (median of
# RUNS, by wall time and by CPU time) and the peak resident memory of the text, --json and
# --jsonl forms; with a small change (200 files over the tree) and with a change in three
# folders, the same median and its page faults; the load average beside each tree.
#
# usage: bench/cli_compare.sh [BUILD_DIR] [RUNS]     (defaults: build/native, 5)
# Environment: KELDRUN_COMPARE_BENCH_DIR (default /tmp/keldrun_compare_bench) holds, for each
# tree, SHAPE/a.snp (the tree), SHAPE/b.snp (a small change), SHAPE/f.snp (b, then three
# folders changed) and SHAPE/c.snp (every file changed) as compare_bench leaves them;
# compare_bench makes them when they are missing.
set -euo pipefail

build=$(cd "${1:-build/native}" && pwd)
runs=${2:-5}
work=${KELDRUN_COMPARE_BENCH_DIR:-/tmp/keldrun_compare_bench}
shapes="wide real"
[ -x "$build/keldrun" ] || { echo "no keldrun in $build" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 2; }
for shape in $shapes; do
  if [ ! -f "$work/$shape/a.snp" ] || [ ! -f "$work/$shape/b.snp" ] || [ ! -f "$work/$shape/f.snp" ] ||
     [ ! -f "$work/$shape/c.snp" ]; then
    [ -x "$build/compare_bench" ] || { echo "no compare_bench in $build to make the snapshots" >&2; exit 2; }
    "$build/compare_bench" "$work" >/dev/null
    break
  fi
done

# The median of RUNS by wall time (on a loaded machine the best run flatters): "wall cpu
# peak_kb page_faults" of keldrun compare A B ARGS... > /dev/null.
measure() {
  local a=$1 b=$2 lines="" line
  shift 2
  for _ in $(seq "$runs"); do
    line=$(/usr/bin/time -f '%e %U %S %M %R' "$build/keldrun" compare "$a" "$b" "$@" 2>&1 >/dev/null | tail -1)
    lines+=$(awk '{ printf "%.3f %.3f %d %d", $1, $2 + $3, $4, $5 }' <<<"$line")$'\n'
  done
  sort -n <<<"$lines" | awk 'NF { v[n++] = $0 } END { print v[int((n - 1) / 2)] }'
}

# The median wall time in milliseconds, to the microsecond, of RUNS runs of keldrun compare A B,
# by bash's own clock: reading the time with date would add two processes' start to each run.
wall_ms() {
  local lines="" t0 t1
  for _ in $(seq "$runs"); do
    t0=${EPOCHREALTIME/[.,]/}
    "$build/keldrun" compare "$1" "$2" >/dev/null || true
    t1=${EPOCHREALTIME/[.,]/}
    lines+=$((t1 - t0))$'\n'
  done
  sort -n <<<"$lines" | awk 'NF { v[n++] = $0 } END { printf "%.1f", v[int((n - 1) / 2)] / 1000 }'
}

for shape in $shapes; do
  dir=$work/$shape
  rows=$("$build/keldrun" compare "$dir/a.snp" "$dir/c.snp" | wc -l || true)
  echo "== $shape tree; load: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "every file changed: $rows printed rows (text)"
  for form in "" --json --jsonl; do
    read -r wall cpu kb _ <<<"$(measure "$dir/a.snp" "$dir/c.snp" $form)"
    awk -v f="${form:-text}" -v w="$wall" -v c="$cpu" -v k="$kb" -v r="$rows" 'BEGIN {
      printf "  %-7s %.3f s wall (%.2f million rows/s), %.3f s CPU (%.2f million rows/s), peak %.1f MB\n",
             f, w, r / w / 1e6, c, r / (c > 0 ? c : 0.001) / 1e6, k / 1024 }'
  done
  read -r wall cpu kb faults <<<"$(measure "$dir/a.snp" "$dir/b.snp")"
  echo "small change: $(wall_ms "$dir/a.snp" "$dir/b.snp") ms wall, $cpu s CPU, peak $((kb / 1024)) MB, $faults page faults (target: under 10 ms)"
  read -r wall cpu kb faults <<<"$(measure "$dir/b.snp" "$dir/f.snp")"
  echo "three folders changed: $(wall_ms "$dir/b.snp" "$dir/f.snp") ms wall, $cpu s CPU, peak $((kb / 1024)) MB, $faults page faults"
done
