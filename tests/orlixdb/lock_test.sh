#!/usr/bin/env bash
# The job lock as users meet it, through idxtool: a stopped holder and the
# result 7 that names it; a queue that outlasts the bound; two users of one
# group, one with umask 077, one killed while it holds the lock; signals
# during a job (and a file-size limit) with their default dispositions; a
# 255-byte name.  Each case states the exit status, the target's bytes and
# that nothing is left.  Usage: lock_test.sh IDXTOOL
set -u
source "$(dirname "$0")/../lib/checks.sh"
scratch
tool=$(reachable "$1") || exit 1
big=1000000 # records: a merge into them takes most of a second

# A holder stopped with SIGSTOP keeps the lock: a job with a bound of
# 1.5 s fails with result 7 after it, naming the holder; once the holder
# is killed, the next job merges and cleans up after it.
fresh stopped_holder; indexes $big 1
"$tool" merge t.idx s.idx >holder.txt 2>&1 </dev/null &
holder=$!
wait_for t.idx.orlixdb-lock "$holder"
kill -STOP "$holder"
start=$(now_ms)
ORLIX_LOCK_WAIT_MS=1500 ix 1 "t.idx: was locked by another job for the whole wait (process $holder, holding it for" merge t.idx s.idx
took=$(($(now_ms) - start))
grep -qF "(result 7); t.idx is unchanged" out.txt || fail "no result 7: $(cat out.txt)"
[ "$took" -ge 1500 ] || fail "gave up after $took ms, before the bound"
echo "stopped holder: result 7 after $took ms: $(head -1 out.txt)"
kill -KILL "$holder"
wait "$holder" 2>/dev/null
same t.idx before.idx
ix 0 "t.idx: ok, 1000001 records" merge t.idx s.idx
nothing_left

# A queue outlasts a job's bound, yet the job does not fail, for the lock
# changes hands within the bound each time.  A holder (merging a big
# index) is stopped, the first job behind it stopped while it waits, and
# five jobs queue behind them, each once the one before has its place; the
# last has a bound of 6 s.  The holder is killed 4 s later, and the job
# behind it resumed 4 s after that: the last job waits 8 s, and all merge
# their records in the order they came.  The merges take milliseconds:
# nothing races the bound.
fresh queue; indexes $big 1
mv t.idx big.idx && records 10 1 >old.txt && idxtool_ok build t.idx old.txt
# places: how many jobs have a place in the queue (a lock of one byte from 2^30 on).
places() { awk -v ino=":$(stat -c %i t.idx.orlixdb-lock) " 'index($0, ino) && $(NF - 1) >= 1073741824' /proc/locks | wc -l; }
pids=()
for n in 1 2 3 4 5 6 7; do
  records 1 $((3000000 + n)) >"j$n.txt" && idxtool_ok build "j$n.idx" "j$n.txt"
  [ "$n" = 1 ] && source=big.idx || source="j$n.idx"
  [ "$n" = 7 ] && bound=6000 || bound=30000
  ORLIX_LOCK_WAIT_MS=$bound "$tool" merge t.idx "$source" >"job$n.txt" 2>&1 </dev/null &
  pids+=($!)
  [ "$n" = 1 ] && { wait_for t.idx.orlixdb-lock $!; kill -STOP $!; }
  until [ "$(places)" = "$n" ]; do kill -0 $! 2>/dev/null || die "job $n ended: $(cat "job$n.txt")"; sleep 0.01; done
  [ "$n" = 2 ] && kill -STOP $!
done
start=$(now_ms)
sleep 4 && kill -KILL "${pids[0]}"
sleep 4 && kill -CONT "${pids[1]}"
for n in 2 3 4 5 6 7; do
  wait "${pids[n - 1]}" || fail "job $n failed: $(cat "job$n.txt")"
  grep -qF "t.idx: ok, $((9 + n)) records" "job$n.txt" || fail "job $n was not served in its turn: $(cat "job$n.txt")"
done
took=$(($(now_ms) - start))
[ "$took" -gt "$bound" ] || fail "the last job waited $took ms, not longer than its bound"
echo "queue: the last of 6 jobs waited $took ms, with a bound of $bound ms"
cat old.txt j[2-7].txt >want.txt && idxtool_ok build want.idx want.txt
same t.idx want.idx
nothing_left

# Signals during a job, each at its default disposition when the tool
# starts (`env --default-signal`, since a shell starts background jobs
# with SIGINT ignored): the job cleans up and ends by the signal.  A
# signal ignored when the tool starts stays ignored.
#   signal  started with       status
while read -r sig start_with status; do
  fresh "signal_${sig}_${start_with#--}"; indexes $big 1
  env "$start_with" "$tool" merge t.idx s.idx >job.txt 2>&1 </dev/null &
  job=$!
  wait_for t.idx.orlixdb-lock "$job"
  kill -"$sig" "$job"
  wait "$job"
  got=$?
  [ "$got" = "$status" ] || fail "status $got, want $status: $(cat job.txt)"
  if [ "$status" = 0 ]; then same t.idx after.idx; else cmp -s before.idx t.idx || same t.idx after.idx; fi
  nothing_left
done <<'TABLE'
TERM    --default-signal=TERM  143
HUP     --default-signal=HUP   129
INT     --default-signal=INT   130
HUP     --ignore-signal=HUP    0
TABLE

# A file-size limit with SIGXFSZ at its default: exit 1, "File too large".
fresh file_size_limit; indexes $big 1
expect 1 "t.idx: cannot write its temporary: File too large" bash -c 'ulimit -f 4096 && exec "$@"' limit "$tool" merge t.idx s.idx
same t.idx before.idx
nothing_left

# Two hard links to one index are two targets with two locks: a merge
# through one name gives that name a new file, and the other name keeps
# the old index.
fresh hard_link; indexes $big 1
ln t.idx other.idx
ix 0 "t.idx: ok, 1000001 records" merge t.idx s.idx
same other.idx before.idx
[ "$(stat -c %h other.idx)" = 1 ] || fail "the names still share a file"
nothing_left

# A base name of 255 bytes: build and merge work, and the temporary of a
# killed job (its name shortened like the lock file's) is swept.
fresh long_name
long=$(printf 'n%.0s' $(seq 1 251)).idx
printf 'old\t1\n' >old.txt && printf 'new\t7\n' >new.txt
ix 0 "1 record," build "$long" old.txt
ix 0 "1 record," build s.idx new.txt
ix 0 "ok, 2 records" merge "$long" s.idx
nothing_left
lock=$(mkdir probe && cd probe && cp "$work/stopped_holder/before.idx" "$long" &&
  ( "$tool" merge "$long" "$work/long_name/s.idx" >/dev/null 2>&1 </dev/null & j=$!; wait_for "*.orlixdb-lock" $j; ls ./*.orlixdb-lock; kill -KILL $j ))
lock=${lock#./}
[ "${#lock}" -le 255 ] && [ "${#lock}" -gt 200 ] || fail "lock file name of ${#lock} bytes: $lock"
stale="${lock%.orlixdb-lock}.orlixdb-tmp.77"
printf torn >"$stale"
ix 0 "ok, 2 records" merge "$long" s.idx
[ ! -e "$stale" ] || fail "the stale temporary of the shortened name stayed"
nothing_left probe

# Two users of one group, with write access to the directory and the
# index: A (umask 077) holds the lock, stopped, then is killed; B's job
# waits and merges.  Then A's killed job leaves its lock file and B's next
# job is not kept out by it.  The index keeps its group and mode.
if [ "$(id -u)" != 0 ]; then
  echo "two users: skipped, only root can make the users"
  finish "job lock"
fi
group=oxg$$ a=oxa$$ b=oxb$$
groupadd "$group" && useradd -M -N -g "$group" "$a" && useradd -M -N -g "$group" "$b" ||
  die "cannot make the test's users"
on_exit 'userdel "$a"; userdel "$b"; groupdel "$group"'
fresh two_users; indexes $big 1
chgrp "$group" . t.idx s.idx && chmod 775 . && chmod 664 t.idx && chown "$a" t.idx
as "$a" 077 "$tool" merge t.idx s.idx >a.txt 2>&1 </dev/null &
holder=$!
wait_for t.idx.orlixdb-lock "$holder"
kill -STOP "$holder"
mode=$(stat -c '%a %G' t.idx.orlixdb-lock)
[ "$mode" = "664 $group" ] || fail "A's lock file: $mode"
as "$b" 022 "$tool" merge t.idx s.idx >b.txt 2>&1 </dev/null &
waiter=$!
sleep 1
kill -0 "$waiter" 2>/dev/null || fail "B did not wait: $(cat b.txt)"
kill -KILL "$holder"
wait "$waiter" || fail "B's job failed: $(cat b.txt)"
same t.idx after.idx
[ "$(stat -c '%a %G' t.idx)" = "664 $group" ] || fail "t.idx is now $(stat -c '%a %G' t.idx)"
nothing_left
cp before.idx t.idx && chgrp "$group" t.idx && chmod 664 t.idx
as "$a" 077 "$tool" merge t.idx s.idx >a.txt 2>&1 </dev/null &
holder=$!
wait_for t.idx.orlixdb-lock "$holder"
kill -KILL "$holder"
wait "$holder" 2>/dev/null
[ -e t.idx.orlixdb-lock ] || fail "the killed job left no lock file to test with"
ORLIX_LOCK_WAIT_MS=0 expect 0 "t.idx: ok, 1000001 records" as "$b" 022 "$tool" merge t.idx s.idx
same t.idx after.idx
nothing_left
# Lock files of A's that B may not open for writing, left by jobs that are
# gone (made before t.idx became writable by the group): one B may read is
# seen to be stale and replaced; one B may not even read is reported, not
# removed, since whether its job lives cannot be known.
#   mode  status  message
while read -r mode status text; do
  case_name="two_users_foreign_lock_$mode"
  cp before.idx t.idx && chgrp "$group" t.idx && chmod 664 t.idx
  touch t.idx.orlixdb-lock && chown "$a" t.idx.orlixdb-lock && chmod "$mode" t.idx.orlixdb-lock
  ORLIX_LOCK_WAIT_MS=0 expect "$status" "$text" as "$b" 022 "$tool" merge t.idx s.idx
  if [ "$status" = 0 ]; then same t.idx after.idx; nothing_left; else same t.idx before.idx; fi
  rm -f t.idx.orlixdb-lock
done <<'TABLE'
644   0  t.idx: ok, 1000001 records
600   1  t.idx: cannot open or lock its lock file: Permission denied
TABLE
finish "job lock"
