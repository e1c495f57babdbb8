#!/usr/bin/env bash
# Explores one libFuzzer target for longer than the fixed runs of scripts/test.sh, from a random
# seed. Builds the targets with clang first.
#   scripts/fuzz.sh TARGET [SECONDS]   TARGET: a fuzz/*_fuzz.cpp name without "_fuzz"
#                                      (scan_filter, registry_text, ...); SECONDS default 300
# New inputs, crash, leak and timeout files go to a scratch folder under ${TMPDIR:-/tmp}, named at
# the end; copy an input worth keeping into fuzz/corpus/TARGET by hand.
# Environment: KELDRUN_JOBS (default 2) build jobs; KELDRUN_BUILD_ROOT as for scripts/test.sh.
set -euo pipefail

[ $# -ge 1 ] || { sed -n '4,6p' "$0" >&2; exit 2; }
cd "$(dirname "$0")/.."
root=$(pwd)
name=$1
seconds=${2:-300}
[ -f "fuzz/${name}_fuzz.cpp" ] || { echo "fuzz.sh: no target fuzz/${name}_fuzz.cpp" >&2; exit 2; }
out=${KELDRUN_BUILD_ROOT:-${TMPDIR:-/tmp}/keldrun-ci-$(printf %s "$root" | cksum | cut -d' ' -f1)}/fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELDRUN_FUZZ=ON -DKELDRUN_TESTS=OFF >/dev/null
ninja -C "$out" -j"${KELDRUN_JOBS:-2}" "${name}_fuzz"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/keldrun-fuzz-$name.XXXXXX")
mkdir "$scratch/new"
rc=0
"$out/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -artifact_prefix="$scratch/" \
  "$scratch/new" "$root/fuzz/corpus/$name" || rc=$?
echo "fuzz.sh: new inputs in $scratch/new; crash, leak and timeout files in $scratch"
exit $rc
