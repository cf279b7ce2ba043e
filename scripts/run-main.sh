#!/usr/bin/env bash
# The main job: installs what is needed, builds the programs and runs the
# driver on its default input: a generated shaky clip is analysed,
# stabilised and exported through Vantrel into out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target trx_stabilise Vantrel
mkdir -p out
build/release/tools/trx_stabilise --out out
echo "Results are in $(pwd)/out:"
ls -l out
