#!/usr/bin/env bash
# What the files' extension (change times and file identities) costs: "keldrun snapshot --files
# DIR" of this build against the same command of a reference build that writes no extension
# (a build of the commit before it), on one generated tree whose files hold real bytes (not
# holes), warm cache for both, the runs of the two interleaved. Prints the median time of each,
# the time ratio and the snapshot file sizes with their ratio (targets: both at most 1.10).
#
# usage: bench/digests.sh BUILD_DIR REFERENCE_BUILD_DIR [RUNS] [FILES]
#        (defaults: 3 runs, 300,000 files in a tenth as many folders)
# Environment: KELDRUN_BENCH_DIR (default /tmp/keldrun_digests_bench) holds the tree, kept
# between runs of the same FILES.
set -euo pipefail

[ $# -ge 2 ] || { sed -n 2,11p "$0" >&2; exit 2; }
keldrun=$(cd "$1" && pwd)/keldrun
reference=$(cd "$2" && pwd)/keldrun
runs=${3:-3}
files=${4:-300000}
work=${KELDRUN_BENCH_DIR:-/tmp/keldrun_digests_bench}
tree=$work/tree
for k in "$keldrun" "$reference"; do [ -x "$k" ] || { echo "no $k" >&2; exit 2; }; done

if [ "$(cat "$work/tree.done" 2>/dev/null)" != "$files" ]; then
  echo "generating $tree ($files files) ..." >&2
  rm -rf "$work"
  mkdir -p "$tree"
  python3 - "$tree" "$files" <<'EOF'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(20261209)
folders = [root]
for i in range(1, max(1, count // 10)):
    parent = folders[rng.randrange(len(folders))] if rng.random() < 0.7 else folders[-1]
    path = os.path.join(parent, "dir%05d" % i)
    os.mkdir(path)
    folders.append(path)
block = rng.randbytes(1 << 16)
for i in range(count):
    path = os.path.join(folders[rng.randrange(len(folders))], "file%06d.dat" % i)
    size = rng.randrange(0, 8192)
    start = rng.randrange(0, len(block) - size)
    with open(path, "wb") as f:
        f.write(block[start:start + size])
    t = 1500000000 + rng.randrange(0, 200000000)
    os.utime(path, ns=(t * 10**9, t * 10**9 + rng.randrange(0, 10**9)))
EOF
  echo "$files" > "$work/tree.done"
fi

# A prefix whose only drive is z: for "/", whatever ~/.wine or $WINEPREFIX hold.
mkdir -p "$work/prefix/dosdevices"
ln -sfn / "$work/prefix/dosdevices/z:"

now() { date +%s%N; }
snapshot() {  # snapshot KELDRUN HOME
  rm -rf "$2"
  "$1" --home "$2" --wine-prefix "$work/prefix" snapshot --files "$tree" >/dev/null
}
ms() { echo $(( ($2 - $1) / 1000000 )); }
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

snapshot "$keldrun" "$work/home"
snapshot "$reference" "$work/reference"
new_times=()
ref_times=()
for ((r = 0; r < runs; r++)); do
  t0=$(now); snapshot "$reference" "$work/reference"; t1=$(now); ref_times+=($(ms "$t0" "$t1"))
  t0=$(now); snapshot "$keldrun" "$work/home"; t1=$(now); new_times+=($(ms "$t0" "$t1"))
done
n=$(median "${new_times[@]}")
r=$(median "${ref_times[@]}")
new_size=$(stat -c %s "$work"/home/data/*.snp | head -1)
ref_size=$(stat -c %s "$work"/reference/data/*.snp | head -1)

echo "tree: $tree ($(find "$tree" -type f | wc -l) files, $(du -sh "$tree" | cut -f1)); load: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "reference, no extension: median ${r} ms  (runs: ${ref_times[*]}); file ${ref_size} bytes"
echo "with extension:          median ${n} ms  (runs: ${new_times[*]}); file ${new_size} bytes"
awk -v n="$n" -v r="$r" -v ns="$new_size" -v rs="$ref_size" 'BEGIN {
  printf "scan time ratio: %.3f  (target <= 1.10)\n", n / r
  printf "file size ratio: %.3f  (target <= 1.10)\n", ns / rs
}'
