#!/usr/bin/env bash
# Runs the optimised build's test suite while a CPU hog keeps every processor
# busy, as on a loaded user's machine or a shared CI runner: a test that only
# passes when the scheduler is kind fails here.
#   scripts/test-under-load.sh [extra ctest arguments...]
# TRX_LOAD_BUILD: the build directory (default build/release, built first).
# The hog is stress-ng when it is installed, else one busy shell loop per
# processor; it is stopped however the script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
DIR=${TRX_LOAD_BUILD:-build/release}
CORES=$(nproc)

cmake -S . -B "$DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$DIR" -j "$CORES"

hogs=()
stop_hogs() {
  local pid
  for pid in "${hogs[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${hogs[@]}"; do wait "$pid" 2>/dev/null || true; done
  hogs=()
}
trap stop_hogs EXIT
trap 'exit 130' INT TERM

if command -v stress-ng >/dev/null; then
  stress-ng --cpu "$CORES" --cpu-method loop --quiet &
  hogs+=("$!")
  echo "load: stress-ng --cpu $CORES (pid ${hogs[0]})"
else
  for ((i = 0; i < CORES; ++i)); do
    (while :; do :; done) &
    hogs+=("$!")
  done
  echo "load: $CORES busy loops"
fi

(cd "$DIR" && ctest -j 8 --output-on-failure --timeout 900 "$@")
