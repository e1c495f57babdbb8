#!/usr/bin/env bash
# Every window of the real Keldrun.exe at 96, 120 and 144 DPI: one prefix with a workspace of two
# snapshots (taken by the native keldrun), whose display scale (LogPixels) is set before each run
# of the window tests of ScaleGui.*, which open each window and check its geometry.
#   tests/wine/scale_check.sh [--shots DIR]
# With --shots the 144 DPI run saves its pictures into DIR as PNG files (docs/gallery holds the
# committed set). KELDRUN_KEEP=1 keeps the prefix.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

check_name=scale_check
parse_shots "$@"
need_xvfb
program=$KELDRUN_WIN_BUILD/Keldrun.exe
tests=$KELDRUN_WIN_BUILD/keldrun_tests.exe
require "$program" "$tests"
begin_check scale_check

home=$prefix/drive_c/Keldrun
folder=$prefix/drive_c/work
mkdir -p "$home" "$folder" "$prefix/drive_c/downloads"
cp "$program" "$cli" "$home/"
cp "$program" "$prefix/drive_c/downloads/keldrun-setup.exe"
printf 'one' >"$folder/readme.txt"
nat() { "$native" --home "$home" --wine-prefix "$prefix" "$@"; }
reg_set() { in_prefix "$prefix" wine reg add 'HKCU\Software\KeldrunTest' /v x /d "$1" /f >/dev/null 2>&1; }

# Reports the program opens with the shell must not start a real browser inside the test.
in_prefix "$prefix" wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d none /f >/dev/null 2>&1
reg_set 1
end_prefix "$prefix"
nat snapshot --name first --registry 'HKEY_CURRENT_USER\Software\KeldrunTest' --files "$folder" >"$work/snap.out" 2>&1 \
  || { cat "$work/snap.out" >&2; exit 1; }
printf 'new' >"$folder/added.txt"
reg_set 2
end_prefix "$prefix"
nat snapshot --name second --registry 'HKEY_CURRENT_USER\Software\KeldrunTest' --files "$folder" >"$work/snap.out" 2>&1 \
  || { cat "$work/snap.out" >&2; exit 1; }

mkdir -p "$work/shots"
winshots=$(WINEPREFIX=$prefix winepath -w "$work/shots" 2>/dev/null)
cp "$tests" "$work/"
wintests=$(WINEPREFIX=$prefix winepath -w "$work/keldrun_tests.exe" 2>/dev/null)
end_prefix "$prefix"

failed=
for dpi in 96 120 144; do
  # The display's scale is read when the prefix's server starts: set it with the server stopped
  # after, so that the next start reads it.
  in_prefix "$prefix" wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null 2>&1
  end_prefix "$prefix"
  keep=
  [ -n "$shots" ] && [ $dpi = 144 ] && keep=$winshots
  status=0
  WINEPREFIX=$prefix KELDRUN_GUI_TESTS=1 KELDRUN_PROGRAM='C:\Keldrun\Keldrun.exe' \
    KELDRUN_SETUP_PROGRAM='C:\downloads\keldrun-setup.exe' KELDRUN_SHOTS=$keep \
    timeout 600 xvfb-run -a -s "-screen 0 1280x1024x24" \
    wine "$wintests" --gtest_filter="${KELDRUN_GUI_FILTER:-ScaleGui.*}" --gtest_brief=1 || status=$?
  end_prefix "$prefix"
  [ $status -eq 0 ] || failed+=" $dpi"
done

save_shots "$work/shots"
[ -z "$failed" ] || { echo "scale_check: window tests FAILED at DPI$failed"; exit 1; }
echo "scale_check: passed (every window lays out at 96, 120 and 144 DPI)"
