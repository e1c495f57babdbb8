#!/usr/bin/env bash
# Times "keldrun snapshot --files DIR" against "find DIR -printf '%T@ %s %p\n'" and against fd
# with a stat per entry ("fdfind --changed-before ..." reads every entry's metadata) on the same
# generated tree (300,000 files in about 30,000 folders, fixed seed), warm cache for all. keldrun
# and fd run on the same number of threads (the machine's processors, at most 8, or
# KELDRUN_BENCH_THREADS); keldrun also runs on one thread. Prints the median of each, the
# ratios (the other tool's time / keldrun's time: higher is faster) and keldrun's peak
# resident memory.
#
# usage: bench/file_scan.sh [BUILD_DIR] [RUNS]     (defaults: build/files, 5)
# Environment: KELDRUN_BENCH_DIR (default /tmp/keldrun_bench) holds the tree, kept between runs.
# Needs /usr/bin/time (package time) and fdfind (package fd-find).
set -euo pipefail

build=${1:-build/files}
runs=${2:-5}
keldrun=$(cd "$build" && pwd)/keldrun
work=${KELDRUN_BENCH_DIR:-/tmp/keldrun_bench}
tree=$work/tree
[ -x "$keldrun" ] || { echo "no keldrun in $build" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 2; }
command -v fdfind >/dev/null || { echo "needs fdfind (apt-get install fd-find)" >&2; exit 2; }
threads=${KELDRUN_BENCH_THREADS:-$(nproc)}
[ "$threads" -gt 8 ] && threads=8

if [ ! -f "$work/tree.done" ]; then
  echo "generating $tree ..." >&2
  rm -rf "$work"
  mkdir -p "$tree"
  python3 - "$tree" <<'EOF'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20261208)
folders = [root]
# 30,000 folders: each new folder goes under a random earlier one, which gives a bushy tree a
# few dozen levels deep at most, like a real drive.
for i in range(1, 30000):
    parent = folders[rng.randrange(len(folders))] if rng.random() < 0.7 else folders[-1]
    path = os.path.join(parent, "dir%05d" % i)
    os.mkdir(path)
    folders.append(path)
for i in range(300000):
    folder = folders[rng.randrange(len(folders))]
    name = "file%06d.%s" % (i, rng.choice(["txt", "dll", "exe", "dat", "ini"]))
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        pass
    os.truncate(path, rng.randrange(0, 200000))
    t = 1500000000 + rng.randrange(0, 200000000)
    os.utime(path, ns=(t * 10**9, t * 10**9 + rng.randrange(0, 10**9)))
EOF
  touch "$work/tree.done"
fi

# A prefix whose only drive is z: for "/", whatever ~/.wine or $WINEPREFIX hold.
mkdir -p "$work/prefix/dosdevices"
ln -sfn / "$work/prefix/dosdevices/z:"

now() { date +%s%N; }
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

k_times=()
k1_times=()
f_times=()
d_times=()
ms() { echo $(( ($2 - $1) / 1000000 )); }
for ((r = 0; r < runs; r++)); do
  t0=$(now); findit; t1=$(now); f_times+=($(ms "$t0" "$t1"))
  t0=$(now); fdit; t1=$(now); d_times+=($(ms "$t0" "$t1"))
  t0=$(now); snapshot "$threads"; t1=$(now); k_times+=($(ms "$t0" "$t1"))
  t0=$(now); snapshot 1; t1=$(now); k1_times+=($(ms "$t0" "$t1"))
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
k=$(median "${k_times[@]}")
k1=$(median "${k1_times[@]}")
f=$(median "${f_times[@]}")
d=$(median "${d_times[@]}")

rm -rf "$work/home"
rss=$(/usr/bin/time -v "$keldrun" --home "$work/home" --wine-prefix "$work/prefix" snapshot --threads "$threads" --files "$tree" 2>&1 >/dev/null |
      awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}')
size=$(stat -c %s "$work"/home/data/*.snp | head -1)
counts=$(find "$tree" -type d | wc -l)/$(find "$tree" -type f | wc -l)

echo "tree: $tree (folders/files: $counts); load: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "find -printf:           median ${f} ms  (runs: ${f_times[*]})"
echo "fd -j$threads, stat each:     median ${d} ms  (runs: ${d_times[*]})"
echo "keldrun, $threads threads:     median ${k} ms  (runs: ${k_times[*]})"
echo "keldrun, 1 thread:      median ${k1} ms  (runs: ${k1_times[*]})"
awk -v f="$f" -v d="$d" -v k="$k" -v k1="$k1" 'BEGIN {
  printf "ratio find / keldrun: %.2f  (target >= 1.50)\n", f / k
  printf "ratio fd / keldrun:   %.2f  (target > 1.00)\n", d / k
  printf "keldrun 1 thread / %s threads: %.2f\n", "'"$threads"'", k1 / k
}'
echo "keldrun peak RSS: $((rss / 1024)) MB ($rss KB; target < 32 MB); snapshot file: $size bytes"
