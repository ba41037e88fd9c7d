#!/usr/bin/env bash
# Runs benchmark cases in two release builds alternately, so that a change is
# judged on a shared, noisy machine by runs taken side by side rather than at
# different times. Prints every result line, prefixed with its build, and at
# the end each case's medians of both builds round by round.
#
#   bash scripts/bench-compare.sh OTHER_BUILD [ROUNDS] [CASE FILTER...]
#   e.g. bash scripts/bench-compare.sh ../base/build/release 3 "catalogue migration"
#
# This build is build/release of this tree (SORVENT_BENCH_THIS overrides it).
# SORVENT_BENCH_PGHOST is passed on, as to sorvent-bench itself.
set -euo pipefail
cd "$(dirname "$0")/.."
other=${1:?the other build directory (with bin/sorvent-bench)}
shift
rounds=3
if [[ $# -gt 0 && $1 =~ ^[0-9]+$ ]]; then rounds=$1; shift; fi
this=${SORVENT_BENCH_THIS:-build/release}
for b in "$this" "$other"; do
  [[ -x $b/bin/sorvent-bench ]] || { echo "No hay $b/bin/sorvent-bench" >&2; exit 1; }
done
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for ((r = 1; r <= rounds; r++)); do
  # Alternate which build goes first, so neither always meets a warm cache.
  if ((r % 2)); then order=("$this" "$other"); else order=("$other" "$this"); fi
  for b in "${order[@]}"; do
    tag=$([[ $b == "$this" ]] && echo this || echo other)
    # A run that fails is said and the rounds go on; its messages go to stderr.
    "$b/bin/sorvent-bench" "$@" 2> >(grep -v '^QStandardPaths' >&2) | sed "s/^/$tag $r /" | tee -a "$out" \
      || echo "$tag $r: sorvent-bench terminó con error" >&2
  done
done
echo
echo "median ms per round (this | other):"
# Fields: build, round, engine, case name..., "median", ms.
awk '{ for (i = 4; i <= NF && $i != "median"; i++) ; name = $3; for (j = 4; j < i; j++) name = name " " $j;
       key = name; ms[key, $1] = ms[key, $1] " " $(i + 1); if (!(key in seen)) { seen[key] = 1; order[++n] = key } }
     END { for (k = 1; k <= n; k++) printf "%-70s this:%s | other:%s\n", order[k], ms[order[k], "this"], ms[order[k], "other"] }' "$out"
