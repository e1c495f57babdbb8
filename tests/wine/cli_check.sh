#!/usr/bin/env bash
# One workspace, two front ends: the native keldrun and keldrun-cli.exe under Wine share a
# workspace inside a Wine prefix (c:\keldrun-home). Each takes a snapshot of the same folder
# around a change; each must then see both snapshots in the catalog, compare them to the same
# differences, open the other's files, and see the other's renames, deletions and imports.
#   tests/wine/cli_check.sh        (builds from $KELDRUN_NATIVE_BUILD and $KELDRUN_WIN_BUILD)
# KELDRUN_KEEP=1 keeps the prefix and the workspace for a closer look.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

command -v python3 >/dev/null || { echo "cli_check: python3 is needed" >&2; exit 2; }
begin_check cli_check

home=$prefix/drive_c/keldrun-home
app=$prefix/drive_c/keldrun-app
mkdir -p "$home" "$app/bin"
printf 'one' >"$app/readme.txt"
printf 'old' >"$app/bin/tool.dll"
printf 'gone soon' >"$app/bin/old.dat"

failures=0
fail() {
  echo "cli_check: $*" >&2
  failures=$((failures + 1))
}

# nat ARGS... / win ARGS...: one front end on the shared workspace; output without CR.
nat() { "$native" --home "$home" --wine-prefix "$prefix" "$@"; }
win() { in_prefix "$prefix" wine "$cli" --home 'c:\keldrun-home' "$@" | tr -d '\r'; }
# status_of OUT FN ARGS...: runs FN ARGS... with stdout to OUT and prints its exit status.
status_of() {
  local out=$1 s=0
  shift
  "$@" >"$out" 2>"$out.err" || s=$?
  echo "$s"
}

# ---- a snapshot by each front end around a change ------------------------------------------
nat snapshot --name 'before (native)' --files "$app" >"$work/snap1.out" 2>&1 ||
  { cat "$work/snap1.out" >&2; echo "cli_check: native snapshot failed" >&2; exit 1; }
printf 'two!' >"$app/readme.txt"
touch -d '2030-01-02 03:04:05' "$app/readme.txt"
rm "$app/bin/old.dat"
printf 'new' >"$app/bin/plugin.dll"
win snapshot --name 'after (wine)' --files 'c:\keldrun-app\' >"$work/snap2.out" 2>&1 ||
  { cat "$work/snap2.out" >&2; echo "cli_check: Wine snapshot failed" >&2; exit 1; }
[ -s "$home/data/snap001.snp" ] || fail "the native snapshot is not snap001.snp"
[ -s "$home/data/snap002.snp" ] || fail "the Wine snapshot did not take the next number (snap002.snp)"

# ---- both catalogs list both, and both compare to the same differences ---------------------
nat list --json >"$work/list-native.json"
win list --json >"$work/list-wine.json"
s=$(status_of "$work/cmp-native.json" nat compare 1 2 --json)
[ "$s" = 1 ] || fail "native compare exited $s, expected 1 (differences)"
s=$(status_of "$work/cmp-wine.json" win compare 1 2 --json)
[ "$s" = 1 ] || fail "Wine compare exited $s, expected 1 (differences)"

python3 - "$work" <<'PY' || failures=$((failures + 1))
import json, sys
work = sys.argv[1]
ok = True
def load(name):
    return json.load(open(f"{work}/{name}", encoding="utf-8"))
for side in ("native", "wine"):
    names = [s["name"] for s in load(f"list-{side}.json")["snapshots"]]
    if names != ["before (native)", "after (wine)"]:
        print(f"cli_check: {side} list shows {names}", file=sys.stderr); ok = False

def changes(doc):
    found = set()
    for section in doc["sections"]:
        for node in section["nodes"]:
            for r in node["rows"]:
                if r["stateNumber"] != 0:
                    found.add((node["path"].lower().rstrip("\\"), r["label"], r["name"].lower()))
    return found
expected = {
    ("c:\\keldrun-app", "old", "readme.txt"), ("c:\\keldrun-app", "new", "readme.txt"),
    ("c:\\keldrun-app\\bin", "del", "old.dat"), ("c:\\keldrun-app\\bin", "add", "plugin.dll"),
}
native, wine = load("cmp-native.json"), load("cmp-wine.json")
for side, doc in (("native", native), ("wine", wine)):
    got = changes(doc)
    if got != expected:
        print(f"cli_check: {side} compare found {sorted(got)}, expected {sorted(expected)}",
              file=sys.stderr); ok = False
# The snapshots' own paths differ by front end; everything else must be the same document.
for doc in (native, wine):
    for k in ("a", "b"):
        doc[k].pop("path", None)
if native != wine:
    print("cli_check: the two front ends' compare documents differ", file=sys.stderr); ok = False
sys.exit(0 if ok else 1)
PY

# ---- each opens the other's snapshot: show and the HTML report ----------------------------
nat show 2 --section files 'c:\keldrun-app\bin\' >"$work/show-native.txt"
win show 1 --section files 'c:\keldrun-app\bin\' >"$work/show-wine.txt"
grep -q 'plugin.dll' "$work/show-native.txt" || fail "native show of the Wine snapshot lacks plugin.dll"
grep -q 'old.dat' "$work/show-wine.txt" || fail "Wine show of the native snapshot lacks old.dat"
nat report 1 2 --out "$work/native.htm" >/dev/null 2>&1 || fail "native report failed"
win report 1 2 --out 'c:\keldrun-home\wine.htm' >/dev/null 2>&1 || fail "Wine report failed"
# The report is UTF-16; both front ends must write the same bytes for the same two snapshots.
iconv -f UTF-16 -t UTF-8 "$work/native.htm" 2>/dev/null | grep -q 'plugin.dll' ||
  fail "the native report does not name plugin.dll"
cmp -s "$work/native.htm" "$home/wine.htm" || fail "the two front ends' reports differ"

# ---- catalog edits by one are seen by the other --------------------------------------------
win rename 1 'renamed by wine' >/dev/null 2>&1 || fail "Wine rename failed"
nat info 1 --json | grep -q '"renamed by wine"' || fail "native info does not see the Wine rename"
mkdir -p "$prefix/drive_c/packs"
nat export 2 --to "$prefix/drive_c/packs" >/dev/null 2>&1 || fail "native export failed"
pack=$(cd "$prefix/drive_c/packs" && ls | head -1)
win import "c:\\packs\\$pack" >"$work/import.out" 2>&1 || fail "Wine import of the native pack failed"
nat delete 1 >/dev/null 2>&1 || fail "native delete failed"
[ ! -e "$home/data/snap001.snp" ] || fail "native delete left snap001.snp"
win list --json >"$work/list-after.json"
python3 - "$work/list-after.json" <<'PY' || fail "the Wine list after the edits is wrong"
import json, sys
names = [s["name"] for s in json.load(open(sys.argv[1], encoding="utf-8"))["snapshots"]]
if len(names) != 2 or "renamed by wine" in names or names.count("after (wine)") != 2:
    print("cli_check: Wine list after rename, import and delete:", names, file=sys.stderr)
    sys.exit(1)
PY
s=$(status_of "$work/cmp-import.txt" win compare 2 3)
[ "$s" = 0 ] || fail "the imported copy differs from its original (compare exited $s)"

if [ "$failures" -ne 0 ]; then
  echo "cli_check: $failures failure(s)" >&2
  exit 1
fi
echo "cli_check: passed (a shared workspace; snapshots, compare, report, rename, export, import, delete across both front ends)"
