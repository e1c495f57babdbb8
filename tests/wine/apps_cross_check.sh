#!/usr/bin/env bash
# Cross-check of the two applications seams on one Wine prefix: the applications section is
# recorded by the Win32 seam (keldrun-cli.exe under Wine: service manager, SearchPath,
# version.dll) and by the POSIX seam (native keldrun reading the prefix's registry and drives
# with the portable version reader). Services and drivers must agree on name, service name,
# start type, file, version and company; the running state is known only to the service
# manager (the POSIX seam records every service as stopped), so state differences are listed,
# not failed.
#   tests/wine/apps_cross_check.sh   (builds from $KELDRUN_NATIVE_BUILD and $KELDRUN_WIN_BUILD)
set -euo pipefail
source "$(dirname "$0")/lib.sh"

begin_check apps_cross_check

in_prefix "$prefix" wine "$cli" --home 'c:\keldrun-appcheck-home' snapshot --name win32 --apps \
  >"$work/win.out" 2>&1 || {
  cat "$work/win.out"
  echo "apps_cross_check: the Windows scan failed" >&2
  exit 1
}
# wineserver writes the hive files when it exits: the POSIX seam reads what the Win32 seam saw.
end_prefix "$prefix"
"$native" --home "$work/native-home" --wine-prefix "$prefix" snapshot --name posix --apps \
  >"$work/posix.out" 2>&1 || {
  cat "$work/posix.out"
  echo "apps_cross_check: the POSIX scan failed" >&2
  exit 1
}
win_snap=$prefix/drive_c/keldrun-appcheck-home/data/snap001.snp
posix_snap=$work/native-home/data/snap001.snp
require "$win_snap" "$posix_snap"

# The section is decoded here from the file layout, apart from the engine's own reader.
python3 - "$win_snap" "$posix_snap" "$prefix/system.reg" <<'EOF'
import re, struct, sys

def groups(path):
    data = open(path, 'rb').read()
    root = struct.unpack_from('<I', data, 12)[0]
    assert root, path + ': no applications section'
    n = struct.unpack_from('<I', data, root)[0]
    at, end, out = root + 4, root + 4 + n, []
    while at < end:
        _, _, _, content = struct.unpack_from('<IIII', data, at)
        length = struct.unpack_from('<H', data, at + 16)[0]
        wide = length & 0x8000
        length &= 0x7fff
        name = data[at + 18: at + 18 + length * (2 if wide else 1)]
        at += 18 + length * (2 if wide else 1)
        records = []
        if content:
            size = struct.unpack_from('<I', data, content)[0]
            p, stop = content + 4, content + 4 + size
            while p < stop:
                lengths = struct.unpack_from('<6H', data, p)
                modified, fsize = struct.unpack_from('<QQ', data, p + 12)
                kind, start, state = data[p + 28], data[p + 29], data[p + 30]
                q, texts = p + 31, []
                for l in lengths:
                    texts.append(data[q:q + l].decode('latin-1'))
                    q += l
                records.append(dict(kind=kind, start=start, state=state, name=texts[0],
                                    service=texts[1], version=texts[2], company=texts[3],
                                    description=texts[4], file=texts[5], size=fsize))
                p = q
        out.append((name.decode('latin-1'), records))
    return out

win, posix = groups(sys.argv[1]), groups(sys.argv[2])
# Services the service manager creates while it runs (driver hosts) live in volatile keys that
# never reach the hive files; only they may be missing from the POSIX side.
saved = {m.lower() for m in re.findall(r'^\[System\\\\CurrentControlSet\\\\Services\\\\([^\\\]]+)\]',
                                       open(sys.argv[3], encoding='utf-8', errors='replace').read(), re.M)}
runtime = []
names = [g[0] for g in win]
assert names == ['Startup', 'Services', 'Drivers'], names
assert [g[0] for g in posix] == names
fields = ('name', 'service', 'start', 'file', 'version', 'company', 'description', 'size')
failures, states = 0, []
for (group, a), (_, b) in zip(win[1:], posix[1:]):
    ka = {r['service'].lower(): r for r in a}
    kb = {r['service'].lower(): r for r in b}
    print(f'{group}: {len(a)} from the service manager, {len(b)} from the registry')
    for key in sorted(set(ka) | set(kb)):
        if key in ka and key not in kb and key not in saved:
            runtime.append(key)
            continue
        if key not in ka or key not in kb:
            print(f'  {key}: only in the {"Win32" if key in ka else "POSIX"} seam')
            failures += 1
            continue
        for f in fields:
            if ka[key][f] != kb[key][f]:
                print(f'  {key}: {f} differs: Win32 {ka[key][f]!r}, POSIX {kb[key][f]!r}')
                failures += 1
        if ka[key]['state'] != kb[key]['state']:
            states.append(f'{key} ({ka[key]["state"]} vs {kb[key]["state"]})')
with_version = sum(1 for _, g in win[1:] for r in g if r['version'])
print(f'{with_version} services and drivers with a version')
print('running state differs (expected): ' + (', '.join(states) if states else 'none'))
print('only while the service manager runs (expected): ' + (', '.join(runtime) if runtime else 'none'))
sys.exit(1 if failures else 0)
EOF
echo "apps_cross_check: the two seams agree"
