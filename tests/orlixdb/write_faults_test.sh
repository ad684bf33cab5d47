#!/usr/bin/env bash
# Faults around the merge's files, through idxtool as a user meets them.
# Each case sets up a directory holding t.idx and s.idx (300 records each),
# runs `idxtool merge t.idx SOURCE`, and states: the exit status, a text of
# the message, t.idx unchanged (byte for byte) or merged, and that no
# temporary or lock file of the job is left but those planted.
# Usage: write_faults_test.sh IDXTOOL
set -u
source "$(dirname "$0")/../lib/checks.sh"
scratch
program=$(reachable "$1") || exit 1
tool=(timeout 60 "$program") # a FIFO must not hang it

#     case                   setup
#  status  message                                          what may stay            target
fresh stale_regular_temp;    indexes 300 300; printf torn >t.idx.orlixdb-tmp.99
ix 0 "t.idx: ok, 600 records" merge t.idx s.idx;            nothing_left;            same t.idx after.idx
fresh stale_fifo_temp;       indexes 300 300; mkfifo t.idx.orlixdb-tmp.99
ix 0 "t.idx: ok, 600 records" merge t.idx s.idx;            nothing_left t.idx.orlixdb-tmp.99; same t.idx after.idx
[ -p t.idx.orlixdb-tmp.99 ] || fail "the FIFO was removed"
fresh stale_symlink_temp;    indexes 300 300; printf keep >victim; ln -s victim t.idx.orlixdb-tmp.98
ix 0 "t.idx: ok, 600 records" merge t.idx s.idx;            nothing_left t.idx.orlixdb-tmp.98; same t.idx after.idx
[ -L t.idx.orlixdb-tmp.98 ] && [ "$(cat victim)" = keep ] || fail "the link or what it names was touched"
fresh stale_directory_temp;  indexes 300 300; mkdir t.idx.orlixdb-tmp.97
ix 0 "t.idx: ok, 600 records" merge t.idx s.idx;            nothing_left t.idx.orlixdb-tmp.97; same t.idx after.idx
fresh target_is_fifo;        indexes 300 300; rm t.idx; mkfifo t.idx
ix 1 "t.idx: is a FIFO, not a file" merge t.idx s.idx;      nothing_left
[ -p t.idx ] || fail "the FIFO was replaced"
fresh target_is_directory;   indexes 300 300; rm t.idx; mkdir t.idx
ix 1 "t.idx: is a directory, not a file" merge t.idx s.idx; nothing_left
[ -d t.idx ] || fail "the directory was replaced"
fresh target_is_symlink;     indexes 300 300; mv t.idx real.idx; ln -s real.idx t.idx
ix 0 "t.idx: ok, 600 records" merge t.idx s.idx;            nothing_left;            same real.idx after.idx
[ "$(readlink t.idx)" = real.idx ] || fail "the link was replaced"
fresh target_links_nowhere;  indexes 300 300; rm t.idx; ln -s gone.idx t.idx
ix 1 "t.idx: is a link that leads nowhere" merge t.idx s.idx; nothing_left
[ "$(readlink t.idx)" = gone.idx ] && [ ! -e gone.idx ] || fail "the link or its destination changed"
fresh source_is_fifo;        indexes 300 300; mkfifo f.idx
ix 1 "f.idx: is a FIFO, not a file" merge t.idx f.idx;      nothing_left;            same t.idx before.idx
fresh source_is_corrupt;     indexes 300 300; head -c 100 s.idx >cut.idx
ix 1 "cut.idx: checksum mismatch" merge t.idx cut.idx;      nothing_left;            same t.idx before.idx
fresh lock_is_directory;     indexes 300 300; mkdir t.idx.orlixdb-lock
ix 1 "t.idx: cannot open or lock its lock file: Is a directory" merge t.idx s.idx;   nothing_left t.idx.orlixdb-lock; same t.idx before.idx
fresh lock_is_fifo;          indexes 300 300; mkfifo t.idx.orlixdb-lock
ix 1 "t.idx: has a lock file that is not a regular file" merge t.idx s.idx;          nothing_left t.idx.orlixdb-lock; same t.idx before.idx
fresh lock_is_symlink;       indexes 300 300; printf keep >victim; ln -s victim t.idx.orlixdb-lock
ix 1 "t.idx: cannot open or lock its lock file: Too many levels of symbolic links" merge t.idx s.idx; nothing_left t.idx.orlixdb-lock; same t.idx before.idx
[ "$(cat victim)" = keep ] || fail "the lock's link was followed"

# A file-size limit: with the signals, in lock_test.sh.

# A full disk: a 64 KiB tmpfs holding the target, in a mount namespace of
# its own; the merged index does not fit.  Needs the right to make one.
if unshare -m true 2>/dev/null; then
  fresh disk_full; indexes 300 300
  records 6000 5000 >big.txt && idxtool_ok build big.idx big.txt
  mkdir full
  unshare -m bash -c 'mount -t tmpfs -o size=64k tmpfs full || { echo skip >status; exit; }
    cp before.idx full/t.idx
    "$0" merge full/t.idx big.idx >out.txt 2>&1 </dev/null; echo $? >status
    cmp -s before.idx full/t.idx && echo same >same
    ls -A full >left' "$program"
  if [ "$(cat status 2>/dev/null)" = skip ]; then
    echo "no tmpfs could be mounted: the disk-full case is skipped"
  else
    [ "$(cat status)" = 1 ] && grep -qF "full/t.idx: cannot write its temporary: No space left on device" out.txt ||
      fail "status $(cat status): $(cat out.txt)"
    [ "$(cat same 2>/dev/null)" = same ] || fail "the target changed"
    [ "$(cat left 2>/dev/null)" = t.idx ] || fail "left on the full disk: $(cat left 2>/dev/null)"
    nothing_left
  fi
else
  echo "no mount namespace to be had: the disk-full case is skipped"
fi

# A read-only directory: nothing can be created there, so there is no lock
# to wait for; the job fails at the temporary, or succeeds when there is
# nothing new to write.  Root writes anywhere, so as root these cases run
# as the user nobody, their files nobody's.
user=$(id -un) as=()
[ "$(id -u)" != 0 ] || { user=nobody; as=(as nobody 022); }
#     case                    source  status  message
while read -r name source status text; do
  fresh "$name"; indexes 300 300
  [ "$name" = unreadable_source ] && chmod 000 s.idx
  chown -R "$user:$(id -g "$user")" . && chmod 555 .
  expect "$status" "$text" "${as[@]}" "$program" merge t.idx "$source"
  same t.idx before.idx
  chmod 755 .
done <<'TABLE'
read_only_directory     s.idx   1  t.idx: cannot create its temporary: Permission denied
read_only_nothing_new   t.idx   0  t.idx: ok, 300 records
unreadable_source       s.idx   1  s.idx: cannot open: Permission denied
TABLE

finish "write faults"
