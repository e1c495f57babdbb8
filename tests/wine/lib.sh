# Shared helpers of the scripts under tests/wine/ (sourced, not run).
#
# Where the builds are: the scripts find them through these variables, which .ci/run sets; by
# hand they default to the build folders of the README.
#   KELDRUN_NATIVE_BUILD  native build folder (holds keldrun)         default build/native
#   KELDRUN_WIN_BUILD     x86_64 Windows build (keldrun-cli.exe, ...)  default build/win64

KELDRUN_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
KELDRUN_NATIVE_BUILD=${KELDRUN_NATIVE_BUILD:-$KELDRUN_SOURCE_DIR/build/native}
KELDRUN_WIN_BUILD=${KELDRUN_WIN_BUILD:-$KELDRUN_SOURCE_DIR/build/win64}
# Absolute, since the scripts change folders.
[ -d "$KELDRUN_NATIVE_BUILD" ] && KELDRUN_NATIVE_BUILD=$(cd "$KELDRUN_NATIVE_BUILD" && pwd)
[ -d "$KELDRUN_WIN_BUILD" ] && KELDRUN_WIN_BUILD=$(cd "$KELDRUN_WIN_BUILD" && pwd)
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# make_prefix DIR: a fresh, quiet Wine prefix (see make_prefix.sh).
make_prefix() {
  "$KELDRUN_SOURCE_DIR/tests/wine/make_prefix.sh" "$1"
}

# add_fixtures DIR: host-side fixtures the Windows tests look for: Unix symbolic links under
# c:\keldrun-fixtures\links\ (a folder link, a file link, a link to an ancestor).
add_fixtures() {
  local links=$1/drive_c/keldrun-fixtures/links
  mkdir -p "$links/target"
  printf 'hello' >"$links/file"
  ln -sfn target "$links/folder-link"
  ln -sfn file "$links/file-link"
  ln -sfn .. "$links/target/up"
}

# in_prefix DIR COMMAND...: runs COMMAND with WINEPREFIX=DIR and no display.
in_prefix() {
  local prefix=$1
  shift
  env -u DISPLAY WINEPREFIX="$prefix" "$@"
}

# end_prefix DIR: stops the prefix's wineserver (writing its registry to the hive files) and
# waits until it has gone.
end_prefix() {
  WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$1" wineserver -w >/dev/null 2>&1 || true
}

# require FILE...: fails with a message when a built file is missing.
require() {
  local f
  for f in "$@"; do
    if [ ! -e "$f" ]; then
      echo "$(basename "$0"): missing $f (build it first)" >&2
      exit 2
    fi
  done
}

# begin_check NAME: the start every seam check shares: $native and $cli (both must be built), a
# work folder $work holding a fresh prefix $prefix, all removed at exit unless KELDRUN_KEEP is set.
begin_check() {
  check_name=$1
  native=$KELDRUN_NATIVE_BUILD/keldrun
  cli=$KELDRUN_WIN_BUILD/keldrun-cli.exe
  require "$native" "$cli"
  work=$(mktemp -d "/tmp/keldrun-$check_name.XXXXXX")
  prefix=$work/prefix
  trap end_check EXIT
  make_prefix "$prefix"
}

end_check() {
  end_prefix "$prefix"
  if [ -n "${KELDRUN_KEEP:-}" ]; then
    echo "$check_name: kept $work"
  else
    rm -rf "$work"
  fi
}

# parse_shots ARGS...: the window checks' one option, "--shots DIR": sets $shots to DIR made
# absolute (and created), or to "" without the option.
parse_shots() {
  shots=
  [ "${1:-}" = "--shots" ] || return 0
  [ $# -ge 2 ] || { echo "usage: $0 [--shots DIR]" >&2; exit 2; }
  mkdir -p "$2"
  shots=$(cd "$2" && pwd)
}

# save_shots FOLDER: the BMP pictures in FOLDER as PNG files in $shots (with --shots).
save_shots() {
  [ -n "$shots" ] && compgen -G "$1/*.bmp" >/dev/null || return 0
  python3 "$KELDRUN_SOURCE_DIR/tests/wine/bmp2png.py" "$1"/*.bmp
  cp "$1"/*.png "$shots"/
  echo "$check_name: screenshots in $shots"
}

# need_xvfb: the window checks run under Xvfb.
need_xvfb() {
  command -v xvfb-run >/dev/null || { echo "$check_name: xvfb-run is missing" >&2; exit 2; }
  command -v python3 >/dev/null || { echo "$check_name: python3 is needed" >&2; exit 2; }
}

# wait_bounded PID SECONDS: waits for a background process for at most SECONDS. Its exit status
# when it ended; 124, with the process killed, when it was still running (a window left open).
wait_bounded() {
  local pid=$1 tenths=$(($2 * 10))
  while [ $tenths -gt 0 ]; do
    kill -0 "$pid" 2>/dev/null || { wait "$pid"; return; }
    sleep 0.1
    tenths=$((tenths - 1))
  done
  kill "$pid" 2>/dev/null || true
  return 124
}
