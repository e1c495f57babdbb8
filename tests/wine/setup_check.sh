#!/usr/bin/env bash
# The real Keldrun.exe as its own setup program, end to end in a fresh prefix: started under the
# name of a downloaded setup file, its setup window (agreement, then install page) installs into
# "C:\Program Files\Keldrun\" (files, both shortcuts, the uninstall entry); the installed program
# opens its main window; "-uninstall" runs both stages and removes it all. A target folder that
# cannot be created gives "Cannot create" and leaves the window open. A second round
# installs through the folder browser into a folder whose name has a blank and characters above
# U+00FF, without a desktop icon; a file of the user's in the program folder then keeps itself
# and the folder, the uninstall says it is incomplete, and an uninstall entry that names another
# installation's folder stays.
#   tests/wine/setup_check.sh [--shots DIR]      KELDRUN_KEEP=1 keeps the work folder
# With --shots the setup pages and the uninstall question are saved into DIR as PNG files.
# Every wait is bounded: the first step that fails ends the check, and the prefix's processes
# (with any window left open) end with it.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

check_name=setup_check
parse_shots "$@"
if [ -z "${KELDRUN_XVFB:-}" ]; then
  need_xvfb
  KELDRUN_XVFB=1 exec timeout 900 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

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
# stop MESSAGE: a step that the rest depends on failed; the check ends here (end_check stops the
# prefix's processes).
stop() {
  fail "$*"
  echo "setup_check: $failures failure(s)" >&2
  exit 1
}
# Each driver command gives up after 60 s.
drive() { wine "$driver" "$@" || stop "driving failed at: $*"; }
# ends PID WHAT: the background program ends within 60 s of its last window closing.
ends() { wait_bounded "$1" 60 || stop "$2 did not end (status $?)"; }
# shot CAPTION NAME: the window's picture as NAME.bmp in the work folder, with --shots.
shot() {
  [ -n "$shots" ] || return 0
  wine "$driver" shot "$1" "$(winepath -w "$work/$2.bmp" 2>/dev/null)" || fail "no picture of $1"
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
  drive wait "$S"
  [ $# -gt 0 ] || shot "$S" setup_agreement
  drive click "$S" 1 \; expect "$S" 1 Install \
    \; expect "$S" 146/1007 "Setup will install Keldrun into the following folder:"
  [ $# -gt 0 ] || shot "$S" setup_install
  if [ $# -gt 0 ]; then
    drive click "$S" 146/1006 \; wait "$B" \; select "$B" 14145 "My Computer" \; keys "$B" 14145 Right \
      \; select "$B" 14145 ' (C:)' \; keys "$B" 14145 Right \; select "$B" 14145 "$1" \
      \; selected "$B" 14145 "$1" \; click "$B" 1:Button \; gone "$B" \; click "$S" 146/1005
  fi
  drive click "$S" 1 \; wait Info \; expect Info 10001 "Setup complete" \; click Info 20003 \; gone "$S"
  ends $pid "the setup program"
}

# uninstall CAPTION TEXT: both stages, confirmed in the question (903); the second stage's
# closing message.
U="Uninstall Keldrun"
uninstall() {
  (cd "$installed" && wine Keldrun.exe -uninstall >/dev/null 2>&1) &
  local pid=$!
  drive wait "$U" \; expect "$U" 1008 "Remove Keldrun and all its snapshots" \; expect "$U" 1 OK \
    \; expect "$U" 2 Cancel
  [ "$1" = Info ] && shot "$U" uninstall_question
  drive click "$U" 1 \; gone "$U" \; wait "$1" \; expect "$1" 10001 "$2"
  shot "$1" "uninstall_$(tr '[:upper:]' '[:lower:]' <<<"$1")"
  drive click "$1" 20003 \; gone "$1"
  ends $pid "the first uninstall stage"
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
drive wait "$M" \; close "$M" \; gone "$M"
ends $pid "the installed program"

# Cancel in the question removes nothing.
(cd "$installed" && wine Keldrun.exe -uninstall >/dev/null 2>&1) &
pid=$!
drive wait "$U" \; click "$U" 2 \; gone "$U"
ends $pid "the cancelled uninstall"
[ -f "$installed/Keldrun.exe" ] || fail "the cancelled uninstall removed Keldrun.exe"
wine reg query "$key" >/dev/null 2>&1 || fail "the cancelled uninstall removed the uninstall entry"

# What the program leaves beside its files (a damaged settings file set aside, the temporary file
# of a write cut short) is its own and goes with it. The desktop shortcut is kept aside: in the
# second round it stands for another installation's.
printf 'set aside' >"$installed/Keldrun.cfg.damaged"
printf 'cut short' >"$installed/data/snap001.snp.0badf00d.tmp"
cp "$desktop/Keldrun.lnk" "$work/first_installation.lnk"
uninstall Info "Uninstall complete"
[ ! -e "$installed" ] || fail "program folder left: $(ls -A "$installed")"
[ ! -e "$desktop/Keldrun.lnk" ] || fail "desktop shortcut left"
[ ! -e "$programs/Corvellan Software" ] || fail "start-menu folder left"
wine reg query "$key" >/dev/null 2>&1 && fail "uninstall entry left"

# A target folder that cannot be created (a file of that name is in the way) is named in the
# error, and the setup window stays open for another folder.
mkdir -p "$prefix/drive_c/blocked"
printf 'in the way' >"$prefix/drive_c/blocked/Keldrun"
(cd "$downloads" && wine keldrun-setup.exe >/dev/null 2>&1) &
pid=$!
drive wait "$S" \; click "$S" 1 \; expect "$S" 1 Install \; click "$S" 146/1006 \; wait "$B" \
  \; select "$B" 14145 "My Computer" \; keys "$B" 14145 Right \; select "$B" 14145 ' (C:)' \
  \; keys "$B" 14145 Right \; select "$B" 14145 blocked \; click "$B" 1:Button \; gone "$B" \
  \; click "$S" 1 \; wait Error \; expect Error 10001 "Cannot create" \; click Error 20003 \; gone Error \
  \; expect "$S" 146/1007 "Setup will install Keldrun into the following folder:" \; click "$S" 2 \; gone "$S"
ends $pid "the setup program after the folder error"
[ -f "$prefix/drive_c/blocked/Keldrun" ] || fail "the file in the way of the target folder was touched"

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
drive wait "$M" \; close "$M" \; gone "$M"
ends $pid "the installed program of the second round"
# A file of the user's keeps itself and the folder. The uninstall entry now names another
# installation (installed later into another folder): it is that one's, and stays; so does a
# desktop shortcut of the same name that starts the first round's program.
printf 'mine' >"$installed/notes.txt"
cp "$work/first_installation.lnk" "$desktop/Keldrun.lnk"
other='"C:\Other\Keldrun\Keldrun.exe" -uninstall'
wine reg add "$key" /v UninstallString /d "$other" /f >/dev/null 2>&1 || stop "cannot change the uninstall entry"
uninstall Error "Uninstall incomplete. Some items cannot be removed."
[ "$(ls -A "$installed" 2>/dev/null)" = notes.txt ] || fail "expected only notes.txt, found: $(ls -A "$installed" 2>/dev/null)"
[ ! -e "$programs/Corvellan Software" ] || fail "start-menu folder left in the second round"
cmp -s "$work/first_installation.lnk" "$desktop/Keldrun.lnk" ||
  fail "the desktop shortcut of another installation was deleted or changed"
wine reg query "$key" /v UninstallString 2>/dev/null | tr -d '\r' | grep -qF "$other" ||
  fail "the uninstall entry of another installation was deleted"

save_shots "$work"

if [ $failures -ne 0 ]; then
  echo "setup_check: $failures failure(s)" >&2
  exit 1
fi
echo "setup_check: ok"
