#!/usr/bin/env bash
# Several processes at once merge into one target, each adding records of
# its own, run after run: every merge must succeed, every record must be in
# the target at the end, the target must pass `check`, and nothing may be
# left beside it.  (The queue's bound: lock_test.sh, with a stopped holder.)
# Usage: stress_test.sh IDXTOOL PROCESSES RUNS [WRAPPER...]
# (WRAPPER, e.g. `wine`, runs a Windows idxtool.exe.)
set -u
source "$(dirname "$0")/../lib/checks.sh"
processes="$2" runs="$3"
tool=("${@:4}" "$(realpath "$1")")
scratch

# Output to files, never pipes: Wine's services would hold a pipe open.
record() { printf 'p%dr%d\t%d\n' "$1" "$2" "$(($1 * 100000 + $2))"; }

# worker N: RUNS times, build s.N.idx of one new record and merge it into t.idx.
worker() {
  local n="$1" run failed=0
  for run in $(seq 1 "$runs"); do
    record "$n" "$run" >"in.$n.txt"
    "${tool[@]}" build --force "s.$n.idx" "in.$n.txt" >"out.$n.txt" 2>&1 </dev/null &&
      "${tool[@]}" merge t.idx "s.$n.idx" >"out.$n.txt" 2>&1 </dev/null || { failed=$((failed + 1)); cat "out.$n.txt"; }
  done
  echo "$failed" >"result.$n"
}

for n in $(seq 1 "$processes"); do worker "$n" >"log.$n" 2>&1 & done
wait

failed=0
for n in $(seq 1 "$processes"); do
  read -r f <"result.$n" || die "worker $n reported nothing"
  failed=$((failed + f))
done
idxtool_ok dump t.idx
for n in $(seq 1 "$processes"); do for run in $(seq 1 "$runs"); do record "$n" "$run"; done; done | LC_ALL=C sort >expected.txt
LC_ALL=C sort out.txt >present.txt
expected=$(wc -l <expected.txt)
present=$(LC_ALL=C comm -12 expected.txt present.txt | wc -l)
extra=$(LC_ALL=C comm -13 expected.txt present.txt | wc -l)
echo "$processes processes x $runs merges: $failed failed; records expected $expected, present $present, extra $extra"
[ "$failed" -eq 0 ] || { fail "$failed merges failed:"; cat log.*; }
[ "$present" -eq "$expected" ] && [ "$extra" -eq 0 ] || fail "records lost or added"
idxtool check t.idx || fail "check: $(cat out.txt)"
nothing_left
finish "stress"
