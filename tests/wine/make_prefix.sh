#!/usr/bin/env bash
# Creates a Wine prefix quietly: no Mono or Gecko installers, no debug chatter.
#   tests/wine/make_prefix.sh PREFIX
# The prefix is ready (registry written to its hive files) when this returns.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 PREFIX" >&2
  exit 2
fi
prefix=$1
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='
export WINEARCH=win64
# No display is needed; keep Wine from trying one.
unset DISPLAY

wineboot -i >/dev/null 2>&1 || { echo "make_prefix: wineboot failed for $prefix" >&2; exit 1; }
wineserver -w
if [ ! -f "$prefix/system.reg" ] || [ ! -d "$prefix/drive_c" ]; then
  echo "make_prefix: $prefix is incomplete after wineboot" >&2
  exit 1
fi
