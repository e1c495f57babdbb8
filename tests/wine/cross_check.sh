#!/usr/bin/env bash
# Cross-check of the two file seams on one Wine prefix: a generated folder of drive_c is scanned
# by the Win32 seam (keldrun-cli.exe under Wine) and by the POSIX seam (native keldrun with
# --wine-prefix); the digests of that folder and of every folder below it must be equal.
#
# A second folder holds names that only Unix can give (characters Windows forbids, bytes that
# are not UTF-8, names that differ only in case); the seams are not expected to agree there, so
# its differences are printed for the record but do not fail the check. Known ones: Wine shows
# bytes that are not UTF-8 as U+FFFD where the POSIX seam keeps them losslessly, and two names
# equal but for case keep the order each listing gave them, which differs between the seams.
#   tests/wine/cross_check.sh        (builds from $KELDRUN_NATIVE_BUILD and $KELDRUN_WIN_BUILD)
# KELDRUN_KEEP=1 keeps the prefix and both snapshots for a closer look.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

begin_check cross_check

# ---- the generated tree -------------------------------------------------------------------
tree=$prefix/drive_c/keldrun-xcheck
mkdir -p "$tree"
cd "$tree"

# file NAME SIZE TIME: a file of SIZE bytes (sparse beyond 1 MiB) with last-write TIME.
file() {
  mkdir -p "$(dirname "$1")"
  if [ "$2" -le 1048576 ]; then
    head -c "$2" /dev/zero | tr '\0' 'k' >"$1"
  else
    truncate -s "$2" "$1"
  fi
  touch -m -d "$3" "$1"
}

file plain.txt 5 '2021-03-04 05:06:07.123456789 UTC'
file empty 0 '2020-01-01 00:00:00 UTC'
file .dot-file 17 '2019-06-30 23:59:59.999999999 UTC'
file "caf$(printf '\xc3\xa9').bin" 4097 '2018-02-03 04:05:06 UTC'
file "$(printf '\xd0\x96\xd1\x83\xd0\xba').dat" 1 '2017-05-05 05:05:05.5 UTC'
file "$(printf '\xe6\xbc\xa2\xe5\xad\x97')/$(printf '\xe2\x82\xac')uro" 65536 '2016-01-01 12:00:00 UTC'
file "emoji-$(printf '\xf0\x9f\x98\x80').txt" 3 '2015-01-01 00:00:00 UTC'
file "$(printf '\xc3\xa9%.0s' $(seq 120))" 9 '2014-01-01 00:00:00 UTC'
file "Mixed Case/Spaced Name.TXT" 12 '2013-01-01 00:00:00 UTC'
file "sizes/just-below-4GiB" 4294967295 '2012-01-01 00:00:00 UTC'
file "sizes/5GiB" 5368709120 '2012-01-01 00:00:00 UTC'
file "times/before-1970" 2 '1960-07-20 20:17:40.25 UTC'
file "times/epoch" 2 '1970-01-01 00:00:00 UTC'
file "times/after-2038" 2 '2100-12-31 23:59:59.9999999 UTC'
file ".dot-folder/not recorded" 2 '2012-01-01 00:00:00 UTC'
mkdir -p "empty folder"
# Folders far below the classic 260-character path limit.
deep=deep
for i in $(seq 10 49); do deep=$deep/level-$i-$(printf 'x%.0s' $(seq 40)); done
file "$deep/bottom.txt" 42 '2011-11-11 11:11:11 UTC'
# Links: a folder link and a link to an ancestor are recorded like junctions; a file link like
# the file it points to.
mkdir -p links/target
file links/target/inside 6 '2010-10-10 10:10:10 UTC'
ln -s target links/folder-link
ln -s .. links/target/up
ln -s target/inside links/file-link
# Many entries in one folder.
mkdir -p many
for i in $(seq 1 1500); do printf '%d' "$i" >"many/f$i"; done
touch -m -d '2009-09-09 09:09:09 UTC' many/*

# ---- names only Unix can give --------------------------------------------------------------
odd=$prefix/drive_c/keldrun-xcheck-unix-names
mkdir -p "$odd"
printf 1 >"$odd/colon:name"
printf 2 >"$odd/question?"
printf 3 >"$odd/back\\slash"
printf 4 >"$odd/$(printf 'bad-utf8-\xff\xfe')"
printf 5 >"$odd/Twins"
printf 6 >"$odd/TWINS"
printf 7 >"$odd/trailing dot."
touch -m -d '2008-08-08 08:08:08 UTC' "$odd"/*
cd "$work"

# ---- the two scans ---------------------------------------------------------------------------
# Win32 seam: the Windows build under Wine, its workspace outside the scanned folders.
in_prefix "$prefix" wine "$cli" --home 'c:\keldrun-xcheck-home' snapshot --name win32 \
  --files 'c:\keldrun-xcheck\' --files 'c:\keldrun-xcheck-unix-names\' >"$work/win.out" 2>&1 || {
  cat "$work/win.out"
  echo "cross_check: the Windows scan failed" >&2
  exit 1
}
win_snap=$prefix/drive_c/keldrun-xcheck-home/data/snap001.snp
# POSIX seam: the native build reading the same prefix.
"$native" --home "$work/native-home" --wine-prefix "$prefix" snapshot --name posix \
  --files "$prefix/drive_c/keldrun-xcheck" --files "$prefix/drive_c/keldrun-xcheck-unix-names" \
  >"$work/posix.out" 2>&1 || {
  cat "$work/posix.out"
  echo "cross_check: the POSIX scan failed" >&2
  exit 1
}
posix_snap=$work/native-home/data/snap001.snp
require "$win_snap" "$posix_snap"
echo "Win32 seam under Wine:"
sed 's/^/  /' "$work/win.out"
echo "POSIX seam:"
sed 's/^/  /' "$work/posix.out"

digests() {  # SNAPSHOT FOLDER
  "$native" digest --tree --section files --path "$2" "$1" | grep -v '^section '
}

status=0
main='c:\keldrun-xcheck\'
digests "$win_snap" "$main" >"$work/win.digests"
digests "$posix_snap" "$main" >"$work/posix.digests"
folders=$(wc -l <"$work/posix.digests")
if [ "$folders" -lt 40 ]; then
  echo "cross_check: only $folders folders recorded below $main; the scan missed the tree" >&2
  status=1
elif diff -u --label win32 --label posix "$work/win.digests" "$work/posix.digests"; then
  echo "cross_check: $main equal in both seams ($folders folders, digests $(head -1 "$work/posix.digests" | cut -d' ' -f1,2))"
else
  echo "cross_check: the seams differ below $main (lines above: child digest, content digest, folder)" >&2
  status=1
fi

odd_main='c:\keldrun-xcheck-unix-names\'
digests "$win_snap" "$odd_main" >"$work/win.odd"
digests "$posix_snap" "$odd_main" >"$work/posix.odd"
if cmp -s "$work/win.odd" "$work/posix.odd"; then
  echo "cross_check: $odd_main equal too"
else
  echo "cross_check: (for the record, not a failure) Unix-only names differ below $odd_main:"
  diff --label win32 --label posix "$work/win.odd" "$work/posix.odd" | sed 's/^/  /' || true
  if [ -x "$native" ] && "$native" show --help >/dev/null 2>&1; then
    echo "  Win32 seam recorded:"
    "$native" show "$win_snap" --section files "$odd_main" 2>&1 | sed 's/^/    /' || true
    echo "  POSIX seam recorded:"
    "$native" show "$posix_snap" --section files "$odd_main" 2>&1 | sed 's/^/    /' || true
  fi
fi
exit $status
