#!/usr/bin/env bash
# Several processes at once merge into one target, each adding records of
# its own, run after run: every merge must succeed, every record must be in
# the target at the end, the target must pass `check`, and nothing may be
# left beside it.  With STRESS_BASE=N the target starts with N records, so
# that each merge takes a while and the jobs form a queue; the longest
# merge call (its wait for the lock included) is reported, and with
# ORLIX_LOCK_WAIT_MS set it must be longer than that bound.
# Usage: stress_test.sh IDXTOOL PROCESSES RUNS [WRAPPER...]
# (WRAPPER, e.g. `wine`, runs a Windows idxtool.exe.)
set -u
source "$(dirname "$0")/../lib/checks.sh"
tool=$(realpath "$1") processes="$2" runs="$3"
shift 3
wrapper=("$@")
base="${STRESS_BASE:-0}"
scratch

# Output to files, never pipes: Wine's services would hold a pipe open.
idxtool() { "${wrapper[@]}" "$tool" "$@" </dev/null; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

if [ "$base" -gt 0 ]; then
  awk -v n="$base" 'BEGIN { for (i = 0; i < n; i++) printf "base%08d\t%d\n", i, i }' >base.txt
  idxtool build t.idx base.txt >out.txt 2>&1 || die "build of the target: $(cat out.txt)"
fi

# worker N: RUNS times, build s.N.idx of one new record and merge it into t.idx.
worker() {
  local n="$1" run failed=0 longest=0 start took
  for run in $(seq 1 "$runs"); do
    printf 'p%dr%d\t%d\n' "$n" "$run" "$((n * 100000 + run))" >"in.$n.txt"
    idxtool build --force "s.$n.idx" "in.$n.txt" >"out.$n.txt" 2>&1 || { failed=$((failed + 1)); cat "out.$n.txt"; continue; }
    start=$(now_ms)
    idxtool merge t.idx "s.$n.idx" >"out.$n.txt" 2>&1 || { failed=$((failed + 1)); cat "out.$n.txt"; }
    took=$(($(now_ms) - start))
    [ "$took" -gt "$longest" ] && longest=$took
  done
  echo "$failed $longest" >"result.$n"
}

for n in $(seq 1 "$processes"); do worker "$n" >"log.$n" 2>&1 & done
wait

failed=0 longest=0
for n in $(seq 1 "$processes"); do
  read -r f l <"result.$n" || die "worker $n reported nothing"
  failed=$((failed + f))
  [ "$l" -gt "$longest" ] && longest=$l
done
idxtool dump t.idx >dump.txt 2>&1 || die "dump: $(head -3 dump.txt)"
{
  [ "$base" -gt 0 ] && cat base.txt
  for n in $(seq 1 "$processes"); do
    for run in $(seq 1 "$runs"); do printf 'p%dr%d\t%d\n' "$n" "$run" "$((n * 100000 + run))"; done
  done
} | LC_ALL=C sort >expected.txt
LC_ALL=C sort dump.txt >present.txt
expected=$(wc -l <expected.txt)
present=$(LC_ALL=C comm -12 expected.txt present.txt | wc -l)
extra=$(LC_ALL=C comm -13 expected.txt present.txt | wc -l)
idxtool check t.idx >check.txt 2>&1
checked=$?
left=$(ls | grep -E '\.orlixdb-(tmp\.[0-9]+|lock)$')
echo "$processes processes x $runs merges on $base records: $failed failed; records expected $expected, present $present, extra $extra; check $([ $checked = 0 ] && echo passed || echo failed); left ${left:-nothing}; longest merge call $longest ms"

[ "$failed" -eq 0 ] || { fail "$failed merges failed:"; cat log.*; }
[ "$present" -eq "$expected" ] && [ "$extra" -eq 0 ] || fail "records lost or added"
[ "$checked" -eq 0 ] || fail "check: $(cat check.txt)"
[ -z "$left" ] || fail "left behind: $left"
# A queue test proves something only when a job waited longer than the bound.
if [ "$base" -gt 0 ] && [ -n "${ORLIX_LOCK_WAIT_MS:-}" ] && [ "$longest" -le "$ORLIX_LOCK_WAIT_MS" ]; then
  fail "no merge call outlasted the bound of $ORLIX_LOCK_WAIT_MS ms: make the queue longer"
fi
finish "stress"
