#!/usr/bin/env bash
# Compares one benchmark of the working tree with the same benchmark of an
# earlier commit, run alternately in one session so that both see the same
# state of the machine (on a shared virtual machine the figures of runs made
# minutes apart differ by more than most changes do).
#   scripts/bench-compare.sh REV BENCH [ROUNDS] [-- BENCH ARGUMENTS...]
# REV is built in build/compare/REV (a worktree of its own), the working tree
# in build/release. BENCH is a bench target (bench_tracking, bench_render,
# ...). Each round runs the old and then the new program, the next round the
# other way round. Every output line "name: number ..." is a figure; the
# table gives each figure's median and range over the rounds, old and new,
# and the new median as a share of the old. The old build stays for the next
# comparison; `git worktree remove build/compare/COMMIT/src` lets it go.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
  echo "usage: scripts/bench-compare.sh REV BENCH [ROUNDS] [-- ARGS...]" >&2
  exit 2
fi
rev=$1
bench=$2
shift 2
rounds=5
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
  rounds=$1
  shift
fi
[ "${1:-}" = "--" ] && shift
commit=$(git rev-parse --verify "$rev^{commit}")
old_root=build/compare/$commit
if [ ! -d "$old_root/src" ]; then
  mkdir -p "$old_root"
  git worktree add --detach "$old_root/src" "$commit" >/dev/null 2>&1
fi
jobs=$(nproc)
cmake -S "$old_root/src" -B "$old_root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$old_root/build" -j "$jobs" --target "$bench" >/dev/null
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$jobs" --target "$bench" >/dev/null
old=$(find "$old_root/build/bench" -type f -name "$bench" -perm -u+x | head -n 1)
new=$(find build/release/bench -type f -name "$bench" -perm -u+x | head -n 1)
if [ -z "$old" ] || [ -z "$new" ]; then
  echo "bench-compare: no program $bench in one of the builds" >&2
  exit 1
fi

out=$(mktemp)
trap 'rm -f "$out"' EXIT
figures() { awk -v who="$1" '{ for (i = 1; i < NF; ++i) if ($i ~ /:$/ && $(i + 1) ~ /^-?[0-9.]+$/) { print who, $i, $(i + 1); break } }'; }
for ((r = 1; r <= rounds; ++r)); do
  if ((r % 2)); then order="old new"; else order="new old"; fi
  for who in $order; do
    if [ "$who" = old ]; then prog=$old; else prog=$new; fi
    "$prog" "$@" 2>/dev/null | figures "$who" >>"$out"
  done
  echo "round $r of $rounds done" >&2
done

# name, then per side: median, lowest, highest.
sort -k2,2 -k1,1 -k3,3g "$out" | awk '
  function flush(   m) {
    if (n == 0) return
    m = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    med[key] = m; lo[key] = v[1]; hi[key] = v[n]
    n = 0
  }
  { k = $2 SUBSEP $1; if (k != key) { flush(); key = k; names[$2] = 1 } v[++n] = $3 }
  END {
    flush()
    printf "%-60s %26s %26s %8s\n", "figure (median, lowest-highest)", "old", "new", "new/old"
    for (name in names) {
      o = name SUBSEP "old"; w = name SUBSEP "new"
      if (!(o in med) || !(w in med)) continue
      printf "%-60s %10.3f (%6.4g-%6.4g) %10.3f (%6.4g-%6.4g) %7.1f%%\n", name, med[o], lo[o], hi[o], med[w], lo[w], hi[w],
             med[o] != 0 ? 100 * med[w] / med[o] : 0
    }
  }' | { read -r header; echo "$header"; sort; }
