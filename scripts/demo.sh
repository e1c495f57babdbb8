#!/usr/bin/env bash
# The main job on a real change: installs what the Linux build needs, builds keldrun, takes a
# snapshot of a folder, changes the folder (adds, alters and deletes files), takes a second
# snapshot and shows what changed.
#   bash scripts/demo.sh [FOLDER]   FOLDER defaults to a generated one under /tmp
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install_deps.sh --native
build=$root/build/demo
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELDRUN_TESTS=OFF >/dev/null
ninja -C "$build" -j"${KELDRUN_JOBS:-2}" keldrun >/dev/null
keldrun=$build/keldrun

work=$(mktemp -d /tmp/keldrun-demo.XXXXXX)
home=$work/home
folder=${1:-$work/folder}
if [ $# -eq 0 ]; then
  mkdir -p "$folder/docs" "$folder/bin/tools" "$folder/old"
  printf 'first draft\n' >"$folder/docs/notes.txt"
  printf 'version 1\n' >"$folder/bin/app.cfg"
  head -c 100000 /dev/urandom >"$folder/bin/tools/tool.bin"
  printf 'to be removed\n' >"$folder/old/legacy.txt"
fi

echo "== snapshot before the change"
"$keldrun" --home "$home" snapshot --name "before" --files "$folder"

echo
echo "== changing $folder"
if [ $# -eq 0 ]; then
  sleep 1
  printf 'second draft, longer\n' >"$folder/docs/notes.txt"
  printf 'new file\n' >"$folder/docs/added.txt"
  mkdir -p "$folder/plugins"
  printf 'plugin\n' >"$folder/plugins/extra.dll"
  rm -rf "$folder/old"
  echo "altered docs/notes.txt, added docs/added.txt and plugins/, deleted old/"
else
  echo "change the folder now, then press Enter"
  read -r
fi

echo
echo "== snapshot after the change"
"$keldrun" --home "$home" snapshot --name "after" --files "$folder"

echo
echo "== log ($home/KeldrunLog.txt)"
cat "$home/KeldrunLog.txt"

mapfile -t snaps < <(ls "$home"/data/snap*.snp | sort)
first=${snaps[0]}
second=${snaps[1]}
if "$keldrun" compare --help >/dev/null 2>&1; then
  echo
  echo "== differences"
  status=0
  "$keldrun" --home "$home" compare "$first" "$second" --section files || status=$?
  [ $status -le 1 ] || exit $status
fi
echo
echo "snapshots: $first $second"
