#!/usr/bin/env bash
# The whole benchmark in one command: installs what it needs, builds the
# bench preset (optimised, no sanitizers), makes the key sets from Debian's
# word lists and runs
#   1. the collation benchmark: sort, adjacent pairs and random pairs with
#      strcmp, strcasecmp, strcoll (C.UTF-8), ICU and CompareHeadwords;
#   2. hwsort against LC_ALL=C sort -f, and the index job against cat.
# Everything printed is also kept in build/bench/results.txt.
# Usage: bash bench/run.sh [RUNS]   (RUNS: repetitions, the fastest reported; 3)
set -euo pipefail

cd "$(dirname "$0")/.."
runs=${1:-3}

bash scripts/deps.sh build bench
cmake --preset bench > /dev/null
cmake --build --preset bench

build=build/bench
data=$build/data
bash bench/prepare_data.sh "$data" > /dev/null

{
  echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
  echo "load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
  "$build/bench/collation_bench" "$data" --benchmark_repetitions="$runs" \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.2
  bash bench/tools_bench.sh "$build" "$data" "$runs"
} 2>&1 | tee "$build/results.txt"
