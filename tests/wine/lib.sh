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
