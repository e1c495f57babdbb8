#!/usr/bin/env bash
# Installs what Keldrun needs on Debian 12 (as root, or through sudo).
#   scripts/install_deps.sh [--native|--wine]   --native: only what the Linux build of keldrun needs;
#                                               --wine: that and Wine (scripts/demo.sh)
set -euo pipefail

native=(build-essential cmake ninja-build zlib1g-dev libssl-dev)
tests=(libgtest-dev libgmock-dev googletest libbenchmark-dev clang libclang-rt-14-dev time fd-find pigz mtree-netbsd chromium
       clickhouse-server clickhouse-client faketime python3)
windows=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev wine wine64 xvfb xauth)

packages=("${native[@]}")
case "${1:-}" in
  --native) ;;
  --wine) packages+=(wine wine64) ;;
  *) packages+=("${tests[@]}" "${windows[@]}") ;;
esac

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install_deps: run as root or install sudo" >&2; exit 1; }
  sudo=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# The report check drives Chromium from node; take Debian's when the machine has none.
if [ -z "${1:-}" ] && ! command -v node >/dev/null; then missing+=(nodejs npm); fi
if [ ${#missing[@]} -eq 0 ]; then
  echo "install_deps: all ${#packages[@]} packages present"
  exit 0
fi
echo "install_deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
