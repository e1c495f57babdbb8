#!/usr/bin/env bash
# The fleet store end to end on real ClickHouse servers: two shards on loopback ports, the
# tables of fleet/schema.sql, a golden image and five machines (Wine prefixes made to differ in
# files, registry, Run entries and services) snapshotted on two days with the native keldrun,
# loaded through fleet/load.sh, and every cookbook query of docs/fleet.md run against the
# Distributed tables with its output compared to the one the page shows.
#   tests/fleet/clickhouse_check.sh [BUILD_DIR]     (default build/native)
# Writes only below a temporary folder, which it removes with the servers it started; bounded
# by a timeout of its own. Needs clickhouse-server, clickhouse-client, faketime, python3 and
# unshare (root: each machine's snapshot is taken under its own host name).
set -euo pipefail

if [ -z "${KELDRUN_FLEET_TIMED:-}" ]; then
  KELDRUN_FLEET_TIMED=1 exec timeout -k 10 600 bash "$0" "$@"
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
keldrun=$(cd "${1:-$root/build/native}" && pwd)/keldrun
[ -x "$keldrun" ] || { echo "clickhouse_check: no keldrun in ${1:-build/native}" >&2; exit 2; }
for tool in faketime python3 unshare; do
  command -v "$tool" >/dev/null || { echo "clickhouse_check: $tool is needed" >&2; exit 2; }
done
source "$root/tests/fleet/clickhouse_lib.sh"

failures=0
fail() {
  echo "clickhouse_check: $*" >&2
  failures=$((failures + 1))
}

# ---- the machines ----------------------------------------------------------------------------
# machine NAME: a Wine prefix (drive c: and system.reg) and a workspace under $fleet_tmp/NAME,
# as the golden image has it; the scenario below changes each machine.
machine() {
  local m=$fleet_tmp/$1
  mkdir -p "$m/prefix/drive_c/App" "$m/prefix/dosdevices" "$m/home"
  ln -s ../drive_c "$m/prefix/dosdevices/c:"
  printf 'core-1' >"$m/prefix/drive_c/App/core.dll"
  printf 'mode=standard\n' >"$m/prefix/drive_c/App/config.ini"
  printf 'updater' >"$m/prefix/drive_c/App/updater.exe"
  cat >"$m/prefix/system.reg" <<'REG'
WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1796691962
"Updater"="C:\\App\\updater.exe"

[Software\\Vendor\\App] 1796691962
"Version"="1.0"

[System\\CurrentControlSet\\Services\\AppSvc] 1796691962
"DisplayName"="App service"
"ImagePath"="C:\\App\\core.dll"
"Start"=dword:00000002
"Type"=dword:00000010

REG
}
# reg NAME TEXT: appends TEXT, a key of its own, to the machine's system.reg.
reg() { printf '%s\n\n' "$2" >>"$fleet_tmp/$1/prefix/system.reg"; }
# set_line NAME OLD NEW: replaces a line of the machine's system.reg (sed's pattern and replacement).
set_line() { sed -i "s|^$2\$|$3|" "$fleet_tmp/$1/prefix/system.reg"; }
spy() {
  printf 'spy' >"$fleet_tmp/$1/prefix/drive_c/App/spy.exe"
  reg "$1" '[System\\CurrentControlSet\\Services\\Spy] 1796691962
"DisplayName"="Spy"
"ImagePath"="C:\\App\\spy.exe"
"Start"=dword:00000002
"Type"=dword:00000010'
}
# snapshot NAME DAY: takes the machine's snapshot as its own host at 09:00 UTC of DAY (only the
# clock faked, not the files' times), every file dated 2026-01-15 so that only what the
# scenario changes differs. Only the files the scenario wrote are dated back: touching the others
# would move their change times.
snapshot() {
  local m=$fleet_tmp/$1 kept='2026-01-15 08:00:00 UTC'
  find "$m/prefix/drive_c" \( -newermt "$kept" -o ! -newermt '2026-01-15 07:59:59 UTC' \) -exec touch -h -d "$kept" {} +
  NO_FAKE_STAT=1 TZ=UTC faketime --exclude-monotonic -f "@$2 09:00:00" unshare -u sh -c 'hostname "$1" && shift && exec "$@"' \
    sh "$1" "$keldrun" --home "$m/home" --wine-prefix "$m/prefix" snapshot --name "$1 $2" \
    --files "$m/prefix/drive_c/App" --registry 'HKLM\Software\Vendor' --apps >"$m/snapshot.out" 2>&1 ||
    { cat "$m/snapshot.out" >&2; echo "clickhouse_check: the snapshot of $1 failed" >&2; exit 1; }
}

machines=(pc01 pc02 pc03 pc04 pc05)
for m in golden "${machines[@]}"; do machine "$m"; done
snapshot golden 2026-03-01
# pc01 is the golden image. pc02: a Run entry more and another config.ini. pc03: no Updater;
# gains the Spy service on the second day. pc04: another config.ini and the Spy service from the
# start. pc05: the Updater elsewhere, another Version value and core.dll. pc02's core.dll takes
# other bytes of the same size on the third day, its date put back.
set_line pc02 '"Updater"="C:\\\\App\\\\updater.exe"' '&\n"Tray"="C:\\\\App\\\\tray.exe"'
printf 'mode=kiosk\n' >"$fleet_tmp/pc02/prefix/drive_c/App/config.ini"
set_line pc03 '"Updater"="C:\\\\App\\\\updater.exe"' ''
printf 'mode=kiosk\n' >"$fleet_tmp/pc04/prefix/drive_c/App/config.ini"
spy pc04
set_line pc05 '"Updater"="C:\\\\App\\\\updater.exe"' '"Updater"="C:\\\\App\\\\v2\\\\updater.exe"'
set_line pc05 '"Version"="1.0"' '"Version"="1.1"'
printf 'core-2.0' >"$fleet_tmp/pc05/prefix/drive_c/App/core.dll"
hostile=$'we"ird\x01\t\xc3\xa9\xf0\x9f\x98\x80.txt'  # a quote, control characters, é, U+1F600
printf 'x' >"$fleet_tmp/pc05/prefix/drive_c/App/$hostile"
for m in "${machines[@]}"; do snapshot "$m" 2026-03-02; done
spy pc03
printf 'core-X' >"$fleet_tmp/pc02/prefix/drive_c/App/core.dll"
for m in "${machines[@]}"; do snapshot "$m" 2026-03-03; done

# ---- the servers, the schema, the loads ------------------------------------------------------
fleet_start_servers 2
for i in 1 2; do fleet_client "$i" --multiquery <"$root/fleet/schema.sql"; done
load() { bash "$root/fleet/load.sh" "$1" --host 127.0.0.1 --port "${fleet_ports[$2]}"; }
# Each machine's lines go in through either server: the Distributed table files them by machine.
i=1
for m in golden "${machines[@]}"; do
  for snap in "$fleet_tmp/$m"/home/data/snap*.snp; do
    "$keldrun" dump "$snap" --jsonl | load state "$i"
  done
  if [ "$m" != golden ]; then
    status=0
    "$keldrun" compare "$fleet_tmp/golden/home/data/snap001.snp" "$fleet_tmp/$m/home/data/snap002.snp" --jsonl \
      >"$fleet_tmp/$m/differences.jsonl" || status=$?
    [ "$status" = 1 ] || [ "$m" = pc01 ] || fail "compare golden $m exited $status, expected 1 (differences)"
    load differences "$i" <"$fleet_tmp/$m/differences.jsonl"
    # and what changed on the machine between its two days
    "$keldrun" compare "$fleet_tmp/$m/home/data/snap001.snp" "$fleet_tmp/$m/home/data/snap002.snp" --jsonl \
      >"$fleet_tmp/$m/changes.jsonl" || true
    load differences "$i" <"$fleet_tmp/$m/changes.jsonl"
  fi
  i=$((3 - i))
done

# Both shards hold a part, and the Distributed table all of it.
lines=$(for m in golden "${machines[@]}"; do for s in "$fleet_tmp/$m"/home/data/snap*.snp; do "$keldrun" dump "$s" --jsonl; done; done | wc -l)
rows1=$(fleet_client 1 --query "SELECT count() FROM fleet.state_local")
rows2=$(fleet_client 2 --query "SELECT count() FROM fleet.state_local")
total=$(fleet_client 2 --query "SELECT count() FROM fleet.state")
[ "$rows1" -gt 0 ] && [ "$rows2" -gt 0 ] || fail "the state rows are not spread over both shards ($rows1, $rows2)"
[ "$total" = "$lines" ] && [ $((rows1 + rows2)) = "$lines" ] ||
  fail "fleet.state holds $total rows ($rows1 + $rows2), keldrun dump wrote $lines lines"

# A hostile file name comes out of the store as the bytes it had on the machine.
got=$(fleet_client 1 --query "SELECT hex(name) FROM fleet.state WHERE computer = 'PC05' AND name LIKE 'we%' LIMIT 1")
want=$(printf '%s' "$hostile" | od -An -tx1 | tr -d ' \n' | tr a-f A-F)
[ "$got" = "$want" ] || fail "the hostile file name came back as $got, not $want"

# The loader refuses lines of another schema, and lines that are not Keldrun's, loading nothing.
for bad in '{"schema":2,"computer":"X"}' '{"computer":"X","schema":1}' 'not json'; do
  status=0
  printf '%s\n' "$bad" | load state 1 2>"$fleet_tmp/load.err" || status=$?
  [ "$status" = 2 ] || fail "load.sh took '$bad' (status $status)"
done
[ "$(fleet_client 1 --query "SELECT count() FROM fleet.state WHERE computer = 'X'")" = 0 ] ||
  fail "load.sh let lines of a wrong schema in"

# ---- the cookbook ----------------------------------------------------------------------------
# Each ```sql block of docs/fleet.md, with the ```text block after it: the query and its output.
python3 - "$root/docs/fleet.md" "$fleet_tmp/cookbook" <<'PY'
import os, re, sys
text = open(sys.argv[1], encoding="utf-8").read()
pairs = re.findall(r"```sql\n(.*?)```\n\n```text\n(.*?)```\n", text, re.S)
os.makedirs(sys.argv[2])
for n, (query, output) in enumerate(pairs, 1):
    open(os.path.join(sys.argv[2], "%02d.sql" % n), "w", encoding="utf-8").write(query)
    open(os.path.join(sys.argv[2], "%02d.out" % n), "w", encoding="utf-8").write(output)
PY
queries=("$fleet_tmp"/cookbook/*.sql)
[ "${#queries[@]}" -ge 6 ] || fail "docs/fleet.md holds ${#queries[@]} cookbook queries with their output, expected 6 or more"
for q in "${queries[@]}"; do
  for i in 1 2; do
    if ! fleet_client "$i" --format TSVWithNames --query "$(cat "$q")" >"${q%.sql}.got$i" 2>&1; then
      fail "query $(basename "$q") failed on server $i: $(head -c 400 "${q%.sql}.got$i")"
    elif ! diff -u "${q%.sql}.out" "${q%.sql}.got$i" >"${q%.sql}.diff$i"; then
      fail "query $(basename "$q") on server $i does not give the output docs/fleet.md shows:"$'\n'"$(cat "$q")"$'\n'"$(cat "${q%.sql}.diff$i")"
    fi
  done
  [ -n "${KELDRUN_FLEET_PRINT:-}" ] && { cat "$q"; echo; cat "${q%.sql}.got1"; echo; }
done

if [ "$failures" -gt 0 ]; then
  echo "clickhouse_check: $failures failures" >&2
  exit 1
fi
echo "clickhouse_check: 2 shards, 6 machines, $lines state lines, ${#queries[@]} cookbook queries: all as documented"
