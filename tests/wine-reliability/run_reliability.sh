#!/usr/bin/env bash
# Under Wine: idxtool.exe merges while hold_open.exe holds a file open the
# way other programs do, several merges at once on one target, and a job
# holding the lock against waiting ones.
# Usage: run_reliability.sh setup|cleanup|CASE; the environment (ORLIX_*)
# comes from tests/wine-reliability/CMakeLists.txt.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../wine/wine_env.sh"

tool=(wine "$ORLIX_IDXTOOL")
# A case that ends early first lets a holder still running go.
on_exit '[ -z "${holder:-}" ] || touch "$held_file.stop"'

# hold FILE SHARE START MS: hold_open.exe in the background, once it holds FILE.
hold() {
  held_file="$1"
  wine "$ORLIX_HOLD_OPEN" "$@" >holder.out 2>&1 </dev/null &
  holder=$!
  wait_for "$held_file.held" "$holder"
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

expect_failure() {  # TEXT: the merge failed with TEXT in its message
  [ "$got" = 1 ] && grep -qF -- "$1" out.txt || fail "merge status $got, want 1 and '$1': $(cat out.txt)"
}
# The job gave up while the holder still held the file: it did not wait it out.
expect_gave_up_first() { kill -0 "$holder" 2>/dev/null || fail "the holder let go before the job gave up"; }

# Another program holds the target from the moment the job takes its lock
# until 400 ms later: a reader sharing only reading (the rename is refused,
# retried, done), a holder without sharing (the job's read waits).
case_held_briefly() {
  local share what
  while read -r share what; do
    fresh "$case_name"; indexes 200 200
    hold t.idx "$share" t.idx.orlixdb-lock 400
    merge s.idx
    release
    [ "$got" = 0 ] || fail "merge status $got: $(cat out.txt)"
    echo "$what held 400 ms after the job began: merged in $ms ms"
    same t.idx after.idx
    nothing_left
  done <<'TABLE'
r     reader (FILE_SHARE_READ)
none  holder (no sharing)
TABLE
}

# The same, held for good: the job fails within its bound, and its message
# names the file held and the step.  A merge that brings nothing new
# succeeds while a reader holds the target, before the sharing retries
# (1975 ms) could end.  Columns: file held, sharing, source, message ("-":
# success).
case_held_long() {
  local file share source text
  while read -r file share source text; do
    fresh "$case_name"; indexes 200 200
    hold "$file" "$share" t.idx.orlixdb-lock 60000
    merge "$source"
    expect_gave_up_first
    release
    echo "$file held (sharing: $share), merging $source: status $got after $ms ms: $(head -1 out.txt)"
    if [ "$text" = - ]; then
      [ "$got" = 0 ] && [ "$ms" -lt 1975 ] || fail "merge status $got after $ms ms, want 0 at once: $(cat out.txt)"
    else
      expect_failure "$text"
    fi
    same t.idx before.idx
    nothing_left
  done <<'TABLE'
t.idx  r     s.idx       t.idx: cannot be replaced by its temporary
t.idx  none  s.idx       t.idx: cannot open
s.idx  none  s.idx       s.idx: cannot open
t.idx  r     before.idx  -
TABLE
}

# A reader that allows deletion: where the system renames over it, the job
# succeeds and the reader keeps the old file; where it does not (Wine),
# the job fails as above.  Either way the target is whole, never missing.
case_reader_sharing_delete_long() {
  fresh "$case_name"; indexes 200 200
  hold t.idx rd t.idx.orlixdb-lock 60000
  merge s.idx
  release
  if [ "$got" = 0 ]; then
    echo "reader (FILE_SHARE_READ | FILE_SHARE_DELETE) held: replaced in $ms ms; $(cat holder.out)"
    grep -q "read 'ORLIXIDX'" holder.out || die "the reader lost its file: $(cat holder.out)"
    same t.idx after.idx
  else
    echo "reader (FILE_SHARE_READ | FILE_SHARE_DELETE) held: failed after $ms ms: $(head -1 out.txt)"
    expect_failure "t.idx: cannot be replaced by its temporary"
    same t.idx before.idx
  fi
  nothing_left
}

# What looks like a stale temporary but is a FIFO: left alone, no hang.
case_stale_fifo_temporary() {
  fresh "$case_name"; indexes 200 200
  mkfifo t.idx.orlixdb-tmp.99
  timeout 100 "${WINELOADER:-wine}" "$ORLIX_IDXTOOL" merge t.idx s.idx >out.txt 2>&1 </dev/null
  got=$?
  [ "$got" = 0 ] || fail "merge status $got: $(cat out.txt)"
  [ -p t.idx.orlixdb-tmp.99 ] || die "the FIFO was removed"
  rm t.idx.orlixdb-tmp.99
  same t.idx after.idx
  nothing_left
}

# idxtool.exe in the background, in the place of this subshell, so that
# $! is the Windows program's own process: it can be stopped and resumed.
idxtool_job() { ( exec "${WINELOADER:-$(type -P wine)}" "$ORLIX_IDXTOOL" "$@" </dev/null ) & }

# A job holding the lock against waiting ones: the first job, on a target
# of 1 000 000 records, is stopped (SIGSTOP) while it holds the lock.  A job
# with a bound of 2 s fails with result 7 and names the holder; one with
# the ordinary bound waits, and when the holder resumes both merge.
case_lock_holder_and_waiters() {
  fresh "$case_name"; indexes 1000000 200
  records 1 3000000 >late.txt && idxtool_ok build late.idx late.txt
  idxtool_job merge t.idx s.idx >first.out 2>&1
  local first=$!
  wait_for t.idx.orlixdb-lock "$first"
  kill -STOP "$first"
  echo "lock file while held: Unix mode $(stat -c '%a %U:%G' t.idx.orlixdb-lock)"
  ORLIX_LOCK_WAIT_MS=2000 merge late.idx
  echo "stopped holder, bound 2 s: status $got after $ms ms: $(head -1 out.txt)"
  expect_failure "t.idx: was locked by another job for the whole wait (process "
  grep -qF "(result 7)" out.txt || die "no result 7: $(cat out.txt)"
  [ "$ms" -ge 2000 ] || die "gave up after $ms ms"
  idxtool_job merge t.idx late.idx >second.out 2>&1
  local second=$!
  sleep 1
  kill -0 "$second" 2>/dev/null || die "the second job did not wait: $(cat second.out)"
  kill -CONT "$first"
  wait "$first" || die "the first job: $(cat first.out)"
  wait "$second" || die "the second job: $(cat second.out)"
  idxtool_ok dump t.idx
  [ "$(cat old.txt late.txt new.txt | LC_ALL=C sort)" = "$(LC_ALL=C sort out.txt)" ] ||
    die "t.idx lacks records"
  nothing_left
}

# Waiting jobs served in the order they came; one killed while it waits,
# and one stopped while it waits (those behind it give up naming it): see
# queue_order.cpp.  Columns: jobs, fate, which job.
case_queue_order() {
  fresh "$case_name"; indexes 200 200
  local jobs fate which
  while read -r jobs fate which; do
    wine "$ORLIX_QUEUE_ORDER" t.idx "$jobs" "$fate" "$which" >order.out 2>&1 </dev/null ||
      die "queue_order $jobs $fate $which: $(cat order.out)"
    cat order.out
    rm t.idx.order
    nothing_left
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
  local when program
  program=$(wine_launch winepath -w "$ORLIX_IDXTOOL" 2>/dev/null </dev/null)
  for when in t.idx.orlixdb-lock 't.idx.orlixdb-tmp.*'; do
    fresh "$case_name"; indexes 1000000 200
    script -qec "'${WINELOADER:-$(type -P wine)}' '$ORLIX_CTRL_C' '$when' '$program merge t.idx s.idx'" \
      /dev/null >ctrl.out 2>&1 </dev/null || die "ctrl_c: $(tr -d '\r' <ctrl.out | tail -3)"
    [ "$(cat ctrl_c.code)" = 0xc000013a ] || die "exit code $(cat ctrl_c.code), not Ctrl+C's"
    rm ctrl_c.code
    cmp -s before.idx t.idx || same t.idx after.idx
    nothing_left
    echo "Ctrl+C once $when appeared: exit code 0xc000013a, t.idx $(cmp -s before.idx t.idx && echo unchanged || echo merged)"
  done
}

# Several idxtool.exe at once on one target, each adding its own records.
# The script runs the loader itself (it cannot call this shell's wine).
case_stress() {
  fresh "$case_name"
  idxtool_ok --help
  bash "$ORLIX_STRESS" "$ORLIX_IDXTOOL" 4 8 "${WINELOADER:-wine}" || fail "the stress test failed"
}

case_name="$1"
wine_dispatch "$case_name"
