#!/usr/bin/env bash
# The main job: builds the programs and runs them on a default input.
# For now this is the foundation benchmark (task engine and block estimator).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)"
for b in build/release/bench/*/bench_*; do
  [ -x "$b" ] && "$b"
done
