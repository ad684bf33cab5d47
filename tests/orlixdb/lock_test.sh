#!/usr/bin/env bash
# The job lock as users meet it, through idxtool: a stopped holder and the
# result 7 that names it; two users of one group, one with umask 077, one
# killed while it holds the lock; signals during a job (and a file-size
# limit) with their default dispositions; a 255-byte name.  Each case
# states the exit status, the target's bytes and that nothing is left.
# Usage: lock_test.sh IDXTOOL
set -u
source "$(dirname "$0")/../lib/checks.sh"
tool=$(realpath "$1")
scratch
chmod 755 "$work"

# A case directory with t.idx of BIG records (1 000 000: a merge takes
# most of a second) and s.idx of one new record; before.idx keeps t.idx.
fresh() {
  case_name="$1"
  mkdir -p "$work/$1" && cd "$work/$1" || die "no case directory"
  [ -f "$work/big.txt" ] || awk 'BEGIN { for (i = 0; i < 1000000; i++) printf "k%07d\t%d\n", i, i }' >"$work/big.txt"
  "$tool" build t.idx "$work/big.txt" >/dev/null && printf 'new\t7\n' >new.txt &&
    "$tool" build s.idx new.txt >/dev/null || die "cannot build the case's indexes"
  cp t.idx before.idx
}

# wait_for FILE PID: until FILE exists (the job holds its lock), then a moment more.
wait_for() {
  local i
  for i in $(seq 1 3000); do
    ls $1 >/dev/null 2>&1 && { sleep 0.05; return 0; }
    kill -0 "$2" 2>/dev/null || die "the job ended before $1 appeared"
    sleep 0.01
  done
  die "$1 never appeared"
}

# The target is the old index or the merged one, whole; nothing is left beside it.
old_or_new() {
  cmp -s before.idx t.idx || { "$tool" check t.idx >/dev/null && "$tool" dump t.idx | grep -q "^new	7$"; } ||
    fail "t.idx is neither the old nor the merged index"
}
merged() { "$tool" dump t.idx 2>&1 | grep -q "^new	7$" || fail "t.idx lacks the new record"; }
nothing_left() {
  local left
  left=$(ls -A | grep -F .orlixdb-)
  [ -z "$left" ] || fail "left behind: $left"
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# A holder stopped with SIGSTOP keeps the lock: a job with a bound of
# 1.5 s fails with result 7 after it, naming the holder; once the holder
# is killed, the next job merges and cleans up after it.
fresh stopped_holder
"$tool" merge t.idx s.idx >holder.txt 2>&1 </dev/null &
holder=$!
wait_for t.idx.orlixdb-lock "$holder"
kill -STOP "$holder"
start=$(now_ms)
ORLIX_LOCK_WAIT_MS=1500 expect 1 "t.idx: was locked by another job for the whole wait (process $holder, holding it for" "$tool" merge t.idx s.idx
took=$(($(now_ms) - start))
grep -qF "(result 7); t.idx is unchanged" out.txt || fail "no result 7: $(cat out.txt)"
[ "$took" -ge 1500 ] || fail "gave up after $took ms, before the bound"
echo "stopped holder: result 7 after $took ms: $(head -1 out.txt)"
kill -KILL "$holder"
wait "$holder" 2>/dev/null
cmp -s before.idx t.idx || fail "t.idx changed"
expect 0 "t.idx: ok, 1000001 records" "$tool" merge t.idx s.idx
nothing_left

# Signals during a job, each at its default disposition when the tool
# starts (`env --default-signal`, since a shell starts background jobs
# with SIGINT ignored): the job cleans up and ends by the signal.  A
# signal ignored when the tool starts stays ignored.  A file-size limit
# with SIGXFSZ at its default: exit 1, "File too large".
#   signal  started with       status
signals="TERM    --default-signal=TERM  143
HUP     --default-signal=HUP   129
INT     --default-signal=INT   130
HUP     --ignore-signal=HUP    0"
while read -r sig start_with status; do
  fresh "signal_${sig}_${start_with#--}"
  env "$start_with" "$tool" merge t.idx s.idx >job.txt 2>&1 </dev/null &
  job=$!
  wait_for t.idx.orlixdb-lock "$job"
  kill -"$sig" "$job"
  wait "$job"
  got=$?
  [ "$got" = "$status" ] || fail "status $got, want $status: $(cat job.txt)"
  old_or_new
  [ "$status" = 0 ] && merged
  nothing_left
done <<<"$signals"

fresh file_size_limit
(ulimit -f 4096; "$tool" merge t.idx s.idx >out.txt 2>&1 </dev/null)
got=$?
[ "$got" = 1 ] || fail "status $got, want 1: $(cat out.txt)"
grep -qF "t.idx: cannot write its temporary: File too large" out.txt || fail "message: $(cat out.txt)"
cmp -s before.idx t.idx || fail "t.idx changed"
nothing_left

# Two hard links to one index are two targets with two locks: a merge
# through one name gives that name a new file, and the other name keeps
# the old index.
fresh hard_link
ln t.idx other.idx
expect 0 "t.idx: ok, 1000001 records" "$tool" merge t.idx s.idx
cmp -s before.idx other.idx || fail "the other link changed"
[ "$(stat -c %h other.idx)" = 1 ] || fail "the names still share a file"
nothing_left

# A base name of 255 bytes: build and merge work, and the temporary of a
# killed job (its name shortened like the lock file's) is swept.
case_name=long_name
mkdir "$work/long" && cd "$work/long" || die "no directory"
long=$(printf 'n%.0s' $(seq 1 251)).idx
printf 'old\t1\n' >old.txt && printf 'new\t7\n' >new.txt
expect 0 "1 record," "$tool" build "$long" old.txt
expect 0 "1 record," "$tool" build s.idx new.txt
expect 0 "ok, 2 records" "$tool" merge "$long" s.idx
nothing_left
lock=$(cd "$work" && mkdir probe && cd probe && cp "$work/stopped_holder/t.idx" "$long" &&
  ( "$tool" merge "$long" "$work/long/s.idx" >/dev/null 2>&1 </dev/null & j=$!; wait_for "*.orlixdb-lock" $j; ls *.orlixdb-lock; kill -KILL $j ))
[ "${#lock}" -le 255 ] && [ "${#lock}" -gt 200 ] || fail "lock file name of ${#lock} bytes: $lock"
stale="${lock%.orlixdb-lock}.orlixdb-tmp.77"
printf torn >"$stale"
expect 0 "ok, 2 records" "$tool" merge "$long" s.idx
[ ! -e "$stale" ] || fail "the stale temporary of the shortened name stayed"
nothing_left

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
trap 'userdel "$a"; userdel "$b"; groupdel "$group"; rm -rf "$work"' EXIT
# as USER UMASK COMMAND...: COMMAND as USER, with that umask, in the place of the caller.
as() { local user="$1" mask="$2"; shift 2; exec setpriv --reuid="$user" --regid="$group" --init-groups bash -c "umask $mask; exec \"\$@\"" as "$@"; }
fresh two_users
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
merged
[ "$(stat -c '%a %G' t.idx)" = "664 $group" ] || fail "t.idx is now $(stat -c '%a %G' t.idx)"
nothing_left
cp before.idx t.idx && chgrp "$group" t.idx && chmod 664 t.idx
as "$a" 077 "$tool" merge t.idx s.idx >a.txt 2>&1 </dev/null &
holder=$!
wait_for t.idx.orlixdb-lock "$holder"
kill -KILL "$holder"
wait "$holder" 2>/dev/null
[ -e t.idx.orlixdb-lock ] || fail "the killed job left no lock file to test with"
(ORLIX_LOCK_WAIT_MS=0 as "$b" 022 "$tool" merge t.idx s.idx >b.txt 2>&1 </dev/null) || fail "B kept out: $(cat b.txt)"
merged
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
  (ORLIX_LOCK_WAIT_MS=0 as "$b" 022 "$tool" merge t.idx s.idx >b.txt 2>&1 </dev/null)
  got=$?
  [ "$got" = "$status" ] && grep -qF "$text" b.txt || fail "status $got, want $status '$text': $(cat b.txt)"
  if [ "$status" = 0 ]; then merged; nothing_left; else cmp -s before.idx t.idx || fail "t.idx changed"; fi
  rm -f t.idx.orlixdb-lock
done <<'TABLE'
644   0  t.idx: ok, 1000001 records
600   1  t.idx: cannot open or lock its lock file: Permission denied
TABLE
finish "job lock"
