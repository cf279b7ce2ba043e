#!/usr/bin/env bash
# Builds the libFuzzer harnesses (tests/fuzz) with clang in build/fuzz and
# runs each one for a while with its seed corpus, several at once.
#   scripts/fuzz.sh [seconds per harness, default 30] [harness names...]
# TRX_FUZZ_JOBS: harnesses run at once (default: the number of processors).
# New inputs go to build/fuzz/work/<harness>, crashes to
# build/fuzz/crashes/<harness>; the script fails when any harness crashed.
# Turn what it finds into inputs under tests/fuzz/regressions/<harness>.
# TRX_FUZZ_SEED=N (as CI does): first replays every regression input, then
# runs each harness from its seed corpus alone (a fresh work folder) with
# that random seed for TRX_FUZZ_RUNS inputs (default 2000) instead of a
# time, so that the same sources always try the same inputs.
# TRX_FUZZ_BUILD=<folder>: use that build, configured with -DTRX_FUZZ=ON,
# instead of configuring build/fuzz (CI passes its sanitizer build, which
# builds the harnesses with warnings as errors; build/fuzz does not, so that
# exploring is not stopped by a warning).
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-30}
shift || true
JOBS=${TRX_FUZZ_JOBS:-$(nproc)}
DIR=${TRX_FUZZ_BUILD:-build/fuzz}

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
if [ -n "${TRX_FUZZ_BUILD:-}" ]; then
  if ! grep -q '^TRX_FUZZ:BOOL=ON$' "$DIR/CMakeCache.txt" 2>/dev/null; then
    echo "fuzz: $DIR is not a build configured with -DTRX_FUZZ=ON" >&2
    exit 1
  fi
else
  cmake -S . -B "$DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTRX_FUZZ=ON -DTRX_WERROR=OFF -DTRX_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$DIR" --target fuzz_corpus -j "$(nproc)"

if [ $# -gt 0 ]; then
  names=("$@")
else
  names=()
  for src in tests/fuzz/fuzz_*.cpp; do names+=("$(basename "$src" .cpp | sed 's/^fuzz_//')"); done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
export QT_QPA_PLATFORM=offscreen
SEED=${TRX_FUZZ_SEED:-}
RUNS=${TRX_FUZZ_RUNS:-2000}
run_one() {
  local name=$1
  local work="$DIR/work/$name" crashes="$DIR/crashes/$name" log="$DIR/logs/$name.log"
  local harness="$DIR/tests/fuzz/fuzz_$name" regressions="tests/fuzz/regressions/$name"
  local limits=(-timeout=30 -rss_limit_mb=2048 -malloc_limit_mb=2048 -max_len=262144 -artifact_prefix="$crashes/")
  mkdir -p "$crashes" "$(dirname "$log")"
  if [ -n "$SEED" ]; then
    : >"$log"
    if [ -d "$regressions" ]; then
      "$harness" "${limits[@]}" -runs=0 "$regressions" >>"$log" 2>&1 || return 1
    fi
    rm -rf "$work" && mkdir -p "$work"
    "$harness" "${limits[@]}" -seed="$SEED" -runs="$RUNS" -print_final_stats=1 \
      "$work" "$DIR/tests/fuzz/corpus/$name" >>"$log" 2>&1
  else
    mkdir -p "$work"
    "$harness" "${limits[@]}" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
      "$work" "$DIR/tests/fuzz/corpus/$name" >"$log" 2>&1
  fi
}

pids=()
status=0
for name in "${names[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do wait -n || true; done
  run_one "$name" &
  pids+=("$!:$name")
done
for entry in "${pids[@]}"; do
  pid=${entry%%:*}
  name=${entry#*:}
  if wait "$pid"; then result=ok; else result=CRASH; status=1; fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$DIR/logs/$name.log" | grep -o '[0-9]*$' || echo '?')
  printf 'fuzz %-10s %s, %s inputs (log %s)\n' "$name" "$result" "$runs" "$DIR/logs/$name.log"
  if [ "$result" = CRASH ]; then grep -m5 -E 'ERROR|runtime error|Test unit written' "$DIR/logs/$name.log" || true; fi
done
exit $status
