#!/usr/bin/env bash
# Several processes at once merge into one target, each adding records of
# its own, run after run: every merge must succeed, every record must be in
# the target at the end, and the target must pass `check`.
# Usage: stress_test.sh IDXTOOL PROCESSES RUNS [WRAPPER...]
# (WRAPPER, e.g. `wine`, runs a Windows idxtool.exe.)
set -u
tool=$(realpath "$1") processes="$2" runs="$3"
shift 3
wrapper=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Output to files, never pipes: Wine's services would hold a pipe open.
idxtool() { "${wrapper[@]}" "$tool" "$@" </dev/null; }

# worker N: RUNS times, build s.N.idx of one new record and merge it into t.idx.
worker() {
  local n="$1" run failed=0
  for run in $(seq 1 "$runs"); do
    printf 'p%dr%d\t%d\n' "$n" "$run" "$((n * 100000 + run))" >"in.$n.txt"
    idxtool build "s.$n.idx" "in.$n.txt" >"out.$n.txt" 2>&1 || { failed=$((failed + 1)); cat "out.$n.txt"; continue; }
    idxtool merge t.idx "s.$n.idx" >"out.$n.txt" 2>&1 || { failed=$((failed + 1)); cat "out.$n.txt"; }
  done
  echo "$failed" >"failed.$n"
}

for n in $(seq 1 "$processes"); do worker "$n" >"log.$n" 2>&1 & done
wait

failures=0
for n in $(seq 1 "$processes"); do failures=$((failures + $(cat "failed.$n"))); done
idxtool dump t.idx >dump.txt 2>&1 || { echo "FAIL: dump: $(head -3 dump.txt)"; exit 1; }
for n in $(seq 1 "$processes"); do
  for run in $(seq 1 "$runs"); do printf 'p%dr%d\t%d\n' "$n" "$run" "$((n * 100000 + run))"; done
done | LC_ALL=C sort >expected.txt
LC_ALL=C sort dump.txt >present.txt
expected=$(wc -l <expected.txt)
present=$(LC_ALL=C comm -12 expected.txt present.txt | wc -l)
extra=$(LC_ALL=C comm -13 expected.txt present.txt | wc -l)
idxtool check t.idx >check.txt 2>&1; checked=$?
temps=$(ls | grep -cE '\.orlixdb-(tmp\.[0-9]+|lock)$' || true)
echo "$processes processes x $runs runs: $failures failed; records expected $expected, present $present, extra $extra; check $([ $checked = 0 ] && echo passed || echo failed); temporaries left $temps"
status=0
[ "$failures" -eq 0 ] || { echo "FAIL: $failures merges failed:"; cat log.*; status=1; }
[ "$present" -eq "$expected" ] && [ "$extra" -eq 0 ] || { echo "FAIL: records lost or added"; status=1; }
[ "$checked" -eq 0 ] || { echo "FAIL: check: $(cat check.txt)"; status=1; }
[ "$temps" -eq 0 ] || { echo "FAIL: temporaries left: $(ls)"; status=1; }
exit $status
