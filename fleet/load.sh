#!/usr/bin/env bash
# Loads Keldrun's JSON lines from standard input into a table of the fleet store
# (fleet/schema.sql): "state" takes the lines of "keldrun dump", "differences" those of
# "keldrun compare". The lines stream straight into clickhouse-client; only the first is read
# here, to check that its schema version is the one the tables were made for.
#
# usage: keldrun dump 3 --jsonl | fleet/load.sh state [CLICKHOUSE-CLIENT OPTIONS...]
#        keldrun compare golden.snp 3 --jsonl | fleet/load.sh differences --port 9001
# Exit status: 0 loaded (or nothing to load), 2 wrong schema or usage, else clickhouse-client's.
set -euo pipefail

schema=1
table=${1:-}
case $table in
  state|differences) shift ;;
  *) echo "usage: fleet/load.sh state|differences [CLICKHOUSE-CLIENT OPTIONS...] < lines" >&2; exit 2 ;;
esac

IFS= read -r first || [ -n "$first" ] || exit 0
case $first in
  "{\"schema\":$schema,"*) ;;
  "{\"schema\":"*)
    echo "fleet/load.sh: the lines are of schema ${first:10:8}..., the tables of schema $schema" >&2
    exit 2 ;;
  *)
    echo "fleet/load.sh: not Keldrun JSON lines of schema $schema (first line: ${first:0:60})" >&2
    exit 2 ;;
esac

# Distributed inserts wait for every shard, so that a load that succeeded can be queried at once.
{ printf '%s\n' "$first"; cat; } |
  clickhouse-client --insert_distributed_sync=1 --input_format_skip_unknown_fields=1 "$@" \
    --query "INSERT INTO fleet.$table FORMAT JSONEachRow"
