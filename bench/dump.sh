#!/usr/bin/env bash
# Whole-process "keldrun dump --jsonl" of the compare bench's 300,000-file snapshots, of both tree
# shapes: lines per second to /dev/null (best of RUNS, by wall and by CPU time) and the peak
# resident memory.
# With a ClickHouse server at hand (clickhouse-server and clickhouse-client installed), also the
# load speed: the lines piped from keldrun into clickhouse-client's INSERT against
# clickhouse-client loading the same lines from a file, in the same run.
#
# usage: bench/dump.sh [BUILD_DIR] [RUNS]     (defaults: build/native, 5)
# Environment: KELDRUN_COMPARE_BENCH_DIR (default /tmp/keldrun_compare_bench) holds wide/a.snp and
# real/a.snp as compare_bench leaves them; compare_bench makes them when they are missing. The
# load speed is measured on the wide shape.
set -euo pipefail

build=$(cd "${1:-build/native}" && pwd)
for tool in "$build/keldrun" /usr/bin/time; do
  [ -x "$tool" ] || { echo "bench/dump.sh: $tool is needed (a build; apt-get install time)" >&2; exit 2; }
done
runs=${2:-5} work=${KELDRUN_COMPARE_BENCH_DIR:-/tmp/keldrun_compare_bench}
if [ ! -f "$work/wide/a.snp" ] || [ ! -f "$work/real/a.snp" ]; then
  [ -x "$build/compare_bench" ] || { echo "no compare_bench in $build to make the snapshot" >&2; exit 2; }
  "$build/compare_bench" "$work" >/dev/null
fi

dump_speed() {
  local snap=$1 shape=$2 lines bytes best="" line wall cpu kb
  lines=$("$build/keldrun" dump "$snap" --jsonl | wc -l)
  bytes=$("$build/keldrun" dump "$snap" --jsonl | wc -c)
  best=""
  for _ in $(seq "$runs"); do
    line=$(/usr/bin/time -f '%e %U %S %M' "$build/keldrun" dump "$snap" --jsonl 2>&1 >/dev/null | tail -1)
    line=$(awk '{ printf "%.3f %.3f %d", $1, $2 + $3, $4 }' <<<"$line")
    if [ -z "$best" ] || awk -v x="${line%% *}" -v y="${best%% *}" 'BEGIN { exit !(x < y) }'; then best=$line; fi
  done
  read -r wall cpu kb <<<"$best"
  awk -v s="$shape" -v w="$wall" -v c="$cpu" -v k="$kb" -v n="$lines" -v b="$bytes" 'BEGIN {
    printf "dump --jsonl, %s shape: %d lines (%.1f MB), %.3f s wall (%.2f million lines/s), %.3f s CPU (%.2f million lines/s), peak %.1f MB\n",
           s, n, b / 1e6, w, n / w / 1e6, c, n / (c > 0 ? c : 0.001) / 1e6, k / 1024 }'
}
dump_speed "$work/wide/a.snp" wide
dump_speed "$work/real/a.snp" real

command -v clickhouse-client >/dev/null && [ -x /usr/sbin/clickhouse-server ] || {
  echo "load speed: skipped (no clickhouse-server and clickhouse-client)"
  exit 0
}
source "$(dirname "$0")/../tests/fleet/clickhouse_lib.sh"
fleet_start_servers 1
fleet_client 1 --multiquery <"$(dirname "$0")/../fleet/schema.sql"
"$build/keldrun" dump "$work/wide/a.snp" --jsonl >"$fleet_tmp/lines.jsonl"
lines=$(wc -l <"$fleet_tmp/lines.jsonl")
load() {
  fleet_client 1 --input_format_skip_unknown_fields=1 --query "INSERT INTO fleet.state_local FORMAT JSONEachRow"
}
seconds() { local s=$(date +%s.%N); "$@"; awk -v s="$s" -v e="$(date +%s.%N)" 'BEGIN { printf "%.3f", e - s }'; }
from_pipe() { "$build/keldrun" dump "$work/wide/a.snp" --jsonl | load; }
from_file() { load <"$fleet_tmp/lines.jsonl"; }
best_pipe="" best_file=""
for _ in $(seq "$runs"); do
  t=$(seconds from_file)
  if [ -z "$best_file" ] || awk -v x="$t" -v y="$best_file" 'BEGIN { exit !(x < y) }'; then best_file=$t; fi
  t=$(seconds from_pipe)
  if [ -z "$best_pipe" ] || awk -v x="$t" -v y="$best_pipe" 'BEGIN { exit !(x < y) }'; then best_pipe=$t; fi
done
rows=$(fleet_client 1 --query "SELECT count() FROM fleet.state_local")
awk -v p="$best_pipe" -v f="$best_file" -v n="$lines" -v r="$rows" -v k="$((runs * 2))" 'BEGIN {
  printf "load into ClickHouse (best of %d each): from keldrun dump %.3f s (%.2f million lines/s), from a file %.3f s (%.2f million lines/s): %.2f x\n",
         k / 2, p, n / p / 1e6, f, n / f / 1e6, f / p
  if (r != n * k) { printf "rows loaded: %d, expected %d\n", r, n * k; exit 1 }
}'
