#!/usr/bin/env bash
# Cross-check of the two registry seams on one Wine prefix: HKEY_LOCAL_MACHINE\Software and
# HKEY_CURRENT_USER\Software are scanned by the Win32 seam (keldrun-cli.exe under Wine, through
# the registry API) and by the POSIX seam (native keldrun reading the prefix's hive files); the
# digests of every key must be equal.
#
# The prefix gets a fixture first: values of every type, wide names and data, long data,
# imported with Wine's own regedit.
#   tests/wine/registry_cross_check.sh   (builds from $KELDRUN_NATIVE_BUILD and $KELDRUN_WIN_BUILD)
set -euo pipefail
source "$(dirname "$0")/lib.sh"

begin_check registry_cross_check

# ---- the fixture -----------------------------------------------------------------------------
long=$(printf '%02x,' $(seq 0 255) | head -c 767)
big=$(for i in $(seq 1 300); do printf '%s,' "$long"; done)
big=${big%,}
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  for root in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
    printf '[%s\\Software\\KeldrunCheck]\r\n' "$root"
    printf '@="default value"\r\n'
    printf '"plain"="text with \\"quotes\\" and \\\\ backslash"\r\n'
    printf '"caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87"="\xd0\x96 wide \xe2\x82\xac"\r\n'
    printf '"dword"=dword:0000002a\r\n'
    printf '"expand"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\r\n'
    printf '"multi"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n'
    printf '"none"=hex(0):01,02\r\n'
    printf '"binary"=hex:00,ff,10\r\n'
    printf '"big endian"=hex(5):00,00,00,01\r\n'
    printf '"qword"=hex(b):01,02,03,04,05,06,07,08\r\n'
    printf '"resource list"=hex(8):01\r\n'
    printf '"type 0x20"=hex(20):de,ad\r\n'
    printf '"empty"=hex:\r\n'
    printf '"big binary"=hex:%s\r\n' "$big"
    printf '[%s\\Software\\KeldrunCheck\\Sub Key\\Deeper]\r\n"x"=dword:00000001\r\n\r\n' "$root"
  done
} | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$prefix/drive_c/fixture.reg"
in_prefix "$prefix" wine regedit /S 'c:\fixture.reg'
end_prefix "$prefix"

# ---- the two scans ---------------------------------------------------------------------------
keys=(--registry 'HKEY_LOCAL_MACHINE\Software' --registry 'HKEY_CURRENT_USER\Software')
start=$(date +%s.%N)
in_prefix "$prefix" wine "$cli" --home 'c:\keldrun-regcheck-home' snapshot --name win32 "${keys[@]}" \
  >"$work/win.out" 2>&1 || {
  cat "$work/win.out"
  echo "registry_cross_check: the Windows scan failed" >&2
  exit 1
}
end=$(date +%s.%N)
# wineserver writes the hive files when it exits: the POSIX seam reads what the Win32 seam saw.
end_prefix "$prefix"
win_snap=$prefix/drive_c/keldrun-regcheck-home/data/snap001.snp
"$native" --home "$work/native-home" --wine-prefix "$prefix" snapshot --name posix "${keys[@]}" \
  >"$work/posix.out" 2>&1 || {
  cat "$work/posix.out"
  echo "registry_cross_check: the POSIX scan failed" >&2
  exit 1
}
posix_snap=$work/native-home/data/snap001.snp
require "$win_snap" "$posix_snap"
echo "Win32 seam under Wine ($(echo "$end - $start" | bc) s with Wine's start-up):"
sed 's/^/  /' "$work/win.out"
echo "POSIX seam:"
sed 's/^/  /' "$work/posix.out"

digests() {  # SNAPSHOT
  "$native" digest --tree --section registry "$1" | grep -v '^section '
}
digests "$win_snap" >"$work/win.digests"
digests "$posix_snap" >"$work/posix.digests"
count=$(wc -l <"$work/posix.digests")
if [ "$count" -lt 1000 ]; then
  echo "registry_cross_check: only $count keys recorded; the scan missed the tree" >&2
  exit 1
fi
if ! grep -qi 'keldruncheck\\sub key\\deeper' "$work/posix.digests"; then
  echo "registry_cross_check: the fixture is missing from the POSIX scan" >&2
  exit 1
fi
# Keys that Wine builds only in memory (volatile keys, never written to the hive files) are seen
# by the Win32 seam alone. They and the digests of their ancestors are set aside, shown for the
# record; every other key must have equal digests.
volatile='HKEY_CURRENT_USER\software\Wine\Fonts\Cache\
HKEY_CURRENT_USER\software\Wine\Temporary System Parameters\
HKEY_LOCAL_MACHINE\software\Microsoft\Windows NT\CurrentVersion\NetworkCards\
HKEY_LOCAL_MACHINE\software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\NetworkCards\'
split() {  # DIGESTS KEPT SETASIDE
  VOLATILE=$volatile python3 - "$@" <<'PY'
import os, sys
volatile = [v.lower() for v in os.environ['VOLATILE'].split('\n') if v]
kept, aside = open(sys.argv[2], 'w'), open(sys.argv[3], 'w')
for line in open(sys.argv[1], encoding='utf-8', errors='surrogateescape'):
    path = line.rstrip('\n').split(' ', 2)[2].lower()
    touched = any(v.startswith(path) or path.startswith(v) for v in volatile)
    (aside if touched else kept).write(line)
PY
}
split "$work/win.digests" "$work/win.kept" "$work/win.aside"
split "$work/posix.digests" "$work/posix.kept" "$work/posix.aside"
if diff -u --label win32 --label posix "$work/win.kept" "$work/posix.kept" >"$work/diff"; then
  echo "registry_cross_check: equal in both seams ($(wc -l <"$work/posix.kept") keys;" \
    "set aside for Wine's in-memory keys: $(wc -l <"$work/win.aside") Win32, $(wc -l <"$work/posix.aside") POSIX lines)"
  diff --label win32 --label posix "$work/win.aside" "$work/posix.aside" | sed 's/^/  /' || true
else
  cat "$work/diff"
  echo "registry_cross_check: the seams differ (lines above: child digest, content digest, key)" >&2
  exit 1
fi
