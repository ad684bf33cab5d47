#!/usr/bin/env bash
# Instructions and (simulated) mispredicted branches per comparison of
# glibc's strcmp, the byte-at-a-time loop and CompareHeadwords, counted by
# callgrind inside one workload of the timing harness: independent of the
# machine's load, unlike the timings.
# Usage: bash bench/profile_collation.sh HARNESS DATADIR SET/WORKLOAD...
#   HARNESS: a build of bench/collation_timing.cpp (e.g. build/bench/bench/
#   collation_timing, or build/timing-i686/collation_timing); WORKLOAD is
#   sort or adjacent.  CompareHeadwords counts all code of src/collation/:
#   the plain scan, which shares it, does not run in the profiled part.
set -euo pipefail

harness=${1:?usage: profile_collation.sh HARNESS DATADIR SET/WORKLOAD...}
data=${2:?usage: profile_collation.sh HARNESS DATADIR SET/WORKLOAD...}
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%-22s %-18s %10s %12s\n' workload comparator "Ir/cmp" "mispred/cmp"
for workload in "$@"; do
  case $workload in
    */sort) collect='CountSortComparisons*' ;;
    */adjacent) collect='AdjacentOnce*' ;;
    *) echo "profile_collation.sh: '$workload' is not SET/sort or SET/adjacent" >&2; exit 2 ;;
  esac
  valgrind --tool=callgrind --branch-sim=yes --toggle-collect="$collect" \
    --callgrind-out-file="$work/out" "$harness" "$data" 0 "$workload" >"$work/calls" 2>"$work/log"
  callgrind_annotate --auto=no --show-percs=no --threshold=100 "$work/out" |
    grep -E '^ *[0-9,]+ ' | grep -v 'PROGRAM TOTALS' >"$work/functions"
  for comparator in strcmp byte_loop CompareHeadwords; do
    case $comparator in
      strcmp) pattern='LibraryStrcmp|strcmp' ;;
      byte_loop) pattern=':ByteLoop' ;;
      CompareHeadwords) pattern='src/collation/' ;;
    esac
    calls=$(awk -v c="/$comparator:" 'index($0, c) { print $2 }' "$work/calls")
    grep -E "$pattern" "$work/functions" |
      awk -v n="$calls" -v w="$workload" -v c="$comparator" '
        { ir = $1; gsub(",", "", ir); m = $3; gsub(",", "", m); I += ir; M += m }
        END { printf "%-22s %-18s %10.1f %12.3f\n", w, c, I / n, M / n }'
  done
done
