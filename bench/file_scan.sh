#!/usr/bin/env bash
# Times "keldrun snapshot --files DIR" against "find DIR -printf '%T@ %s %p\n'" and against fd
# with a stat per entry ("fdfind --changed-before ..." reads every entry's metadata) on the trees
# of bench/make_tree.py, warm cache for all: "plain" (300,000 files in 30,000 folders, short ASCII
# names, sparse files) and "real" (the same counts, with long, accented, CJK and non-BMP names and
# real bytes). keldrun and fd run on the same number of threads (the machine's processors, at
# most 8, or KELDRUN_BENCH_THREADS); keldrun also runs on one thread. Prints, for each tree, the
# median of each, the ratios (the other tool's time / keldrun's time: higher is faster) and
# keldrun's peak resident memory.
#
# usage: bench/file_scan.sh [BUILD_DIR] [RUNS] [SHAPES]     (defaults: build/files, 5, "plain real")
# Environment: KELDRUN_BENCH_DIR (default /tmp/keldrun_bench) holds the trees, kept between runs.
# Needs /usr/bin/time (package time) and fdfind (package fd-find).
set -euo pipefail

build=${1:-build/files}
runs=${2:-5}
shapes=${3:-plain real}
keldrun=$(cd "$build" && pwd)/keldrun
here=$(cd "$(dirname "$0")" && pwd)
work=${KELDRUN_BENCH_DIR:-/tmp/keldrun_bench}
[ -x "$keldrun" ] || { echo "no keldrun in $build" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 2; }
command -v fdfind >/dev/null || { echo "needs fdfind (apt-get install fd-find)" >&2; exit 2; }
threads=${KELDRUN_BENCH_THREADS:-$(nproc)}
[ "$threads" -gt 8 ] && threads=8

# A prefix whose only drive is z: for "/", whatever ~/.wine or $WINEPREFIX hold.
mkdir -p "$work/prefix/dosdevices"
ln -sfn / "$work/prefix/dosdevices/z:"

now() { date +%s%N; }
ms() { echo $(( ($2 - $1) / 1000000 )); }
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

bench_shape() {  # bench_shape SHAPE
  local tree=$work/$1/tree
  if [ ! -f "$work/$1/tree.done" ]; then
    echo "generating $tree ..." >&2
    rm -rf "$work/$1"
    python3 "$here/make_tree.py" "$1" "$tree"
    touch "$work/$1/tree.done"
  fi
  snapshot() {  # snapshot THREADS
    rm -rf "$work/home"
    "$keldrun" --home "$work/home" --wine-prefix "$work/prefix" snapshot --threads "$1" --files "$tree" >/dev/null
  }
  findit() { find "$tree" -printf '%T@ %s %p\n' >/dev/null; }
  fdit() { fdfind --unrestricted --threads "$threads" --changed-before 2100-01-01 . "$tree" >/dev/null; }

  # Warm the cache for all.
  findit
  fdit
  snapshot "$threads"

  local k_times=() k1_times=() f_times=() d_times=() t0 t1 r
  for ((r = 0; r < runs; r++)); do
    t0=$(now); findit; t1=$(now); f_times+=($(ms "$t0" "$t1"))
    t0=$(now); fdit; t1=$(now); d_times+=($(ms "$t0" "$t1"))
    t0=$(now); snapshot "$threads"; t1=$(now); k_times+=($(ms "$t0" "$t1"))
    t0=$(now); snapshot 1; t1=$(now); k1_times+=($(ms "$t0" "$t1"))
  done
  local k k1 f d rss size counts
  k=$(median "${k_times[@]}")
  k1=$(median "${k1_times[@]}")
  f=$(median "${f_times[@]}")
  d=$(median "${d_times[@]}")

  rm -rf "$work/home"
  rss=$(/usr/bin/time -v "$keldrun" --home "$work/home" --wine-prefix "$work/prefix" snapshot --threads "$threads" --files "$tree" 2>&1 >/dev/null |
        awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}')
  size=$(stat -c %s "$work"/home/data/*.snp | head -1)
  counts=$(find "$tree" -type d | wc -l)/$(find "$tree" -type f | wc -l)

  echo "== $1 tree: $tree (folders/files: $counts); load: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "find -printf:           median ${f} ms  (runs: ${f_times[*]})"
  echo "fd -j$threads, stat each:     median ${d} ms  (runs: ${d_times[*]})"
  echo "keldrun, $threads threads:     median ${k} ms  (runs: ${k_times[*]})"
  echo "keldrun, 1 thread:      median ${k1} ms  (runs: ${k1_times[*]})"
  awk -v f="$f" -v d="$d" -v k="$k" -v k1="$k1" -v n="$threads" 'BEGIN {
    printf "ratio find / keldrun: %.2f  (target >= 1.50)\n", f / k
    printf "ratio fd / keldrun:   %.2f  (target > 1.00)\n", d / k
    printf "keldrun 1 thread / %s threads: %.2f\n", n, k1 / k
  }'
  echo "keldrun peak RSS: $((rss / 1024)) MB ($rss KB; target < 32 MB); snapshot file: $size bytes"
}

for shape in $shapes; do bench_shape "$shape"; done
