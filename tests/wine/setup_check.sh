#!/usr/bin/env bash
# The real Keldrun.exe as its own setup program, end to end in a fresh prefix: started under the
# name of a downloaded setup file, its setup window (agreement, then install page) installs into
# "C:\Program Files\Keldrun\" (files, both shortcuts, the uninstall entry); the installed program
# opens its main window; "-uninstall" runs both stages and removes it all. A second round
# installs through the folder browser into a folder whose name has a blank and characters above
# U+00FF, without a desktop icon; a file of the user's in the program folder then keeps itself
# and the folder, and the uninstall says it is incomplete.
#   tests/wine/setup_check.sh [--shots DIR]      KELDRUN_KEEP=1 keeps the work folder
# With --shots the setup pages and the uninstall question are saved into DIR as PNG files.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

shots=
if [ "${1:-}" = "--shots" ]; then
  [ $# -ge 2 ] || { echo "usage: $0 [--shots DIR]" >&2; exit 2; }
  mkdir -p "$2"
  shots=$(cd "$2" && pwd)
fi

if [ -z "${KELDRUN_XVFB:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "setup_check: xvfb-run is missing" >&2; exit 2; }
  KELDRUN_XVFB=1 exec timeout 900 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

check_name=setup_check
program=$KELDRUN_WIN_BUILD/Keldrun.exe
driver=$KELDRUN_WIN_BUILD/keldrun_drive.exe
require "$program" "$driver"
work=$(mktemp -d /tmp/keldrun-setup_check.XXXXXX)
prefix=$work/prefix
trap end_check EXIT
make_prefix "$prefix"
export WINEPREFIX=$prefix

failures=0
fail() {
  echo "setup_check: $*" >&2
  failures=$((failures + 1))
}
drive() { wine "$driver" "$@" || { fail "driving failed at: $*"; return 1; }; }
# shot CAPTION NAME: the window's picture as NAME.bmp in the work folder, with --shots.
shot() {
  [ -n "$shots" ] || return 0
  drive shot "$1" "$(winepath -w "$work/$2.bmp" 2>/dev/null)" || true
}

downloads=$prefix/drive_c/downloads
mkdir -p "$downloads"
cp "$program" "$downloads/keldrun-setup.exe"
installed="$prefix/drive_c/Program Files/Keldrun"
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Keldrun'
shell_folder() {
  local value
  value=$(wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v "$1" 2>/dev/null |
    tr -d '\r' | sed -n "s/^ *$1 *REG_SZ *//p")
  winepath -u "$value" 2>/dev/null
}

S="Keldrun Setup"
B="Browse for Folder"
# run_setup [FOLDER]: through both pages; FOLDER (a folder under C:\) is chosen in the folder
# browser, and then the desktop icon is left out.
run_setup() {
  (cd "$downloads" && wine keldrun-setup.exe >/dev/null 2>&1) &
  local pid=$!
  drive wait "$S" || true
  [ $# -gt 0 ] || shot "$S" setup_agreement
  drive click "$S" 1 \; expect "$S" 1 Install \
    \; expect "$S" 146/1007 "Setup will install Keldrun into the following folder:" || true
  [ $# -gt 0 ] || shot "$S" setup_install
  if [ $# -gt 0 ]; then
    drive click "$S" 146/1006 \; wait "$B" \; select "$B" 14145 "My Computer" \; keys "$B" 14145 Right \
      \; select "$B" 14145 ' (C:)' \; keys "$B" 14145 Right \; select "$B" 14145 "$1" \
      \; selected "$B" 14145 "$1" \; click "$B" 1:Button \; gone "$B" \; click "$S" 146/1005 || true
  fi
  drive click "$S" 1 \; wait Info \; expect Info 10001 "Setup complete" \; click Info 20003 \; gone "$S" || true
  wait $pid || fail "setup ended with an error"
}

# uninstall CAPTION TEXT: both stages, confirmed; the second stage's closing message.
uninstall() {
  (cd "$installed" && wine Keldrun.exe -uninstall >/dev/null 2>&1) &
  local pid=$!
  drive wait Warning || true
  [ "$1" = Info ] && shot Warning uninstall_question
  drive click Warning 20003 \; wait "$1" \; expect "$1" 10001 "$2" || true
  shot "$1" "uninstall_$(tr '[:upper:]' '[:lower:]' <<<"$1")"
  drive click "$1" 20003 \; gone "$1" || true
  wait $pid || true
}

run_setup
desktop=$(shell_folder Desktop)
programs=$(shell_folder Programs)
cmp -s "$downloads/keldrun-setup.exe" "$installed/Keldrun.exe" || fail "installed Keldrun.exe differs from the setup file"
[ -d "$installed/data" ] || fail "no data folder"
for link in "$desktop/Keldrun.lnk" "$programs/Corvellan Software/Keldrun.lnk"; do
  [ -s "$link" ] || fail "missing shortcut $link"
done
entry=$(wine reg query "$key" 2>/dev/null | tr -d '\r')
grep -q 'DisplayName *REG_SZ *Keldrun v1.6$' <<<"$entry" || fail "DisplayName: $entry"
  grep -q 'UninstallString *REG_SZ *"C:\\Program Files\\Keldrun\\Keldrun.exe" -uninstall$' <<<"$entry" ||
  fail "UninstallString: $entry"
grep -q 'NoModify *REG_DWORD *0x1$' <<<"$entry" || fail "NoModify: $entry"

# The installed program is the program itself.
M="Corvellan Software Keldrun v1.6"
(cd "$installed" && wine Keldrun.exe >/dev/null 2>&1) &
pid=$!
drive wait "$M" \; close "$M" \; gone "$M" || true
wait $pid || true

uninstall Info "Uninstall complete"
[ ! -e "$installed" ] || fail "program folder left: $(ls -A "$installed")"
[ ! -e "$desktop/Keldrun.lnk" ] || fail "desktop shortcut left"
[ ! -e "$programs/Corvellan Software" ] || fail "start-menu folder left"
wine reg query "$key" >/dev/null 2>&1 && fail "uninstall entry left"

# Second round: a folder with a blank and characters above U+00FF, no desktop icon.
tools="Tools Ωж"
mkdir -p "$prefix/drive_c/$tools"
run_setup "$tools"
installed="$prefix/drive_c/$tools/Keldrun"
cmp -s "$downloads/keldrun-setup.exe" "$installed/Keldrun.exe" || fail "Keldrun.exe not installed in $installed"
[ -s "$programs/Corvellan Software/Keldrun.lnk" ] || fail "missing start-menu shortcut in the second round"
[ ! -e "$desktop/Keldrun.lnk" ] || fail "desktop shortcut made without the desktop icon"
wine reg query "$key" 2>/dev/null | tr -d '\r' | LC_ALL=C grep -q 'UninstallString *REG_SZ *"C:\\Tools .*\\Keldrun\\Keldrun.exe" -uninstall$' ||
  fail "UninstallString in the second round: $(wine reg query "$key" 2>&1 | tr -d '\r')"
(cd "$installed" && wine Keldrun.exe >/dev/null 2>&1) &
pid=$!
drive wait "$M" \; close "$M" \; gone "$M" || true
wait $pid || true
# A file of the user's keeps itself and the folder.
printf 'mine' >"$installed/notes.txt"
uninstall Error "Uninstall incomplete. Some items cannot be removed."
[ "$(ls -A "$installed" 2>/dev/null)" = notes.txt ] || fail "expected only notes.txt, found: $(ls -A "$installed" 2>/dev/null)"
[ ! -e "$programs/Corvellan Software" ] || fail "start-menu folder left in the second round"
wine reg query "$key" >/dev/null 2>&1 && fail "uninstall entry left in the second round"

if [ -n "$shots" ] && compgen -G "$work/*.bmp" >/dev/null; then
  python3 "$KELDRUN_SOURCE_DIR/tests/wine/bmp2png.py" "$work"/*.bmp
  cp "$work"/*.png "$shots"/
fi

if [ $failures -ne 0 ]; then
  echo "setup_check: $failures failure(s)" >&2
  exit 1
fi
echo "setup_check: ok"
