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

# Stale temporaries of every kind, a FIFO as the target, a FIFO or a
# damaged source, a FIFO as the lock file: rows of the in-process tables
# in tests/orlixdb/job_lock_test.cpp.
#     case                   setup
#  status  message                                          what may stay            target
fresh target_is_directory;   indexes 300 300; rm t.idx; mkdir t.idx
ix 1 "t.idx: is a directory, not a file" merge t.idx s.idx; nothing_left
[ -d t.idx ] || fail "the directory was replaced"
fresh target_is_symlink;     indexes 300 300; mv t.idx real.idx; ln -s real.idx t.idx
ix 0 "t.idx: ok, 600 records" merge t.idx s.idx;            nothing_left;            same real.idx after.idx
[ "$(readlink t.idx)" = real.idx ] || fail "the link was replaced"
fresh target_links_nowhere;  indexes 300 300; rm t.idx; ln -s gone.idx t.idx
ix 1 "t.idx: is a link that leads nowhere" merge t.idx s.idx; nothing_left
[ "$(readlink t.idx)" = gone.idx ] && [ ! -e gone.idx ] || fail "the link or its destination changed"
fresh lock_is_directory;     indexes 300 300; mkdir t.idx.orlixdb-lock
ix 1 "t.idx: cannot open or lock its lock file: Is a directory" merge t.idx s.idx;   nothing_left t.idx.orlixdb-lock; same t.idx before.idx
fresh lock_is_symlink;       indexes 300 300; printf keep >victim; ln -s victim t.idx.orlixdb-lock
ix 1 "t.idx: cannot open or lock its lock file: Too many levels of symbolic links" merge t.idx s.idx; nothing_left t.idx.orlixdb-lock; same t.idx before.idx
[ "$(cat victim)" = keep ] || fail "the lock's link was followed"

# A file-size limit: with the signals, in lock_test.sh.

# A full disk, a quota, EIO: each call of the job failing in turn, in
# tests/orlixdb/file_faults_test.cpp.

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
