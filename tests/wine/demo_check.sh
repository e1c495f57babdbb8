#!/usr/bin/env bash
# The main job of scripts/demo.sh, checked: on a fresh prefix it takes a snapshot, installs a
# small application (registry keys and values in both hives, files under Program Files, a Run
# value, a service), takes a second snapshot, and the differences between the two must be
# exactly that installation: every node whose own content changed and every changed row.
#   tests/wine/demo_check.sh [--keep]   --keep leaves the work folder in place
set -euo pipefail
. "$(dirname "$0")/lib.sh"
require "$KELDRUN_NATIVE_BUILD/keldrun"
command -v python3 >/dev/null || { echo "demo_check: python3 is needed" >&2; exit 2; }

work=$(mktemp -d /tmp/keldrun-demo-check.XXXXXX)
keep=${1:-}
cleanup() {
  WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1 || true
  [ "$keep" = --keep ] || rm -rf "$work"
}
trap cleanup EXIT

KELDRUN_DEMO_BUILD=$KELDRUN_NATIVE_BUILD bash "$KELDRUN_SOURCE_DIR/scripts/demo.sh" "$work" \
  >"$work/demo.log" 2>&1 || { cat "$work/demo.log" >&2; echo "demo_check: demo.sh failed" >&2; exit 1; }
grep -q "the HTML differences report is $work/differences.htm" "$work/demo.log" ||
  { echo "demo_check: demo.sh did not say where the report is" >&2; exit 1; }
[ -s "$work/differences.htm" ] || { echo "demo_check: no report written" >&2; exit 1; }

status=0
"$KELDRUN_NATIVE_BUILD/keldrun" --home "$work/home" compare 1 2 --json >"$work/diff.json" || status=$?
[ $status -eq 1 ] || { echo "demo_check: compare exited $status, expected 1 (differences)" >&2; exit 1; }

python3 - "$work/diff.json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
app = "c:\\program files\\keldrun demo app\\"
# (section, node path, row label, row name), compared without regard to case.
expected = {
    ("registry", "hkey_current_user\\software\\keldrundemo", None, None),
    ("registry", "hkey_current_user\\software\\keldrundemo\\settings", "add", "theme"),
    ("registry", "hkey_local_machine\\software\\keldrundemo", "add", "installdir"),
    ("registry", "hkey_local_machine\\software\\keldrundemo", "add", "version"),
    ("registry", "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\run", "add", "keldrundemo"),
    ("files", "c:\\program files\\keldrun demo app", "add", "demo.exe"),
    ("files", "c:\\program files\\keldrun demo app", "add", "demo.ini"),
    ("files", "c:\\program files\\keldrun demo app\\plugins", "add", "extra.dll"),
    ("apps", "startup", "add", "keldrundemo"),
    ("apps", "services", "add", "keldrun demo service"),
}
found = set()
for section in doc["sections"]:
    for node in section["nodes"]:
        path = node["path"].lower().rstrip("\\")
        changed = [r for r in node["rows"] if r["stateNumber"] != 0]
        if node["ownChanged"] and not changed:
            found.add((section["section"], path, None, None))
        for r in changed:
            found.add((section["section"], path, r["label"], r["name"].lower()))
ok = True
for item in sorted(expected - found, key=str):
    print("demo_check: missing difference", item, file=sys.stderr); ok = False
for item in sorted(found - expected, key=str):
    print("demo_check: unexpected difference", item, file=sys.stderr); ok = False
rows = {(s["section"], r["name"].lower()): r for s in doc["sections"] for n in s["nodes"] for r in n["rows"]}
if rows.get(("registry", "version"), {}).get("data") != "0x00000003 (3)":
    print("demo_check: Version value has the wrong data", rows.get(("registry", "version")), file=sys.stderr); ok = False
if rows.get(("files", "demo.ini"), {}).get("size") != 19:
    print("demo_check: demo.ini has the wrong size", rows.get(("files", "demo.ini")), file=sys.stderr); ok = False
if doc["differences"] is not True:
    print("demo_check: differences flag not set", file=sys.stderr); ok = False
sys.exit(0 if ok else 1)
PY
echo "demo_check: the differences are exactly the installation"
