#!/bin/sh
# Opens split HTML reports made by the keldrun command line in headless Chromium, switches
# pages through the index page's links and checks the rendered documents.
#
# usage: tests/browser/report_check.sh [BUILD_DIR] [SCREENSHOT_DIR]
#   BUILD_DIR       holds the keldrun binary (default build/native)
#   SCREENSHOT_DIR  when given, screenshots of a differences and a data report go there
# Needs Debian's chromium and node; playwright-core is installed into a cache folder
# ($KELDRUN_NODE_CACHE, default ~/.cache/keldrun-node) on the first run.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/native}
shots=${2:-}
keldrun=$build/keldrun
chromium=${CHROMIUM:-/usr/bin/chromium}
[ -x "$keldrun" ] || { echo "report_check: no keldrun binary in $build" >&2; exit 2; }
[ -x "$chromium" ] || { echo "report_check: no chromium at $chromium" >&2; exit 2; }
command -v node >/dev/null || { echo "report_check: node is needed" >&2; exit 2; }

cache=${KELDRUN_NODE_CACHE:-$HOME/.cache/keldrun-node}
if [ ! -d "$cache/node_modules/playwright-core" ]; then
  mkdir -p "$cache"
  (cd "$cache" && npm install --silent --no-audit --no-fund playwright-core@1 >/dev/null)
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
home=$work/home
tree=$work/tree
mkdir -p "$home" "$tree"

# 30 folders of 400 files: a differences report of every file changed has over 24,000 rows,
# so pages of at least 10,000 rows give three pages or more, each break before a heading.
i=0
while [ $i -lt 30 ]; do
  d=$(printf '%s/dir%02d' "$tree" $i)
  mkdir -p "$d"
  (cd "$d" && seq -f 'file%04g.txt' 1 400 | xargs touch -d '2020-01-02 03:04:05')
  i=$((i + 1))
done
mkdir -p "$tree/odd & <names>"
touch -d '2020-01-02 03:04:05' "$tree/odd & <names>/<script>alert(1)<.txt" "$tree/gone.txt"
"$keldrun" --home "$home" snapshot --name "before <b>" --files "$tree" >/dev/null
find "$tree" -type f -exec touch -d '2021-05-06 07:08:09' {} +
rm "$tree/gone.txt"
echo new > "$tree/odd & <names>/added & new.txt"
"$keldrun" --home "$home" snapshot --name "after" --files "$tree" >/dev/null

"$keldrun" --home "$home" report 1 2 --out "$work/diff.htm" --split 10000
"$keldrun" --home "$home" report 1 --out "$work/data.htm" --split 10000

NODE_PATH=$cache/node_modules node "$here/report_check.js" "$chromium" "$work" "$shots"
