#!/usr/bin/env bash
# Content digests and the files' extension on the "real" tree of bench/make_tree.py (300,000
# files of real bytes), warm cache for all, each figure the median of RUNS runs:
#   first   "snapshot --digests" into an empty workspace (every file read) against sha256sum over
#           the same files on 2 processes (find -print0 | xargs -0 -P2 -n500 sha256sum);
#           ratio = sha256sum's time / keldrun's (goal >= 0.8)
#   second  "snapshot --digests" of the unchanged tree beside the first (every digest copied)
#           against "snapshot" without digests; ratio = keldrun with / without (goal <= 1.3)
#   ext     the share of a snapshot without digests that the files' extension takes (its index
#           and blocks, counted in the file itself), against the same snapshot without them
#
# usage: bench/digests.sh [BUILD_DIR] [RUNS]     (defaults: build/native, 3)
# Environment: KELDRUN_BENCH_DIR (default /tmp/keldrun_bench) holds the tree, kept between runs.
set -euo pipefail

build=${1:-build/native}
runs=${2:-3}
keldrun=$(cd "$build" && pwd)/keldrun
here=$(cd "$(dirname "$0")" && pwd)
work=${KELDRUN_BENCH_DIR:-/tmp/keldrun_bench}
tree=$work/real/tree
[ -x "$keldrun" ] || { echo "no keldrun in $build" >&2; exit 2; }
if [ ! -f "$work/real/tree.done" ]; then
  echo "generating $tree ..." >&2
  rm -rf "$work/real"
  python3 "$here/make_tree.py" real "$tree"
  touch "$work/real/tree.done"
fi
mkdir -p "$work/prefix/dosdevices"
ln -sfn / "$work/prefix/dosdevices/z:"
home=$work/digests_home

now() { date +%s%N; }
ms() { echo $(( ($2 - $1) / 1000000 )); }
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
k() { "$keldrun" --home "$home" --wine-prefix "$work/prefix" "$@" >/dev/null; }
fresh() { rm -rf "$home"; }
sums() { find "$tree" -type f -print0 | xargs -0 -P2 -n500 sha256sum >/dev/null; }

# Warm the cache for all.
sums
fresh; k snapshot --files "$tree"

first=() sums_t=() second=() plain=() t0=0 t1=0
for ((r = 0; r < runs; r++)); do
  t0=$(now); sums; t1=$(now); sums_t+=($(ms "$t0" "$t1"))
  fresh; t0=$(now); k snapshot --digests --files "$tree"; t1=$(now); first+=($(ms "$t0" "$t1"))
  t0=$(now); k snapshot --digests --files "$tree"; t1=$(now); second+=($(ms "$t0" "$t1"))
  fresh; t0=$(now); k snapshot --files "$tree"; t1=$(now); plain+=($(ms "$t0" "$t1"))
done
f=$(median "${first[@]}"); s=$(median "${sums_t[@]}"); d=$(median "${second[@]}"); p=$(median "${plain[@]}")
echo "uptime: $(uptime)"
echo "first snapshot with digests: ${f} ms; sha256sum -P2: ${s} ms; ratio sha256sum/keldrun $(awk "BEGIN{printf \"%.2f\", $s/$f}") (goal >= 0.8)"
echo "second snapshot with digests: ${d} ms; without digests: ${p} ms; ratio $(awk "BEGIN{printf \"%.2f\", $d/$p}") (goal <= 1.3)"

# The extension's share of the last snapshot, taken without digests: the index that the info
# record's "ext" marker points at, and the blocks its records name.
python3 - "$home/data/snap001.snp" <<'PY'
import struct, sys
b = open(sys.argv[1], "rb").read()
u32 = lambda at: struct.unpack_from("<I", b, at)[0]
info = u32(16)
assert b[info + 13:info + 17] == b"ext\0", "no extension"
index = u32(info + 17)
n = u32(index)
ext = 4 + n + sum(4 + u32(u32(index + 4 + k + 4)) for k in range(0, n, 12) if u32(index + 4 + k + 4))
print("extension without digests: %d of %d bytes; the snapshot is %.1f %% larger than without it (goal <= 10 %%); index %d bytes"
      % (ext, len(b), 100.0 * ext / (len(b) - ext), 4 + n))
PY
