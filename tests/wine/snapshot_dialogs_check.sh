#!/usr/bin/env bash
# The take-snapshot dialog and the export and import commands as the user meets them: the real
# Keldrun.exe in its program folder inside a fresh Wine prefix, under Xvfb, its Snapshots screen
# and dialogs driven from outside by keldrun_drive.exe with window messages and keystrokes. After
# each step the native command line reads the same workspace (list --json, compare), so that the
# windows and the files agree:
#   - a snapshot of HKEY_CURRENT_USER\Software and one folder chosen in the selection tree, a
#     change, a second snapshot with the stored choice, compared;
#   - Escape and the close box do nothing during a scan; Stop deletes the file and leaves the
#     catalog alone;
#   - two snapshots exported through the folder browser and imported back through the open-file
#     dialog; a damaged file is reported and registers nothing;
#   - a full disk during an export, and (when tmpfs can be mounted) during a scan, ends in the
#     error box and loses nothing in the catalog;
#   - a name in Cyrillic and CJK typed into the take-snapshot dialog and one with an emoji and
#     Latin-1 given in the properties dialog read back exactly in the list, the boxes, the
#     dialog, the title and both command lines.
#   tests/wine/snapshot_dialogs_check.sh      KELDRUN_KEEP=1 keeps the work folder
set -euo pipefail
source "$(dirname "$0")/lib.sh"

if [ -z "${KELDRUN_XVFB:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "snapshot_dialogs_check: xvfb-run is missing" >&2; exit 2; }
  KELDRUN_XVFB=1 exec timeout 900 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

begin_check snapshot_dialogs_check
# The small file system of the full-disk scan must not outlive the check.
trap 'umount "$work/small" 2>/dev/null || true; end_check' EXIT
program=$KELDRUN_WIN_BUILD/Keldrun.exe
driver=$KELDRUN_WIN_BUILD/keldrun_drive.exe
require "$program" "$driver"

prog=$prefix/drive_c/keldrun-prog
folder=$prefix/drive_c/keldrunfolder
exports=$prefix/drive_c/keldrun-exports
mkdir -p "$prog" "$folder/sub" "$exports"
cp "$program" "$prog/"
printf 'one' >"$folder/readme.txt"
printf 'old' >"$folder/sub/tool.dll"

failures=0
fail() {
  echo "snapshot_dialogs_check: $*" >&2
  failures=$((failures + 1))
}

export WINEPREFIX=$prefix
# drive ARGS...: keldrun_drive.exe; a failure is counted.
drive() {
  if ! wine "$driver" "$@"; then
    fail "driving failed at: $*"
    return 1
  fi
}
nat() { "$native" --home "$prog" --wine-prefix "$prefix" "$@"; }
catalog_names() {
  nat list --json | python3 -c 'import json,sys; print(",".join(s["name"] for s in json.load(sys.stdin)["snapshots"]))'
}
# catalog_is NAMES WHAT: waits (up to a minute) for the catalog on disk to list exactly NAMES,
# since the program saves it at the end of each command, after its windows have closed.
catalog_is() {
  local i
  for i in $(seq 60); do
    [ "$(catalog_names)" = "$1" ] && return 0
    sleep 1
  done
  fail "catalog $2: $(catalog_names), expected $1"
}
reg_set() { wine reg add 'HKCU\Software\KeldrunCheck' /v Marker /d "$1" /f >/dev/null 2>&1; }

M="Corvellan Software Keldrun v1.6"
T="Take snapshot"
TREE=1000
# The Snapshots screen (page 131): the list and the buttons.
LIST=131/1001
TAKE=131/1002:Button
IMPORT=131/1008:Button
EXPORT=131/1014:Button
reg_set one
(cd "$prog" && wine Keldrun.exe >/dev/null 2>&1) &
program_pid=$!
drive wait "$M" || { echo "snapshot_dialogs_check: Keldrun.exe did not open" >&2; exit 1; }

# ---- a snapshot of HKEY_CURRENT_USER\Software and one folder, chosen in the tree -------------
drive click "$M" $TAKE \; wait "$T" \; click "$T" 1027 \; enabled "$T" $TREE 1 \
  \; select "$T" $TREE "My Computer" \; keys "$T" $TREE Space \; check "$T" $TREE 0 \
  \; select "$T" $TREE HKEY_CURRENT_USER \; keys "$T" $TREE Right \
  \; select "$T" $TREE Software \; keys "$T" $TREE Space \; check "$T" $TREE 1 \
  \; select "$T" $TREE 'c:\' \; keys "$T" $TREE Right \
  \; select "$T" $TREE keldrunfolder \; keys "$T" $TREE Space \; check "$T" $TREE 1 \
  \; select "$T" $TREE HKEY_CURRENT_USER \; check "$T" $TREE 2 \
  \; settext "$T" 1005 first \; click "$T" 1 \
  \; wait Info \; expect Info 10001 "Snapshot done in" \; click Info 20003 \; gone "$T" || true
catalog_is first "after the first snapshot"
grep -qi '^hkey_current_user\\software\\' "$prog/scan_filter.txt" || fail "scan_filter.txt lacks the registry choice"
grep -qi '^c:\\keldrunfolder\\' "$prog/scan_filter.txt" || fail "scan_filter.txt lacks the folder"
grep -q 'Snapshot done in' "$prog/KeldrunLog.txt" || fail "no completion text in the log"

# ---- a change, a second snapshot with the stored choice, compared -----------------------------
reg_set two
printf 'two!' >"$folder/readme.txt"
printf 'new' >"$folder/sub/plugin.dll"
drive click "$M" $TAKE \; wait "$T" \; enabled "$T" $TREE 1 \; settext "$T" 1005 second \; click "$T" 1 \
  \; wait Info \; click Info 20003 \; gone "$T" || true
catalog_is first,second "after the second snapshot"
s=0
nat compare 1 2 >"$work/compare.txt" 2>&1 || s=$?
[ "$s" = 1 ] || fail "compare 1 2 exited $s, expected 1 (differences)"
for what in KeldrunCheck Marker readme.txt plugin.dll; do
  grep -q "$what" "$work/compare.txt" || fail "compare 1 2 does not show $what"
done
# The snapshots hold only what was chosen.
nat info 2 --json >"$work/info2.json"
python3 - "$work/info2.json" <<'PY' || fail "snapshot 2 does not record the chosen lists"
import json, sys
info = json.load(open(sys.argv[1]))
text = json.dumps(info).lower()
assert "hkey_current_user\\\\software\\\\" in text, text
assert "c:\\\\keldrunfolder\\\\" in text, text
PY

# ---- Escape and the close box do nothing while scanning; Stop deletes the file ----------------
drive click "$M" $TAKE \; wait "$T" \; click "$T" 1026 \; select "$T" $TREE Applications \; click "$T" 1 \
  \; expect "$T" 1 Stop \; enabled "$T" 2 0 \
  \; keys "$T" $TREE Escape \; close "$T" \; keys "$T" $TREE Home \; selected "$T" $TREE "My Computer" \
  \; expect "$T" 1 Stop \; click "$T" 1 \; wait Info \; expect Info 10001 "Snapshot stopped; " \
  \; click Info 20003 \; gone Info \; gone "$T" || fail "Stop did not say that it deleted the snapshot"
[ ! -e "$prog/data/snap003.snp" ] || fail "Stop left data/snap003.snp behind"
catalog_is first,second "after Stop"

# ---- export two snapshots and import them back ------------------------------------------------
B="Browse for Folder"
# browse_exports: chooses c:\keldrun-exports in the folder browser's tree.
browse_exports() {
  drive wait "$B" \; select "$B" 14145 "My Computer" \; keys "$B" 14145 Right \
    \; select "$B" 14145 ' (C:)' \; keys "$B" 14145 Right \
    \; select "$B" 14145 keldrun-exports \; selected "$B" 14145 keldrun-exports \; click "$B" 1:Button
}
drive lvselect "$M" $LIST 0 1 \; enabled "$M" $EXPORT 1 \; click "$M" $EXPORT
browse_exports && drive wait Info \; expect Info 10001 "Snapshots exported" \; click Info 20003 || true
for n in 001 002; do
  [ "$(head -c 4 "$exports/snap$n.snp" 2>/dev/null)" = C1.4 ] || fail "snap$n.snp was not exported packed"
done

O="Open"
drive click "$M" $IMPORT \; wait "$O" \; settext "$O" 1148:Edit 'C:\keldrun-exports\' \; press "$O" 1:Button \
  \; settext "$O" 1148:Edit '"snap002.snp" "snap001.snp"' \; click "$O" 1:Button \; gone "$O" \; gone Import || true
catalog_is first,second,second,first "after the import"
s=0
nat compare 1 4 >/dev/null 2>&1 || s=$?
[ "$s" = 0 ] || fail "snapshot 4 (imported 1) differs from snapshot 1 (compare exited $s)"

# ---- a damaged file: reported, nothing registered ----------------------------------------------
head -c 100 "$exports/snap001.snp" >"$exports/damaged.snp"
drive click "$M" $IMPORT \; wait "$O" \; settext "$O" 1148:Edit 'C:\keldrun-exports\damaged.snp' \; click "$O" 1:Button \
  \; wait Error \; expect Error 10001 "Import error" \; click Error 20003 || true
catalog_is first,second,second,first "after the damaged import"
[ ! -e "$prog/data/snap005.snp" ] || fail "the damaged import left data/snap005.snp"

# ---- a full disk during an export: the error box, the catalog untouched -----------------------
rm -f "$exports/snap003.snp"
ln -s /dev/full "$exports/snap003.snp"
drive lvselect "$M" $LIST 2 \; enabled "$M" $EXPORT 1 \; click "$M" $EXPORT
browse_exports && drive wait Error \; expect Error 10001 "Export error" \; click Error 20003 || true
catalog_is first,second,second,first "after the failed export"
[ -s "$prog/data/snap003.snp" ] || fail "a failed export harmed its source"

# ---- a full disk during a scan (needs the right to mount a small tmpfs) -----------------------
if mkdir -p "$work/small" && mount -t tmpfs -o size=64k tmpfs "$work/small" 2>/dev/null; then
  mv "$prog/data" "$work/data.keep"
  ln -s "$work/small" "$prog/data"
  head -c 60000 /dev/zero >"$work/small/filler" 2>/dev/null || true
  drive click "$M" $TAKE \; wait "$T" \; click "$T" 1 \; wait Error \; click Error 20003 \; gone "$T" || true
  leftover=$(ls "$work/small" | grep -v filler || true)
  [ -z "$leftover" ] || fail "a scan onto a full disk left: $leftover"
  rm "$prog/data"
  umount "$work/small"
  mv "$work/data.keep" "$prog/data"
  catalog_is first,second,second,first "after the failed scan"
else
  echo "snapshot_dialogs_check: no tmpfs mount allowed; the full-disk scan is left out"
fi

# ---- names in other scripts: typed, shown, renamed, read back by both command lines ----------
NAME='Снимок 快照'
RENAMED='😀 Après'
P="Snapshot properties"
drive click "$M" $TAKE \; wait "$T" \; settext "$T" 1005 '' \; chars "$T" 1005 "$NAME" \; expect "$T" 1005 "$NAME" \
  \; click "$T" 1 \; wait Info \; click Info 20003 \; gone "$T" || true
catalog_is "first,second,second,first,$NAME" "after the snapshot named in Cyrillic and CJK"
drive cell "$M" $LIST 4 0 "$NAME" \; expect "$M" 131/1005 "$NAME (" \
  \; lvselect "$M" $LIST 4 \; click "$M" 131/1009 \; wait "$P" \; expect "$P" 1005 "$NAME" \
  \; settext "$P" 1005 "$RENAMED" \; click "$P" 1 \; gone "$P" \; cell "$M" $LIST 4 0 "$RENAMED" \
  \; expect "$M" 131/1005 "$RENAMED (" || fail "the list, the box or the properties dialog garbled a name"
catalog_is "first,second,second,first,$RENAMED" "after the rename in the properties dialog"
number=$(nat list --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["snapshots"][4]["number"])')
nat info "$number" | grep -qxF "Name      $RENAMED" || fail "keldrun info does not show the renamed name"
win_list=$(wine "$cli" --home 'c:\keldrun-prog' list --json 2>/dev/null | tr -d '\r')
printf '%s' "$win_list" | python3 -c 'import json,sys; print(json.load(sys.stdin)["snapshots"][4]["name"])' \
  | grep -qxF "$RENAMED" || fail "keldrun-cli.exe list --json does not give the renamed name: $win_list"
wine "$cli" --home 'c:\keldrun-prog' list 2>/dev/null | tr -d '\r' | grep -qF "  $RENAMED  " \
  || fail "keldrun-cli.exe list does not show the renamed name"
# Viewed, the snapshot names the main window.
drive lvselect "$M" $LIST 4 \; press "$M" 131/1007 \; wait "$M - view $RENAMED" || fail "the title garbled the name"
M="$M - view $RENAMED"

# ---- the program closes and leaves the catalog as the windows showed it ----------------------
drive close "$M" \; gone "$M" || true
wait "$program_pid" || fail "Keldrun.exe ended with an error"
catalog_is "first,second,second,first,$RENAMED" "after closing"

if [ "$failures" -ne 0 ]; then
  echo "snapshot_dialogs_check: $failures failure(s)"
  exit 1
fi
echo "snapshot_dialogs_check: the dialogs and the workspace agree"
