#!/usr/bin/env bash
# Retakes every screenshot in docs/gallery/: builds the native and the x86_64 Windows programs
# and tests (build/native, build/win64) and runs the window tests under Wine and Xvfb with
# --shots. The toolkit's controls, the message boxes and the take-snapshot and progress dialogs
# come from tests/wine/gui_check.sh; the real Keldrun.exe's windows from program_check.sh, and
# at 144 DPI from scale_check.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${KELDRUN_JOBS:-2}
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build/native -j"$jobs" keldrun
cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
ninja -C build/win64 -j"$jobs" Keldrun keldrun keldrun_tests keldrun_drive
bash tests/wine/gui_check.sh --shots docs/gallery
bash tests/wine/program_check.sh --shots docs/gallery
bash tests/wine/scale_check.sh --shots docs/gallery
echo "gallery: $(ls docs/gallery/*.png | wc -l) pictures in docs/gallery/"
