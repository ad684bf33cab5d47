#!/usr/bin/env bash
# Faults around the merge's files, through idxtool as a user meets them.
# Each case sets up a directory, runs `idxtool merge t.idx SOURCE`, and
# states: the exit status, a text of the message, whether t.idx must be
# unchanged (byte for byte) or hold the merged index, and that no temporary
# of the job is left.  Usage: write_faults_test.sh IDXTOOL
set -u
source "$(dirname "$0")/../lib/checks.sh"
tool=$(realpath "$1")
scratch
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT

# records N FIRST: N text records from FIRST on.
records() { local i; for i in $(seq "$2" $(($2 + $1 - 1))); do printf 'key%05d\t%d\n' "$i" "$i"; done; }

# A fresh case directory holding t.idx (old records) and s.idx (new ones).
fresh() {
  case_name="$1"
  dir="$work/$case_name"
  mkdir -p "$dir" && cd "$dir" || exit 1
  records 300 1 >old.txt && "$tool" build t.idx old.txt >/dev/null
  records 300 1000 >new.txt && "$tool" build s.idx new.txt >/dev/null
  cp t.idx before.idx 2>/dev/null
}

# check STATUS TEXT unchanged|merged|absent [TARGET]: after the merge just run.
check() {
  local status="$1" text="$2" want="$3" target="${4:-t.idx}"
  [ "$got" = "$status" ] || fail "status $got, want $status: $(cat out.txt)"
  grep -qF -- "$text" out.txt || fail "message lacks '$text': $(cat out.txt)"
  case "$want" in
    unchanged) cmp -s before.idx "$target" || fail "$target changed" ;;
    merged)
      "$tool" dump "$target" >dump.txt 2>&1 || fail "dump: $(cat dump.txt)"
      [ "$(cat old.txt new.txt | LC_ALL=C sort)" = "$(LC_ALL=C sort dump.txt)" ] || fail "$target lacks records"
      "$tool" check "$target" >/dev/null 2>&1 || fail "$target fails check" ;;
  esac
  local left
  left=$(ls -A | grep -E '\.orlixdb-(tmp\.[0-9]+|lock)$' | grep -vxF -f planted.txt)
  [ -z "$left" ] || fail "left behind: $left"
}

merge() { "$tool" merge "$@" >out.txt 2>&1 </dev/null; got=$?; }
plant() { printf '%s\n' "$@" >planted.txt; }

#   case                     setup                                              status  message                                            target
fresh stale_regular_temp;    printf torn >t.idx.orlixdb-tmp.99; plant x
merge t.idx s.idx;           check 0 "t.idx: ok, 600 records" merged
[ ! -e t.idx.orlixdb-tmp.99 ] || fail "the stale temporary stayed"

fresh stale_fifo_temp;       mkfifo t.idx.orlixdb-tmp.99; plant t.idx.orlixdb-tmp.99
timeout 60 "$tool" merge t.idx s.idx >out.txt 2>&1 </dev/null; got=$?
check 0 "t.idx: ok, 600 records" merged
[ -p t.idx.orlixdb-tmp.99 ] || fail "the FIFO was removed"

fresh stale_symlink_temp;    printf keep >victim; ln -s victim t.idx.orlixdb-tmp.98; plant t.idx.orlixdb-tmp.98
merge t.idx s.idx;           check 0 "t.idx: ok, 600 records" merged
[ -L t.idx.orlixdb-tmp.98 ] && [ "$(cat victim)" = keep ] || fail "the link or what it names was touched"

fresh stale_directory_temp;  mkdir t.idx.orlixdb-tmp.97; plant t.idx.orlixdb-tmp.97
merge t.idx s.idx;           check 0 "t.idx: ok, 600 records" merged

fresh target_is_fifo;        rm t.idx; mkfifo t.idx; plant x
timeout 60 "$tool" merge t.idx s.idx >out.txt 2>&1 </dev/null; got=$?
check 1 "t.idx: is a FIFO, not a file" none
[ -p t.idx ] || fail "the FIFO was replaced"

fresh target_is_directory;   rm t.idx; mkdir t.idx; plant x
merge t.idx s.idx;           check 1 "t.idx: is a directory, not a file" none
[ -d t.idx ] || fail "the directory was replaced"

fresh target_is_symlink;     mv t.idx real.idx; ln -s real.idx t.idx; plant x
merge t.idx s.idx;           check 0 "t.idx: ok, 600 records" merged real.idx
[ "$(readlink t.idx)" = real.idx ] || fail "the link was replaced"

fresh target_links_nowhere;  rm t.idx; ln -s gone.idx t.idx; plant x
merge t.idx s.idx;           check 1 "t.idx: is a link that leads nowhere" none
[ "$(readlink t.idx)" = gone.idx ] && [ ! -e gone.idx ] || fail "the link or its destination changed"

fresh source_is_fifo;        mkfifo f.idx; plant x
timeout 60 "$tool" merge t.idx f.idx >out.txt 2>&1 </dev/null; got=$?
check 1 "f.idx: is a FIFO, not a file" unchanged

fresh source_is_corrupt;     head -c 100 s.idx >cut.idx; plant x
merge t.idx cut.idx;         check 1 "cut.idx: checksum mismatch" unchanged

fresh lock_is_directory;     mkdir t.idx.orlixdb-lock; plant t.idx.orlixdb-lock
merge t.idx s.idx;           check 1 "t.idx: cannot open or lock its lock file: Is a directory" unchanged

fresh lock_is_fifo;          mkfifo t.idx.orlixdb-lock; plant t.idx.orlixdb-lock
timeout 60 "$tool" merge t.idx s.idx >out.txt 2>&1 </dev/null; got=$?
check 1 "t.idx: has a lock file that is not a regular file" unchanged

fresh lock_is_symlink;       printf keep >victim; ln -s victim t.idx.orlixdb-lock; plant t.idx.orlixdb-lock
merge t.idx s.idx;           check 1 "t.idx: cannot open or lock its lock file: Too many levels of symbolic links" unchanged
[ "$(cat victim)" = keep ] || fail "the lock's link was followed"

# A file-size limit: with the signals, in lock_test.sh.

# A full disk: a 64 KiB tmpfs holding the target, in a mount namespace of
# its own; the merged index does not fit.  Needs the right to make one.
if unshare -m true 2>/dev/null; then
  fresh disk_full; plant x
  records 6000 5000 >big.txt && "$tool" build big.idx big.txt >/dev/null
  mkdir full
  unshare -m bash -c 'mount -t tmpfs -o size=64k tmpfs full || { echo skip >status; exit; }
    cp before.idx full/t.idx
    "$0" merge full/t.idx big.idx >out.txt 2>&1 </dev/null; echo $? >status
    cmp -s before.idx full/t.idx && echo same >same
    ls -A full >left' "$tool"
  got=$(cat status 2>/dev/null)
  if [ "$got" = skip ]; then
    echo "no tmpfs could be mounted: the disk-full case is skipped"
  else
    check 1 "full/t.idx: cannot write its temporary: No space left on device" none
    [ "$(cat same 2>/dev/null)" = same ] || fail "the target changed"
    [ "$(cat left 2>/dev/null)" = t.idx ] || fail "left on the full disk: $(cat left 2>/dev/null)"
  fi
else
  echo "no mount namespace to be had: the disk-full case is skipped"
fi

# A read-only directory: nothing can be created there, so there is no lock
# to wait for; the job fails at the temporary, or succeeds when there is
# nothing new to write.  Root writes anywhere, so as root these cases run
# as the user nobody.
as_user=()
if [ "$(id -u)" = 0 ]; then
  command -v setpriv >/dev/null || { echo "FAIL: setpriv is needed to run as nobody"; exit 1; }
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
  chmod 755 "$work"
fi
user_merge() { "${as_user[@]}" "$tool" merge "$@" >out.txt 2>&1 </dev/null; got=$?; }
# read_only_case NAME: a fresh case whose files belong to that user, the directory read-only.
read_only_case() {
  fresh "$1"; plant x
  [ ${#as_user[@]} = 0 ] || chown -R 65534:65534 .
  chmod 555 .
}

read_only_case read_only_directory
user_merge t.idx s.idx;      check 1 "t.idx: cannot create its temporary: Permission denied" unchanged

read_only_case read_only_nothing_new
user_merge t.idx t.idx;      check 0 "t.idx: ok, 300 records" unchanged

read_only_case unreadable_source
chmod 755 . && chmod 000 s.idx && chmod 555 .
user_merge t.idx s.idx;      check 1 "s.idx: cannot open: Permission denied" unchanged
chmod 755 "$work"/read_only_*  "$work"/unreadable_source

finish "write faults"
