#!/usr/bin/env bash
# Under Wine: idxtool.exe merges while hold_open.exe holds a file open the
# way other programs do, several merges at once on one target, and a job
# holding the lock against waiting ones.
# Usage: run_reliability.sh setup|cleanup|CASE; the environment (ORLIX_*)
# comes from tests/wine-reliability/CMakeLists.txt.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../wine/wine_env.sh"

# A failing case first lets a holder go, so that it does not outlive the case.
# die, as tests/lib/checks.sh has it, but first lets a holder still running go.
die() { echo "FAIL: $*" >&2; [ -n "${holder:-}" ] && touch "$held_file.stop"; exit 1; }

# idxtool.exe in the current directory; output to a file, never a pipe.
idxtool() { wine "$ORLIX_IDXTOOL" "$@" >idxtool.out 2>&1 </dev/null; }
idxtool_ok() { idxtool "$@" || die "idxtool $*: $(cat idxtool.out)"; }

records() { local i; for i in $(seq "$2" $(($2 + $1 - 1))); do printf 'key%05d\t%d\n' "$i" "$i"; done; }

# A case directory with t.idx (the old records) and s.idx (new ones).
fresh() {
  dir="$ORLIX_WORK/case-$case_name"
  rm -rf "$dir" && mkdir -p "$dir" && cd "$dir" || die "no $dir"
  records 200 1 >old.txt && records 200 1000 >new.txt
  idxtool_ok build t.idx old.txt
  idxtool_ok build s.idx new.txt
  cp t.idx before.idx
}

# hold FILE SHARE START MS: hold_open.exe in the background, once it holds FILE.
hold() {
  held_file="$1"
  wine "$ORLIX_HOLD_OPEN" "$@" >holder.out 2>&1 </dev/null &
  holder=$!
  local i
  for i in $(seq 1 600); do
    [ -e "$held_file.held" ] && return 0
    kill -0 "$holder" 2>/dev/null || die "hold_open: $(cat holder.out)"
    sleep 0.1
  done
  die "hold_open never opened $held_file"
}

# Let the holder go (at once if it still holds) and collect it.
release() {
  touch "$held_file.stop"
  wait "$holder" || die "hold_open: $(cat holder.out)"
  holder=""
}

# merge: idxtool.exe merge t.idx SOURCE; sets `got` and `ms`, the time it took.
merge() {
  local start
  start=$(date +%s%N)
  idxtool merge t.idx "$@"
  got=$?
  ms=$((($(date +%s%N) - start) / 1000000))
}

expect_merged() {
  idxtool_ok dump t.idx
  [ "$(cat old.txt new.txt)" = "$(cat idxtool.out)" ] || die "t.idx lacks records: $(head -3 idxtool.out)"
  idxtool_ok check t.idx
}
expect_unchanged() { cmp -s before.idx t.idx || die "t.idx changed"; }
expect_no_leftovers() {
  local left
  left=$(ls | grep -E '\.orlixdb-(tmp\.[0-9]+|lock)$')
  [ -z "$left" ] || die "left behind: $left"
}
expect_failure() {  # TEXT: the merge failed with TEXT in its message
  [ "$got" = 1 ] || die "merge status $got, want 1: $(cat idxtool.out)"
  grep -qF -- "$1" idxtool.out || die "message lacks '$1': $(cat idxtool.out)"
}
# The job gave up while the holder still held the file: it did not wait it out.
expect_gave_up_first() { kill -0 "$holder" 2>/dev/null || die "the holder let go before the job gave up"; }

# A reader sharing only reading holds the target from the moment the job
# takes its lock until 400 ms later: the rename is refused, retried, done.
case_reader_brief() {
  fresh
  hold t.idx r t.idx.orlixdb-lock 400
  merge s.idx
  release
  [ "$got" = 0 ] || die "merge status $got: $(cat idxtool.out)"
  echo "reader (FILE_SHARE_READ) held 400 ms after the job began: merged in $ms ms"
  expect_merged
  expect_no_leftovers
}

# The same reader that does not let go: the job fails within its bound.
case_reader_long() {
  fresh
  hold t.idx r t.idx.orlixdb-lock 60000
  merge s.idx
  expect_gave_up_first
  release
  echo "reader (FILE_SHARE_READ) held: failed after $ms ms: $(head -1 idxtool.out)"
  expect_failure "t.idx: cannot be replaced by its temporary"
  expect_unchanged
  expect_no_leftovers
}

# A reader that allows deletion: where the system renames over it, the job
# succeeds and the reader keeps the old file; where it does not (Wine),
# the job fails as above.  Either way the target is whole, never missing.
case_reader_sharing_delete_long() {
  fresh
  hold t.idx rd t.idx.orlixdb-lock 60000
  merge s.idx
  release
  if [ "$got" = 0 ]; then
    echo "reader (FILE_SHARE_READ | FILE_SHARE_DELETE) held: replaced in $ms ms; $(cat holder.out)"
    grep -q "read 'ORLIXIDX'" holder.out || die "the reader lost its file: $(cat holder.out)"
    expect_merged
  else
    echo "reader (FILE_SHARE_READ | FILE_SHARE_DELETE) held: failed after $ms ms: $(head -1 idxtool.out)"
    expect_failure "t.idx: cannot be replaced by its temporary"
    expect_unchanged
  fi
  expect_no_leftovers
}

# A program holding the target without sharing it: the job's read waits.
case_exclusive_holder_brief() {
  fresh
  hold t.idx none t.idx.orlixdb-lock 400
  merge s.idx
  release
  [ "$got" = 0 ] || die "merge status $got: $(cat idxtool.out)"
  echo "holder (no sharing) held 400 ms after the job began: merged in $ms ms"
  expect_merged
  expect_no_leftovers
}

case_exclusive_holder_long() {
  fresh
  hold t.idx none t.idx.orlixdb-lock 60000
  merge s.idx
  expect_gave_up_first
  release
  echo "holder (no sharing) held: failed after $ms ms: $(head -1 idxtool.out)"
  expect_failure "t.idx: cannot open"
  expect_unchanged
  expect_no_leftovers
}

# A source held without sharing: the message names the source.
case_source_held_long() {
  fresh
  hold s.idx none t.idx.orlixdb-lock 60000
  merge s.idx
  expect_gave_up_first
  release
  expect_failure "s.idx: cannot open"
  expect_unchanged
  expect_no_leftovers
}

# What looks like a stale temporary but is a FIFO: left alone, no hang.
case_stale_fifo_temporary() {
  fresh
  mkfifo t.idx.orlixdb-tmp.99
  timeout 100 "${WINELOADER:-wine}" "$ORLIX_IDXTOOL" merge t.idx s.idx >idxtool.out 2>&1 </dev/null
  got=$?
  [ "$got" = 0 ] || die "merge status $got: $(cat idxtool.out)"
  [ -p t.idx.orlixdb-tmp.99 ] || die "the FIFO was removed"
  rm t.idx.orlixdb-tmp.99
  expect_merged
  expect_no_leftovers
}

# t.idx of 1 000 000 records (old.txt), so a merge takes a while; before.idx keeps it.
big_target() {
  awk 'BEGIN { for (i = 0; i < 1000000; i++) printf "big%07d\t%d\n", i, i }' >old.txt
  idxtool_ok build t.idx old.txt
  cp t.idx before.idx
}

# idxtool.exe in the background, in the place of this subshell, so that
# $! is the Windows program's own process: it can be stopped and resumed.
idxtool_job() { ( exec "${WINELOADER:-$(type -P wine)}" "$ORLIX_IDXTOOL" "$@" </dev/null ) & }

# A job holding the lock against waiting ones: the first job, on a target
# of 1 000 000 records, is stopped (SIGSTOP) while it holds the lock.  A job
# with a bound of 2 s fails with result 7 and names the holder; one with
# the ordinary bound waits, and when the holder resumes both merge.
case_lock_holder_and_waiters() {
  fresh
  big_target
  records 1 5000 >late.txt && idxtool_ok build late.idx late.txt
  idxtool_job merge t.idx s.idx >first.out 2>&1
  local first=$! i
  for i in $(seq 1 500); do [ -e t.idx.orlixdb-lock ] && break; sleep 0.01; done
  [ -e t.idx.orlixdb-lock ] || die "the first job took no lock: $(cat first.out)"
  sleep 0.05 # and wrote its record
  kill -STOP "$first"
  echo "lock file while held: Unix mode $(stat -c '%a %U:%G' t.idx.orlixdb-lock)"
  ORLIX_LOCK_WAIT_MS=2000 merge late.idx
  echo "stopped holder, bound 2 s: status $got after $ms ms: $(head -1 idxtool.out)"
  expect_failure "t.idx: was locked by another job for the whole wait (process "
  grep -qF "(result 7)" idxtool.out || die "no result 7: $(cat idxtool.out)"
  [ "$ms" -ge 2000 ] || die "gave up after $ms ms"
  idxtool_job merge t.idx late.idx >second.out 2>&1
  local second=$!
  sleep 1
  kill -0 "$second" 2>/dev/null || die "the second job did not wait: $(cat second.out)"
  kill -CONT "$first"
  wait "$first" || die "the first job: $(cat first.out)"
  wait "$second" || die "the second job: $(cat second.out)"
  idxtool_ok dump t.idx
  [ "$(cat old.txt late.txt new.txt | LC_ALL=C sort)" = "$(LC_ALL=C sort idxtool.out)" ] ||
    die "t.idx lacks records"
  expect_no_leftovers
}

# Waiting jobs served in the order they came; one killed while it waits,
# and one stopped while it waits (those behind it give up naming it): see
# queue_order.cpp.  Columns: jobs, fate, which job.
case_queue_order() {
  fresh
  local jobs fate which
  while read -r jobs fate which; do
    wine "$ORLIX_QUEUE_ORDER" t.idx "$jobs" "$fate" "$which" >order.out 2>&1 </dev/null ||
      die "queue_order $jobs $fate $which: $(cat order.out)"
    cat order.out
    rm t.idx.order
    expect_no_leftovers
  done <<'TABLE'
6 none -
6 kill 0
6 kill 3
5 stop 3
TABLE
}

# Ctrl+C at the console once the job holds its lock, and once it writes
# its temporary: idxtool.exe ends with STATUS_CONTROL_C_EXIT, the target
# is the old index or the merged one, and nothing is left.  The console is
# a pseudo-terminal (`script`): Wine delivers console events only there.
case_ctrl_c() {
  local when tool
  tool=$(wine_launch winepath -w "$ORLIX_IDXTOOL" 2>/dev/null </dev/null)
  for when in t.idx.orlixdb-lock 't.idx.orlixdb-tmp.*'; do
    fresh
    big_target
    script -qec "'${WINELOADER:-$(type -P wine)}' '$ORLIX_CTRL_C' '$when' '$tool merge t.idx s.idx'" \
      /dev/null >ctrl.out 2>&1 </dev/null || die "ctrl_c: $(tr -d '\r' <ctrl.out | tail -3)"
    [ "$(cat ctrl_c.code)" = 0xc000013a ] || die "exit code $(cat ctrl_c.code), not Ctrl+C's"
    rm ctrl_c.code
    if ! cmp -s before.idx t.idx; then
      idxtool_ok dump t.idx
      [ "$(cat old.txt new.txt | LC_ALL=C sort)" = "$(LC_ALL=C sort idxtool.out)" ] || die "t.idx is neither"
    fi
    expect_no_leftovers
    echo "Ctrl+C once $when appeared: exit code 0xc000013a, t.idx $(cmp -s before.idx t.idx && echo unchanged || echo merged)"
  done
}

# Several idxtool.exe at once on one target, each adding its own records.
# The script runs the loader itself (it cannot call this shell's wine).
case_stress() {
  dir="$ORLIX_WORK/case-$case_name"
  mkdir -p "$dir" && cd "$dir"
  idxtool_ok --help
  bash "$ORLIX_STRESS" "$ORLIX_IDXTOOL" 4 8 "${WINELOADER:-wine}"
}

case_name="$1"
wine_dispatch "$case_name"
