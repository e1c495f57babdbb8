#!/usr/bin/env bash
# Registry scan speed of the two seams on one Wine prefix of at least 100,000 keys, next to
# Wine's own "reg export HKLM" on the same prefix.
#   bench/registry_seams.sh [PREFIX]
# Without PREFIX a fresh prefix gets 120,000 generated keys (under HKLM\Software\KeldrunBench)
# appended to its system.reg. Builds from $KELDRUN_NATIVE_BUILD and $KELDRUN_WIN_BUILD.
set -euo pipefail
source "$(dirname "$0")/../tests/wine/lib.sh"

native=$KELDRUN_NATIVE_BUILD/keldrun
cli=$KELDRUN_WIN_BUILD/keldrun-cli.exe
require "$native" "$cli"

work=$(mktemp -d /tmp/keldrun-registry-bench.XXXXXX)
prefix=${1:-$work/prefix}
cleanup() {
  end_prefix "$prefix"
  rm -rf "$work"
}
trap cleanup EXIT
if [ $# -eq 0 ]; then
  make_prefix "$prefix"
  end_prefix "$prefix"
  python3 - "$prefix/system.reg" <<'PY'
import sys
with open(sys.argv[1], 'a') as f:
    for i in range(120000):
        f.write('[Software\\\\KeldrunBench\\\\Group%04d\\\\Key%06d] 1700000000\n'
                '#time=1d9c0a0b0c0d0e0\n"Name"="value number %d"\n"Count"=dword:%08x\n\n'
                % (i // 100, i, i, i))
PY
fi

now() { date +%s.%N; }
# counts TEXT: "KEYS VALUES" from a completion text.
counts() { sed -n 's/^\([0-9]*\) reg keys, \([0-9]*\) values$/\1 \2/p' <<<"$1"; }

# Wine's start-up, so that it is not counted against the Win32 seam.
in_prefix "$prefix" wine cmd /c exit >/dev/null 2>&1 || true

t0=$(now)
posix_out=$("$native" --home "$work/posix-home" --wine-prefix "$prefix" snapshot --name posix \
  --registry HKEY_LOCAL_MACHINE 2>&1)
t1=$(now)
win_out=$(in_prefix "$prefix" wine "$cli" --home 'c:\keldrun-bench-home' snapshot --name win32 \
  --registry HKEY_LOCAL_MACHINE 2>&1 | tr -d '\r')
t2=$(now)
in_prefix "$prefix" wine reg export HKLM 'c:\hklm.reg' /y >/dev/null 2>&1
t3=$(now)
export_bytes=$(stat -c %s "$prefix/drive_c/hklm.reg")

read -r pk pv <<<"$(counts "$posix_out")"
read -r wk wv <<<"$(counts "$win_out")"
row() {  # NAME SECONDS KEYS VALUES
  awk -v n="$1" -v s="$2" -v k="$3" -v v="$4" 'BEGIN {
    if (k == "") printf "%-34s %8.2f s %10s %10s %12s %12s\n", n, s, "-", "-", "-", "-";
    else printf "%-34s %8.2f s %10d %10d %12.0f %12.0f\n", n, s, k, v, k / s, v / s }'
}
printf '%-34s %10s %10s %10s %12s %12s\n' "HKEY_LOCAL_MACHINE" time keys values keys/s values/s
row "POSIX seam (hive files)" "$(echo "$t1 - $t0" | bc)" "$pk" "$pv"
row "Win32 seam under Wine" "$(echo "$t2 - $t1" | bc)" "$wk" "$wv"
row "wine reg export HKLM ($((export_bytes / 1048576)) MiB)" "$(echo "$t3 - $t2" | bc)" "" ""
