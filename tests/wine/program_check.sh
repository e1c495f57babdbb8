#!/usr/bin/env bash
# The real Keldrun.exe in a fresh Wine prefix under Xvfb: a workspace made by both command-line
# front ends (snapshot 1 by the native keldrun, snapshot 2 by keldrun-cli.exe after the prefix
# changed) opens in the program, which the window tests of ProgramGui.* then drive; afterwards
# the native keldrun reads what the program left.
#   tests/wine/program_check.sh [--shots DIR]
# With --shots the tests save pictures of every window they reach into DIR as PNG files
# (docs/gallery holds the committed set). KELDRUN_KEEP=1 keeps the prefix.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

check_name=program_check
parse_shots "$@"
need_xvfb
program=$KELDRUN_WIN_BUILD/Keldrun.exe
tests=$KELDRUN_WIN_BUILD/keldrun_tests.exe
require "$program" "$tests"
begin_check program_check

home=$prefix/drive_c/Keldrun
folder=$prefix/drive_c/work
mkdir -p "$home" "$folder"
cp "$program" "$cli" "$home/"
printf 'one' >"$folder/readme.txt"
# The prefix's documents folder links to $HOME; the program's HTML export goes there.
for d in "$prefix"/drive_c/users/*/Documents; do
  [ -L "$d" ] && rm "$d" && mkdir "$d"
done

nat() { "$native" --home "$home" --wine-prefix "$prefix" "$@"; }
win() { in_prefix "$prefix" wine "$cli" --home 'c:\Keldrun' "$@" | tr -d '\r'; }
reg_set() { in_prefix "$prefix" wine reg add 'HKCU\Software\KeldrunTest' /v x /d "$1" /f >/dev/null 2>&1; }

# Reports the program opens with the shell must not start a real browser inside the test.
in_prefix "$prefix" wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d none /f >/dev/null 2>&1
reg_set 1
end_prefix "$prefix"
nat snapshot --name 'first (native)' --registry 'HKEY_CURRENT_USER\Software\KeldrunTest' \
  --files "$folder" >"$work/snap1.out" 2>&1 || { cat "$work/snap1.out" >&2; exit 1; }
printf 'new' >"$folder/added.txt"
reg_set 2
# Six thousand new keys: at the smallest page size the registry's differences fill two pages of
# the report and the files a third, for the viewer's link row.
python3 - "$work/big.reg" <<'PY'
import sys
with open(sys.argv[1], "w", newline="\r\n") as f:
    f.write("REGEDIT4\n\n")
    for i in range(100000, 106000):
        f.write("[HKEY_CURRENT_USER\\Software\\KeldrunTest\\Big\\K%d]\n\"v\"=\"x\"\n\n" % i)
PY
in_prefix "$prefix" wine reg import "$(WINEPREFIX=$prefix winepath -w "$work/big.reg" 2>/dev/null)" >/dev/null 2>&1 \
  || { echo "program_check: the big registry key could not be imported" >&2; exit 1; }
win snapshot --name 'second (cli)' --registry 'HKEY_CURRENT_USER\Software\KeldrunTest' \
  --files 'c:\work' >"$work/snap2.out" 2>&1 || { cat "$work/snap2.out" >&2; exit 1; }
end_prefix "$prefix"

# Two machines' profiles for the normalise choice, in a workspace of their own (C:\normalise):
# the prefix's users folder as alice's machine would hold it, then as bob's, whose Desktop holds
# a file. (A file on both Desktops would differ in its change time, which snapshots of one
# computer compare.) The native keldrun reads the folder while no Wine process runs.
normhome=$prefix/drive_c/normalise
users=$prefix/drive_c/users
mkdir -p "$normhome"
cp "$program" "$cli" "$normhome/"
mv "$users" "$work/users.kept"
for u in alice bob; do
  rm -rf "$users"
  mkdir -p "$users/$u/Desktop"
  if [ "$u" = bob ]; then printf 'real' >"$users/$u/Desktop/note.txt"; fi
  find "$users" -exec touch -h -d '2026-01-15 08:00:00 UTC' {} +
  "$native" --home "$normhome" --wine-prefix "$prefix" snapshot --name "$u" --files "$users" \
    >"$work/snap-$u.out" 2>&1 || { cat "$work/snap-$u.out" >&2; exit 1; }
done
rm -rf "$users"
mv "$work/users.kept" "$users"

# Content changed behind a kept date (C:\digests): snapshot 1 of c:\digestwork by keldrun-cli.exe
# with digests, then kept.txt rewritten to the same size and its last-write time put back;
# ProgramGui.DigestsTickedInTheDialogShowTheChangeBehindAKeptDate takes snapshot 2 through the
# dialog from the scan filter file.
dghome=$prefix/drive_c/digests
dgwork=$prefix/drive_c/digestwork
mkdir -p "$dghome" "$dgwork"
cp "$program" "$cli" "$dghome/"
printf 'before' >"$dgwork/kept.txt"
printf 'Files:\r\nc:\\digestwork\\\r\n' >"$dghome/scan_filter.txt"
in_prefix "$prefix" wine "$cli" --home 'c:\digests' snapshot --digests --name 'digests 1' --files 'c:\digestwork' \
  >"$work/snap-dg.out" 2>&1 || { cat "$work/snap-dg.out" >&2; exit 1; }
end_prefix "$prefix"
touch -r "$dgwork/kept.txt" "$work/kept.time"
sleep 0.05
printf 'after!' >"$dgwork/kept.txt"
touch -r "$work/kept.time" "$dgwork/kept.txt"

winshots=
if [ -n "$shots" ]; then
  mkdir -p "$work/shots"
  winshots=$(WINEPREFIX=$prefix winepath -w "$work/shots" 2>/dev/null)
  end_prefix "$prefix"
fi
cp "$tests" "$work/"
wintests=$(WINEPREFIX=$prefix winepath -w "$work/keldrun_tests.exe" 2>/dev/null)
winresults=$(WINEPREFIX=$prefix winepath -w "$work/results.json" 2>/dev/null)
end_prefix "$prefix"

status=0
WINEPREFIX=$prefix KELDRUN_PROGRAM='C:\Keldrun\Keldrun.exe' KELDRUN_SHOTS=$winshots \
  timeout 900 xvfb-run -a -s "-screen 0 1280x1024x24" \
  wine "$wintests" --gtest_filter="${KELDRUN_GUI_FILTER:-ProgramGui.*}" --gtest_brief=1 \
  --gtest_output="json:$winresults" || status=$?
end_prefix "$prefix"

save_shots "$work/shots"
[ $status -eq 0 ] || { echo "program_check: window tests FAILED (exit status $status)"; exit 1; }

# The dialog's choice stored in Keldrun.cfg: a snapshot by keldrun-cli.exe without --digests
# records digests. The native command line reads the dialog's snapshot: both digests, the marks.
# Only when that test ran.
if python3 - "$work/results.json" <<'PY'
import json, sys
runs = [t for s in json.load(open(sys.argv[1], encoding="utf-8"))["testsuites"] for t in s["testsuite"]
        if s["name"] == "ProgramGui" and t["name"] == "DigestsTickedInTheDialogShowTheChangeBehindAKeptDate"]
sys.exit(0 if runs and runs[0].get("status") == "RUN" else 1)
PY
then
  in_prefix "$prefix" wine "$cli" --home 'c:\digests' snapshot --name 'digests 3' --files 'c:\digestwork' \
    >"$work/snap-dg3.out" 2>&1 || { cat "$work/snap-dg3.out" >&2; exit 1; }
  end_prefix "$prefix"
  "$native" --home "$dghome" --wine-prefix "$prefix" show 3 --json 'c:\digestwork' >"$work/dg3.json" 2>&1 || true
  grep -qF '"sha256":"f778dacc09a326990d63568063853fdffb39d070ee6049054e23b1a666d1bf63"' "$work/dg3.json" \
    || { echo "program_check: Keldrun.cfg does not keep the digests choice" >&2; cat "$work/dg3.json" >&2; exit 1; }
  "$native" --home "$dghome" --wine-prefix "$prefix" compare 1 2 --json >"$work/dg.json" 2>&1 || true
  for want in '"sha256":"f778dacc09a326990d63568063853fdffb39d070ee6049054e23b1a666d1bf63","marks":["dateKept","digestChanged"]' \
              '"sha256":"6db7d803e74f1ffa7d8f5adc0bf95b3e15bf4c8373fffadf546227cc6c6742cb","marks":["dateKept","digestChanged"]'; do
    grep -qF "$want" "$work/dg.json" || { echo "program_check: compare 1 2 of C:\digests lacks $want" >&2; cat "$work/dg.json" >&2; exit 1; }
  done
fi

# The workspace is checked afterwards only when the test that leaves it so ran: a filter may
# have left it out.
python3 - "$work/results.json" <<'PY' || { echo "program_check: passed (the workspace check needs ProgramGui.SnapshotsScreenDrivesTheWorkspace)"; exit 0; }
import json, sys
runs = [t for s in json.load(open(sys.argv[1], encoding="utf-8"))["testsuites"] for t in s["testsuite"]
        if s["name"] == "ProgramGui" and t["name"] == "SnapshotsScreenDrivesTheWorkspace"]
sys.exit(0 if runs and runs[0].get("status") == "RUN" else 1)
PY

# What the program left, read natively: the renamed snapshot alone.
nat list --json >"$work/list.json"
python3 - "$work/list.json" <<'PY' || { echo "program_check: the workspace is not as the program left it" >&2; exit 1; }
import json, sys
snaps = json.load(open(sys.argv[1], encoding="utf-8"))["snapshots"]
names = [s["name"] for s in snaps]
assert names == ["renamed in the program"], names
assert snaps[0]["number"] == 1, snaps
PY
[ ! -e "$home/data/snap002.snp" ] || { echo "program_check: snap002.snp outlived its deletion" >&2; exit 1; }
echo "program_check: passed (the program and both command lines agree on one workspace)"
