#!/usr/bin/env bash
# Installs what is needed, builds everything with warnings as errors, and runs
# the whole test suite three times: an optimised build with g++, the same with
# clang++ (so that code only one compiler sees cannot rot), then a clang build
# with the address and undefined-behaviour sanitizers, instrumented for the
# fuzz harnesses too; then, in that same build, replays the fuzz regression
# inputs and runs each harness briefly with a fixed seed. The tree is compiled
# three times in all. TRX_SKIP_CLANG=1, TRX_SKIP_SANITIZE=1 or TRX_SKIP_FUZZ=1
# leaves a stage out (without the sanitizer stage, the fuzz stage builds its
# own instrumented build, build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

JOBS=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  (cd "$dir" && ctest -j "$JOBS" --output-on-failure --timeout 900)
}

echo "== optimised build"
run_suite build/release -DCMAKE_BUILD_TYPE=Release
if [ "${TRX_SKIP_CLANG:-0}" != "1" ]; then
  echo "== optimised build with clang"
  CC=clang CXX=clang++ run_suite build/clang -DCMAKE_BUILD_TYPE=Release -DTRX_BUILD_BENCH=OFF
fi
if [ "${TRX_SKIP_SANITIZE:-0}" != "1" ]; then
  echo "== sanitizer build with clang (address, undefined; instrumented for fuzzing)"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_suite build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DTRX_SANITIZE=ON -DTRX_FUZZ=ON -DTRX_BUILD_BENCH=OFF
  export TRX_FUZZ_BUILD=build/sanitize
fi
if [ "${TRX_SKIP_FUZZ:-0}" != "1" ]; then
  echo "== fuzzing (every regression input, then each harness with a fixed seed)"
  TRX_FUZZ_SEED=1 bash scripts/fuzz.sh
fi
