#!/usr/bin/env bash
# Compares across machines: two Wine prefixes made by wineboot under two user names (alice,
# bob), each given another machine SID (Wine gives every prefix S-1-5-21-0-0-0-1000; the hive
# files are rewritten as a second machine's would read) and a value naming its own computer,
# snapshotted by the native keldrun through the POSIX seam, each under its own host name when
# the check runs as root. As recorded, the profile folders, the SIDs and the values holding them
# differ; with --normalise exactly the one real difference remains: a file on bob's Desktop.
#   tests/wine/normalise_check.sh      (builds from $KELDRUN_NATIVE_BUILD)
# KELDRUN_KEEP=1 keeps the prefixes and the workspace for a closer look.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

command -v python3 >/dev/null || { echo "normalise_check: python3 is needed" >&2; exit 2; }
check_name=normalise_check
native=$KELDRUN_NATIVE_BUILD/keldrun
require "$native"
work=$(mktemp -d /tmp/keldrun-normalise_check.XXXXXX)
cleanup() {
  for u in alice bob; do end_prefix "$work/$u"; done
  if [ -n "${KELDRUN_KEEP:-}" ]; then echo "normalise_check: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

failures=0
fail() { echo "normalise_check: $*" >&2; failures=$((failures + 1)); }

# machine USER SID HOST: a prefix made under USER, its SID rewritten to SID, a value naming HOST.
machine() {
  local p=$work/$1
  HOME=$work/home-$1 USER=$1 LOGNAME=$1 make_prefix "$p"
  end_prefix "$p"
  [ -d "$p/drive_c/users/$1" ] || { echo "normalise_check: wineboot made no users\\$1" >&2; exit 1; }
  sed -i "s/S-1-5-21-0-0-0-1000/$2/g" "$p/user.reg" "$p/system.reg"
  printf '[Software\\\\Keldrun\\\\Share] 1796691962\n"Server"="\\\\\\\\%s\\\\tools"\n\n' "$3" >>"$p/system.reg"
  # Wine links the profile's Desktop and Documents to the host's home: real folders here.
  local d
  for d in "$p/drive_c/users/$1"/*; do
    if [ -L "$d" ]; then rm "$d" && mkdir "$d"; fi
  done
}
machine alice S-1-5-21-1111-2222-3333-1000 GOLDEN
machine bob S-1-5-21-4444-5555-6666-1000 PC07
printf 'a real difference' >"$work/bob/drive_c/users/bob/Desktop/note.txt"

home=$work/workspace
# snapshot USER HOST: the prefix's profiles and the keys that name them, under the host name
# HOST when a new UTS namespace can be had (root), else under this machine's name.
snapshot() {
  local p=$work/$1 run=()
  find "$p/drive_c/users" -exec touch -h -d '2026-01-15 08:00:00 UTC' {} +
  if [ "$(id -u)" = 0 ] && unshare -u true 2>/dev/null; then
    run=(unshare -u sh -c 'hostname "$1" && shift && exec "$@"' sh "$2")
  fi
  "${run[@]}" "$native" --home "$home" --wine-prefix "$p" snapshot --name "$1" \
    --files "$p/drive_c/users" --registry HKEY_USERS \
    --registry 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\ProfileList' \
    --registry 'HKLM\Software\Keldrun' >"$work/snapshot-$1.out" 2>&1 ||
    { cat "$work/snapshot-$1.out" >&2; echo "normalise_check: the snapshot of $1 failed" >&2; exit 1; }
}
snapshot alice GOLDEN
snapshot bob PC07

compare() {  # OUT ARGS...: compare 1 2 --jsonl ARGS... into OUT; prints its exit status
  local out=$1 s=0
  shift
  "$native" --home "$home" compare 1 2 --jsonl "$@" >"$out" 2>"$out.err" || s=$?
  echo "$s"
}
s=$(compare "$work/recorded.jsonl")
[ "$s" = 1 ] || fail "compare as recorded exited $s, expected 1 (differences)"
s=$(compare "$work/normalised.jsonl" --normalise)
[ "$s" = 1 ] || fail "compare --normalise exited $s, expected 1 (the file on bob's Desktop)"

python3 - "$work" "$(id -u)" <<'PY' || failures=$((failures + 1))
import json, sys
work, root = sys.argv[1], sys.argv[2] == "0"
ok = True
def lines(name):
    return [json.loads(l) for l in open(f"{work}/{name}", encoding="utf-8")]
def changes(name):
    found = set()
    for l in lines(name):
        if l["stateNumber"] == 0:
            continue
        if l["kind"] == "node":
            found.add((l["state"], l["path"].lower()))
        else:
            found.add((l["label"], l["path"].lower(), l["name"].lower()))
    return found
def expect(name, present, absent=()):
    global ok
    got = changes(name)
    for e in present:
        if e not in got:
            print(f"normalise_check: {name} lacks {e}", file=sys.stderr); ok = False
    for e in absent:
        if e in got:
            print(f"normalise_check: {name} holds {e}", file=sys.stderr); ok = False
    return got

sid_a, sid_b = "s-1-5-21-1111-2222-3333-1000", "s-1-5-21-4444-5555-6666-1000"
expect("recorded.jsonl", [
    ("deleted", "c:\\users\\alice"), ("added", "c:\\users\\bob"),
    ("deleted", f"hkey_users\\{sid_a}"), ("added", f"hkey_users\\{sid_b}"),
    ("deleted", "hkey_local_machine\\software\\microsoft\\windows nt\\currentversion\\profilelist\\" + sid_a),
    ("del", f"hkey_users\\{sid_a}\\volatile environment", "username"),
] + ([("old", "hkey_local_machine\\software\\keldrun\\share", "server")] if root else []))

got = changes("normalised.jsonl")
rows = {c for c in got if len(c) == 3}
if rows != {("add", "c:\\users\\%userprofile%\\desktop", "note.txt")}:
    print(f"normalise_check: --normalise rows {sorted(rows)}, expected only note.txt added", file=sys.stderr)
    ok = False
nodes = {c for c in got if len(c) == 2}
expected_nodes = {("modified", "c:\\"), ("modified", "c:\\users"), ("modified", "c:\\users\\%userprofile%"),
                  ("modified", "c:\\users\\%userprofile%\\desktop")}
expected_nodes |= {("excluded", "c:\\")}  # on the way to c:\users\, which both recorded
if not nodes <= expected_nodes:
    print(f"normalise_check: --normalise nodes {sorted(nodes - expected_nodes)} beyond the Desktop's way",
          file=sys.stderr)
    ok = False
# Both sides name their machines on every line; --normalise maps data, not the snapshots' identity.
first = lines("normalised.jsonl")[0]
if root and (first["computerA"], first["computerB"]) != ("GOLDEN", "PC07"):
    print(f"normalise_check: computers {first['computerA']}, {first['computerB']}", file=sys.stderr); ok = False
sys.exit(0 if ok else 1)
PY

# The text output shows the placeholders in the paths.
"$native" --home "$home" compare 1 2 --normalise >"$work/normalised.txt" 2>&1 || true
grep -q '%USERPROFILE%' "$work/normalised.txt" || fail "the text output does not show %USERPROFILE%"

if [ "$failures" -ne 0 ]; then
  echo "normalise_check: $failures failure(s)" >&2
  exit 1
fi
echo "normalise_check: ok"
