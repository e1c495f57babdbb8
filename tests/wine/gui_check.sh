#!/usr/bin/env bash
# Runs the window tests of the toolkit (controls, message box, browser fallback, gallery) and of
# the take-snapshot and progress dialogs under Wine with a virtual X display, in a fresh prefix.
#   tests/wine/gui_check.sh [--shots DIR]
# With --shots the tests save their screenshots into DIR as PNG files (docs/gallery holds the
# committed set). Needs keldrun_tests.exe in $KELDRUN_WIN_BUILD (default build/win64).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

shots=
if [ "${1:-}" = "--shots" ]; then
  [ $# -ge 2 ] || { echo "usage: $0 [--shots DIR]" >&2; exit 2; }
  mkdir -p "$2"
  shots=$(cd "$2" && pwd)
fi

exe=$KELDRUN_WIN_BUILD/keldrun_tests.exe
require "$exe"
command -v xvfb-run >/dev/null || { echo "gui_check: xvfb-run is missing" >&2; exit 2; }

work=$(mktemp -d /tmp/keldrun-gui.XXXXXX)
prefix=$work/prefix
cleanup() {
  end_prefix "$prefix"
  rm -rf "$work"
}
trap cleanup EXIT
make_prefix "$prefix"

filter='DialogGui.*:ButtonGui.*:SubclassGui.*:TreeGui.*:ListGui.*:TabStripGui.*:SplitterGui.*:AnchorLayoutGui.*'
filter+=':PopupMenuGui.*:MessageBoxGui.*:BrowserGui.*:Gallery.*'
filter+=':TakeSnapshotGui.*:TransferGui.*:ReportDialogsGui.*'

winshots=
if [ -n "$shots" ]; then
  mkdir -p "$work/shots"
  winshots=$(WINEPREFIX=$prefix winepath -w "$work/shots" 2>/dev/null)
  # winepath started the prefix's server without a display; windows need one started under Xvfb.
  end_prefix "$prefix"
fi

status=0
WINEPREFIX=$prefix KELDRUN_GUI_TESTS=1 KELDRUN_SHOTS=$winshots \
  timeout 900 xvfb-run -a -s "-screen 0 1280x1024x24" \
  wine "$exe" --gtest_filter="$filter" --gtest_brief=1 || status=$?

if [ -n "$shots" ] && compgen -G "$work/shots/*.bmp" >/dev/null; then
  python3 "$KELDRUN_SOURCE_DIR/tests/wine/bmp2png.py" "$work/shots"/*.bmp
  cp "$work/shots"/*.png "$shots"/
  echo "gui_check: screenshots in $shots"
fi
if [ $status -ne 0 ]; then
  echo "gui_check: window tests FAILED (exit status $status)"
  exit 1
fi
echo "gui_check: window tests passed"
