#!/usr/bin/env bash
# Side-by-side timings of the tools on this machine:
#   hwsort against LC_ALL=C sort -f, and idxtool build against hwsort, on
#   dictionary, suffixed and digit-heavy keys; hwsort -S 32M, -c and -m on
#   264 MB;
#   the index job (idxtool merge, the code path of DbOrdinal12) against cat
#   of the same input files, and its cost per record at three sizes.
# Each figure is the median of RUNS runs, the two sides taking turns.
# Usage: bench/tools_bench.sh BUILDDIR DATADIR [RUNS]
set -euo pipefail

build=${1:?usage: tools_bench.sh BUILDDIR DATADIR [RUNS]}
data=${2:?usage: tools_bench.sh BUILDDIR DATADIR [RUNS]}
runs=${3:-5}
hwsort=$build/tools/hwsort/hwsort
idxtool=$build/tools/idxtool/idxtool
work=$data/work
mkdir -p "$work"

# measure LABEL COMMAND...: one run; appends "wall cpu maxrss_kB" to $work/LABEL.
measure() {
  local label=$1
  shift
  /usr/bin/time -o "$work/time.out" -f '%e %U %S %M' "$@"
  awk '{ printf "%.3f %.3f %d\n", $1, $2 + $3, $4 }' "$work/time.out" >> "$work/$label"
}

# median LABEL FIELD: the median of one column.
median() {
  sort -n -k"$2","$2" "$work/$1" | awk -v f="$2" '{ v[NR] = $f } END { print v[int((NR + 1) / 2)] }'
}

row() { # row LABEL: wall, CPU and peak memory columns
  printf '%-34s %9s %9s %10s\n' "$1" "$(median "$1" 1)" "$(median "$1" 2)" "$(median "$1" 3)"
}

ratio() { awk -v a="$(median "$1" "$3")" -v b="$(median "$2" "$3")" 'BEGIN { printf "%.2f", a / b }'; }

header() { printf '\n%-34s %9s %9s %10s\n' "$1" "wall s" "CPU s" "peak kB"; }

# --- hwsort against sort -f, idxtool build against hwsort ---------------------
# On each key set: hwsort and sort -f of the keys; hwsort and idxtool build of
# the same text (KEY <TAB> N), which build must sort exactly as hwsort does.
for set in homographs suffixed1m digits1m; do
  lines=$data/$set.txt text=$data/$set.text
  [ -s "$text" ] || awk '{ print $0 "\t" NR }' "$lines" > "$text"
  rm -f "$work/hwsort" "$work/sort-f" "$work/hwsort-text" "$work/build"
  for _ in $(seq "$runs"); do
    rm -f "$work/hwsort.out" "$work/sort.out" # a new file each time, for both
    measure hwsort "$hwsort" -o "$work/hwsort.out" "$lines"
    measure sort-f env LC_ALL=C sort -f -o "$work/sort.out" "$lines"
    measure hwsort-text "$hwsort" -o "$work/hwsort.out" "$text"
    measure build "$idxtool" build -q --force "$work/build.idx" "$text"
  done
  "$hwsort" -c "$work/hwsort.out"
  header "$set: sort of $(wc -l < "$lines") lines"
  row hwsort
  row sort-f
  row hwsort-text
  row build
  echo "hwsort / sort -f: wall $(ratio hwsort sort-f 1)x, CPU $(ratio hwsort sort-f 2)x, peak memory $(ratio hwsort sort-f 3)x"
  echo "build / hwsort of its text: wall $(ratio build hwsort-text 1)x, CPU $(ratio build hwsort-text 2)x"
done

# --- bounded memory: a 264 MB input with -S 32M ---------------------------------
big=$work/big.txt
if [ ! -s "$big" ]; then
  for _ in $(seq 16); do cat "$data/suffixed1m.txt"; done > "$big.all"
  head -c 264000000 "$big.all" > "$big"
  rm -f "$big.all"
fi
rm -f "$work/hwsort-S32M" "$work/sort-S32M"
measure hwsort-S32M "$hwsort" -S 32M -T "$work" -o "$work/big.out" "$big"
measure sort-S32M env LC_ALL=C sort -f -S 32M -T "$work" -o "$work/big.sort" "$big"
header "264 MB, $(wc -l < "$big") lines, -S 32M"
row hwsort-S32M
row sort-S32M
rm -f "$work/hwsort-m" "$work/hwsort-c"
measure hwsort-c "$hwsort" -c "$work/big.out"
measure hwsort-m "$hwsort" -m -o "$work/big.m" "$work/big.out" "$work/big.out"
row hwsort-c
row hwsort-m
rm -f "$work/big.out" "$work/big.sort" "$work/big.m"

# --- the index job against cat -----------------------------------------------
# Target: N keys in headword order, references 1..N.  Sources: N/2 keys each
# (every other line of the sorted keys) with references of their own, so
# every source record is new and the result holds 2N records.  All inputs
# are sorted, the case the job must handle in O(n).
sorted=$work/keys.sorted
[ -s "$sorted" ] || "$hwsort" -o "$sorted" "$data/suffixed1m.txt"

make_indexes() { # make_indexes N
  local n=$1 dir=$work/index-$1
  [ -s "$dir/target.idx" ] && return
  mkdir -p "$dir"
  head -n "$n" "$sorted" | awk '{ print $0 "\t" NR }' | "$idxtool" build "$dir/target.idx" - > /dev/null
  head -n "$n" "$sorted" | awk 'NR % 2 == 1 { print $0 "\t" (NR + 10000000) }' |
    "$idxtool" build "$dir/source01.idx" - > /dev/null
  head -n "$n" "$sorted" | awk 'NR % 2 == 0 { print $0 "\t" (NR + 20000000) }' |
    "$idxtool" build "$dir/source7f.idx" - > /dev/null
}

merge_once() { # merge_once N LABEL
  local dir=$work/index-$1
  cp "$dir/target.idx" "$dir/merged.idx"
  measure "$2" "$idxtool" merge "$dir/merged.idx" "$dir/source01.idx" "$dir/source7f.idx"
}

for n in 250000 500000 1000000; do
  make_indexes "$n"
  rm -f "$work/merge-$n"
  for _ in $(seq "$runs"); do merge_once "$n" "merge-$n"; done
done

dir=$work/index-1000000
rm -f "$work/cat" "$work/cat+sync"
for _ in $(seq "$runs"); do
  measure cat sh -c 'cat "$1" "$2" "$3" > "$4"' sh "$dir/target.idx" "$dir/source01.idx" \
    "$dir/source7f.idx" "$dir/cat.out"
  measure cat+sync sh -c 'cat "$1" "$2" "$3" > "$4" && sync "$4"' sh "$dir/target.idx" \
    "$dir/source01.idx" "$dir/source7f.idx" "$dir/cat.out"
done
"$idxtool" check "$dir/merged.idx" > /dev/null

in_bytes=$(cat "$dir/target.idx" "$dir/source01.idx" "$dir/source7f.idx" | wc -c)
header "index job: 1M + 2 x 0.5M records ($((in_bytes / 1000000)) MB in)"
row merge-1000000
row cat
row cat+sync
echo "merge / cat: wall $(ratio merge-1000000 cat 1)x, CPU $(ratio merge-1000000 cat 2)x;" \
     "merge / (cat + sync): wall $(ratio merge-1000000 cat+sync 1)x"

echo
echo "index job per record (all inputs sorted; O(n) keeps ns/record flat):"
for n in 250000 500000 1000000; do
  awk -v n="$n" -v w="$(median "merge-$n" 1)" -v m="$(median "merge-$n" 3)" \
    'BEGIN { printf "  target %7d + sources %7d: %.3f s, %.0f ns per record, peak %d kB\n", n, n, w, w * 1e9 / (2 * n), m }'
done
