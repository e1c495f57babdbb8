#!/usr/bin/env bash
# Runs every Windows test binary of a build under Wine, one Wine process per binary, each in a
# fresh prefix of its own; exits non-zero when any binary fails.
#   tests/wine/run_tests.sh [BUILD_DIR] [-- TEST_ARGS...]
# BUILD_DIR defaults to $KELDRUN_WIN_BUILD or build/win64; TEST_ARGS go to every binary
# (for example --gtest_filter=EnvWin*).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

build=$KELDRUN_WIN_BUILD
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
  build=$1
  shift
fi
[ $# -gt 0 ] && [ "$1" = "--" ] && shift

mapfile -t binaries < <(find "$build" -maxdepth 1 -type f \( -name '*_tests.exe' -o -name '*_test.exe' \) | sort)
if [ ${#binaries[@]} -eq 0 ]; then
  echo "run_tests: no test binaries (*_tests.exe) in $build" >&2
  exit 2
fi

work=$(mktemp -d /tmp/keldrun-wine-tests.XXXXXX)
prefixes=()
cleanup() {
  local p
  for p in "${prefixes[@]}"; do end_prefix "$p"; done
  rm -rf "$work"
}
trap cleanup EXIT

# One pristine prefix is built once and copied for each binary: every binary still starts
# from a fresh prefix, without paying for wineboot each time.
template=$work/template
make_prefix "$template"
end_prefix "$template"
add_fixtures "$template"

failed=0
for exe in "${binaries[@]}"; do
  name=$(basename "$exe" .exe)
  prefix=$work/$name
  cp -a "$template" "$prefix"
  prefixes+=("$prefix")
  echo "=== $name (wine, prefix $prefix)"
  status=0
  in_prefix "$prefix" wine "$exe" "$@" || status=$?
  end_prefix "$prefix"
  if [ $status -ne 0 ]; then
    echo "=== $name FAILED (exit status $status)"
    failed=1
  else
    echo "=== $name passed"
  fi
done
exit $failed
