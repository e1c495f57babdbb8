#!/usr/bin/env bash
# Times "keldrun snapshot --files DIR" against "find DIR -printf '%T@ %s %p\n'" on the same
# generated tree (300,000 files in about 30,000 folders, fixed seed), warm cache for both, and
# prints the median of each, their ratio (find's time / keldrun's time: 1.0 means as fast as
# find, higher is faster) and keldrun's peak resident memory.
#
# usage: bench/file_scan.sh [BUILD_DIR] [RUNS]     (defaults: build/files, 5)
# Environment: KELDRUN_BENCH_DIR (default /tmp/keldrun_bench) holds the tree, kept between runs.
set -euo pipefail

build=${1:-build/files}
runs=${2:-5}
keldrun=$(cd "$build" && pwd)/keldrun
work=${KELDRUN_BENCH_DIR:-/tmp/keldrun_bench}
tree=$work/tree
[ -x "$keldrun" ] || { echo "no keldrun in $build" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 2; }

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
snapshot() {
  rm -rf "$work/home"
  "$keldrun" --home "$work/home" --wine-prefix "$work/prefix" snapshot --files "$tree" >/dev/null
}
findit() { find "$tree" -printf '%T@ %s %p\n' >/dev/null; }

# Warm the cache for both.
findit
snapshot

k_times=()
f_times=()
for ((r = 0; r < runs; r++)); do
  t0=$(now); findit; t1=$(now)
  f_times+=($(( (t1 - t0) / 1000000 )))
  t0=$(now); snapshot; t1=$(now)
  k_times+=($(( (t1 - t0) / 1000000 )))
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
k=$(median "${k_times[@]}")
f=$(median "${f_times[@]}")

rm -rf "$work/home"
rss=$(/usr/bin/time -v "$keldrun" --home "$work/home" --wine-prefix "$work/prefix" snapshot --files "$tree" 2>&1 >/dev/null |
      awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}')
size=$(stat -c %s "$work"/home/data/*.snp | head -1)
counts=$(find "$tree" -type d | wc -l)/$(find "$tree" -type f | wc -l)

echo "tree: $tree (folders/files: $counts)"
echo "find:    median ${f} ms  (runs: ${f_times[*]})"
echo "keldrun: median ${k} ms  (runs: ${k_times[*]})"
awk -v f="$f" -v k="$k" 'BEGIN { printf "ratio (find time / keldrun time): %.2f  (target >= 0.90)\n", f / k }'
echo "keldrun peak RSS: $((rss / 1024)) MB ($rss KB; target < 32 MB); snapshot file: $size bytes"
