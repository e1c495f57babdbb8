#!/usr/bin/env bash
# Builds every target and runs every test: the one test command of the project (.ci/run calls it).
#   scripts/test.sh [--install]     --install: install the Debian packages first
# Steps: native build and tests, the same under AddressSanitizer and UndefinedBehaviorSanitizer,
# the x86_64 Windows build with its tests under Wine, the i686 Windows programs (compile and link),
# every tests/wine/*_check.sh, the checks that <windows.h> stays in Windows-only files and that
# includes run down the layers (base, platform, engine, workspace, toolkit, views, reports, then
# shell, setup and cli on one floor), and each
# libFuzzer target replaying its corpus and exploring a fixed number of runs from a fixed seed
# (the same result on every run; scripts/fuzz.sh explores longer). Warnings are errors here.
# Ends with "N passed, N failed" and exits non-zero when a step failed.
# Nothing is written into the checkout.
# Environment: KELDRUN_JOBS (default 2) build jobs; KELDRUN_BUILD_ROOT (default a folder under
# ${TMPDIR:-/tmp} named after the checkout); KELDRUN_FUZZ_RUNS (default 20000) runs per target.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${KELDRUN_JOBS:-2}
out=${KELDRUN_BUILD_ROOT:-${TMPDIR:-/tmp}/keldrun-ci-$(printf %s "$root" | cksum | cut -d' ' -f1)}
mkdir -p "$out"
out=$(cd "$out" && pwd)

passed=0
failed=0
failures=()
start_all=$SECONDS

# step NAME COMMAND...: runs one step with errexit in force inside it, and counts it.
step() {
  local name=$1
  shift
  local t0=$SECONDS rc=0
  echo
  echo "::: step: $name"
  set +e
  (set -euo pipefail; "$@")
  rc=$?
  set -e
  local took=$((SECONDS - t0))
  if [ $rc -eq 0 ]; then
    passed=$((passed + 1))
    echo "::: ok: $name (${took}s)"
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "::: FAILED: $name (exit status $rc, ${took}s)"
  fi
}

configure_build() {  # DIR CMAKE_ARGS...
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELDRUN_WERROR=ON "$@" >/dev/null
  # -k 0: one broken file fails the step but does not keep the other targets from being built
  # for the steps after it.
  ninja -C "$dir" -j"$jobs" -k 0
}

# The builds whose failures are read from test output need no debug information, which makes
# compiling and above all linking the Windows test programs slow. The sanitizer and fuzz builds
# keep line tables only, all their stack traces need; the sanitizer build at -O1, which halves
# its compile time.
no_debug_info=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG")
sanitizer_flags=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
fuzz_flags=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")

native_tests() {  # DIR
  (cd "$1" && ctest --output-on-failure)
}

install_packages() { bash "$root/scripts/install_deps.sh"; }

win64_tests() { bash "$root/tests/wine/run_tests.sh" "$out/win64"; }

wine_check() {  # SCRIPT
  KELDRUN_NATIVE_BUILD=$out/native KELDRUN_WIN_BUILD=$out/win64 bash "$1"
}

# <windows.h> belongs to the Win32 seam, the window toolkit and other *_win.cpp files only.
windows_header_check() {
  local bad
  bad=$(grep -rlE '#[[:space:]]*include[[:space:]]*<windows\.h>' --include='*.h' --include='*.cpp' \
          --include='*.cc' --include='*.hpp' base engine platform workspace shell views reports setup toolkit \
          cli tests fuzz bench resources 2>/dev/null |
        grep -vE '(^toolkit/|_win\.(cpp|h)$|_win_test\.cpp$)' || true)
  if [ -n "$bad" ]; then
    echo "<windows.h> included outside the Windows-only files:"
    echo "$bad"
    return 1
  fi
  echo "<windows.h> appears only in Windows-only files"
}

# The floors, from the bottom up: a folder's files may include their own folder and every folder
# on a lower floor, never a folder beside them on their floor or above. The workspace (settings,
# catalog, scan filter, take-snapshot, import and export) stands on the engine; the window
# program (shell), the installer (setup) and the command line (cli) share the top floor over the
# workspace, the views and the reports. Resource ids are for window code. tests, fuzz and bench
# may include anything.
layer_floors=(base platform engine workspace toolkit views reports resources "shell setup cli")
# WinMain starts either the setup window or the program's main window, so it may include both.
layer_exceptions=("shell/winmain_win.cpp: setup")

layering_check() {
  local floor folder below=" " file line target bad=0
  for floor in "${layer_floors[@]}"; do
    for folder in $floor; do
      [ -e "$folder" ] || continue
      while IFS=: read -r file line target; do
        target=${target#*\"}
        target=${target%%/*}
        [ "$target" = "$folder" ] && continue
        case "$below" in *" $target "*) continue ;; esac
        case " ${layer_exceptions[*]} " in *" $file: $target "*) continue ;; esac
        echo "$file:$line: includes $target/, which is not below $folder/"
        bad=1
      done < <(grep -rnHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[A-Za-z0-9_]+/' \
                 --include='*.h' --include='*.cpp' "$folder" || true)
    done
    below+="$floor "
  done
  [ "$bad" -eq 0 ] && echo "every include runs down the layers"
  [ "$bad" -eq 0 ]
}

# Every fuzz target replays its corpus, then explores a fixed number of runs from a fixed seed, so
# that every run of this script tries the same inputs. New inputs and any crash, leak or timeout
# file go to a scratch folder, kept and named when the target fails. The targets run side by side,
# as many at once as build jobs; each one alone is deterministic.
fuzz_one() {  # TARGET SCRATCH
  local name rc=0
  name=$(basename "$1" _fuzz)
  "$1" -seed=1 -runs="${KELDRUN_FUZZ_RUNS:-20000}" -timeout=10 -artifact_prefix="$2/" \
    "$2/new" "$root/fuzz/corpus/$name" >"$2/log" 2>&1 || rc=$?
  echo "$rc" >"$2/rc"
}

fuzz_targets() {
  CC=clang CXX=clang++ configure_build "$out/fuzz" -DKELDRUN_FUZZ=ON -DKELDRUN_TESTS=OFF \
    -DKELDRUN_BENCH=OFF "${fuzz_flags[@]}"
  local target name scratch rc bad=0 scratches=()
  for target in "$out"/fuzz/*_fuzz; do
    name=$(basename "$target" _fuzz)
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/keldrun-fuzz-$name.XXXXXX")
    mkdir "$scratch/new"
    scratches+=("$scratch")
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
    fuzz_one "$target" "$scratch" &
  done
  wait
  for scratch in "${scratches[@]}"; do
    name=$(basename "$scratch")
    name=${name#keldrun-fuzz-}
    name=${name%.*}
    rc=$(cat "$scratch/rc" 2>/dev/null || echo "no status")
    echo "$name: $(grep -E '^Done' "$scratch/log" || echo "exit status $rc")"
    if [ "$rc" != 0 ]; then
      tail -40 "$scratch/log"
      echo "$name: the failing input and the log are in $scratch"
      bad=1
    else
      rm -rf "$scratch"
    fi
  done
  [ "$bad" -eq 0 ]
}

if [ "${1:-}" = "--install" ]; then
  step "install packages" install_packages
fi

step "windows.h only in Windows-only files" windows_header_check
step "layering: includes run down the layers" layering_check
step "native build" configure_build "$out/native" "${no_debug_info[@]}"
step "native tests" native_tests "$out/native"
step "win64 build" configure_build "$out/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
  "${no_debug_info[@]}"
step "win64 tests under Wine" win64_tests
for check in "$root"/tests/wine/*_check.sh; do
  [ -e "$check" ] || continue
  step "$(basename "$check" .sh)" wine_check "$check"
done
step "reports in headless Chromium" bash "$root/tests/browser/report_check.sh" "$out/native"
step "fleet store on two ClickHouse shards" bash "$root/tests/fleet/clickhouse_check.sh" "$out/native"
step "sanitizer build" configure_build "$out/asan" -DKELDRUN_SANITIZE=ON -DKELDRUN_BENCH=OFF \
  "${sanitizer_flags[@]}"
step "sanitizer tests" env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 bash -c "cd '$out/asan' && ctest --output-on-failure"
step "fuzz targets" fuzz_targets
# The 32-bit build must link; its tests are the 64-bit ones, so only the programs are built.
step "win32 build (compile and link)" configure_build "$out/win32" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DKELDRUN_TESTS=OFF -DKELDRUN_BENCH=OFF \
  "${no_debug_info[@]}"

echo
if [ $failed -gt 0 ]; then
  echo "failed steps: ${failures[*]}"
fi
echo "total time $(( (SECONDS - start_all) / 60 ))m$(( (SECONDS - start_all) % 60 ))s"
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
