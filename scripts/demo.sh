#!/usr/bin/env bash
# The main job on a real Wine prefix: installs what it needs, builds keldrun, makes a fresh Wine
# prefix, takes a snapshot, installs a small application the way an installer would (registry
# keys and values under HKLM\Software and HKCU\Software, files under drive_c\Program Files, a
# Run entry, a service), takes a second snapshot, prints the differences and writes the HTML
# differences report.
#   bash scripts/demo.sh [WORKDIR]   WORKDIR (default: a new folder under /tmp) receives the
#                                    prefix ("prefix"), the workspace ("home") and the report
# Environment: KELDRUN_DEMO_KEEP_PREFIX=0 deletes the prefix at the end (the workspace stays).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install_deps.sh --wine
build=${KELDRUN_DEMO_BUILD:-$root/build/demo}
if [ ! -x "$build/keldrun" ] || [ -z "${KELDRUN_DEMO_BUILD:-}" ]; then
  echo "== building keldrun in $build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELDRUN_TESTS=OFF >/dev/null
  ninja -C "$build" -j"${KELDRUN_JOBS:-2}" keldrun >/dev/null
fi
keldrun=$build/keldrun

work=${1:-$(mktemp -d /tmp/keldrun-demo.XXXXXX)}
mkdir -p "$work"
work=$(cd "$work" && pwd)
prefix=$work/prefix
home=$work/home
report=$work/differences.htm
app='Keldrun Demo App'

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' WINEARCH=win64
unset DISPLAY

echo "== making a fresh Wine prefix in $prefix"
rm -rf "$prefix"
mkdir -p "$prefix"
wineboot -i >/dev/null 2>&1 || { echo "demo: wineboot failed for $prefix" >&2; exit 2; }
wineserver -w
# A second session settles the keys Wine rewrites on its first start after the install (such as
# NetworkCards), so that the snapshots differ by the installation alone.
wine reg query 'HKLM\Software' >/dev/null 2>&1 || true
wineserver -w

# What both snapshots record: the software keys of both hives, the applications, Program Files.
selection=(--registry 'HKLM\Software' --registry 'HKCU\Software' --apps
           --files "$prefix/drive_c/Program Files")

echo
echo "== snapshot before the change"
"$keldrun" --wine-prefix "$prefix" --home "$home" snapshot --name before "${selection[@]}"

echo
echo "== installing '$app' the way an installer would"
dir="$prefix/drive_c/Program Files/$app"
mkdir -p "$dir/plugins"
printf 'demo application\n' >"$dir/demo.exe"
printf '[settings]\nlevel=3\n' >"$dir/demo.ini"
printf 'plugin\n' >"$dir/plugins/extra.dll"
reg() { wine reg "$@" >/dev/null 2>&1 || { echo "demo: wine reg $* failed" >&2; exit 2; }; }
reg add 'HKLM\Software\KeldrunDemo' /v InstallDir /t REG_SZ /d 'C:\Program Files\Keldrun Demo App' /f
reg add 'HKLM\Software\KeldrunDemo' /v Version /t REG_DWORD /d 3 /f
reg add 'HKCU\Software\KeldrunDemo\Settings' /v Theme /t REG_SZ /d dark /f
reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v KeldrunDemo /t REG_SZ \
  /d '"C:\Program Files\Keldrun Demo App\demo.exe" /background' /f
svc='HKLM\System\CurrentControlSet\Services\KeldrunDemoSvc'
reg add "$svc" /v DisplayName /t REG_SZ /d 'Keldrun Demo Service' /f
reg add "$svc" /v ImagePath /t REG_EXPAND_SZ /d '"C:\Program Files\Keldrun Demo App\demo.exe" /service' /f
reg add "$svc" /v Type /t REG_DWORD /d 16 /f
reg add "$svc" /v Start /t REG_DWORD /d 2 /f
reg add "$svc" /v ErrorControl /t REG_DWORD /d 1 /f
# The hives reach their files when the server ends.
wineserver -w
echo "files under C:\\Program Files\\$app, keys HKLM\\Software\\KeldrunDemo and"
echo "HKCU\\Software\\KeldrunDemo\\Settings, Run value KeldrunDemo, service KeldrunDemoSvc"

echo
echo "== snapshot after the change"
"$keldrun" --wine-prefix "$prefix" --home "$home" snapshot --name after "${selection[@]}"

echo
echo "== differences (keldrun compare 1 2)"
status=0
"$keldrun" --home "$home" compare 1 2 || status=$?
[ $status -le 1 ] || { echo "demo: compare failed" >&2; exit $status; }

echo
"$keldrun" --home "$home" report 1 2 --out "$report" >/dev/null
if [ "${KELDRUN_DEMO_KEEP_PREFIX:-1}" = 0 ]; then
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
fi
echo "workspace: $home"
echo "the HTML differences report is $report"
