#!/usr/bin/env bash
# hwsort -o goes through the index library's replace: each case below is a
# fault or a race around FILE, with the exit status, a text of the message,
# and FILE's state after it (unchanged byte for byte, or the sorted text);
# no temporary or lock file may be left.  Usage: hwsort_output_test.sh HWSORT
set -u
source "$(dirname "$0")/../lib/checks.sh"
scratch
hwsort=$(reachable "${1:?Usage: hwsort_output_test.sh HWSORT}") || exit 1

# What every case starts from: out, and in to be sorted into it.
files() { printf 'old\n' >out && cp out before && printf 'b\nc\na\n' >in && printf 'a\nb\nc\n' >sorted; }

#     case               setup
#      status message                                 command                             FILE
fresh plain;             files
expect 0 ""                                           "$hwsort" -o out in;                same out sorted; nothing_left
fresh through_a_link;    files; mv out real; ln -s real out
expect 0 ""                                           "$hwsort" -o out in;                same real sorted; nothing_left
[ -L out ] || fail "the link was replaced"
fresh link_to_nowhere;   files; rm out; ln -s gone out
expect 2 "out: is a link that leads nowhere"          "$hwsort" -o out in;                nothing_left
[ ! -e gone ] || fail "the link's destination was created"
fresh directory;         files; rm out; mkdir out
expect 2 "out: is a directory, not a file"            "$hwsort" -o out in;                nothing_left
# A pipe, a device or standard output is written to directly, as sort does.
fresh fifo;              files; rm out; mkfifo out; cat out >got &
expect 0 ""                                           timeout 60 "$hwsort" -o out in;     wait; same got sorted; nothing_left
[ -p out ] || fail "the FIFO was replaced"
fresh dev_stdout;        files
expect 0 ""                                           sh -c '"$0" -o /dev/stdout in | cat >got' "$hwsort"; same got sorted
fresh dev_stdout_file;   files
expect 0 ""                                           sh -c '"$0" -o /dev/stdout in >got' "$hwsort"; same got sorted
fresh dev_null;          files
expect 0 ""                                           "$hwsort" -o /dev/null in;          same out before; nothing_left
[ -c /dev/null ] || fail "/dev/null was replaced"
# -o with no input named would wait on the terminal: refused, FILE untouched.
fresh terminal;          files
expect 2 "-o without a FILE to read would read the terminal" script -qec "'$hwsort' -o out" /dev/null; same out before
fresh mode_kept;         files; chmod 640 out
expect 0 ""                                           "$hwsort" -o out in;                same out sorted; nothing_left
[ "$(stat -c %a out)" = 640 ] || fail "mode $(stat -c %a out)"

# A file-size limit below the output (bash counts -f in KiB), SIGXFSZ at
# its default disposition, as a user's shell leaves it: hwsort itself
# ignores it, so the write fails with a message instead of killing it.
fresh file_size_limit;    files; seq 1 3000 >in
expect 2 "out: cannot write its temporary: File too large" bash -c 'ulimit -f 4 && exec "$@"' limit "$hwsort" -o out in
same out before; nothing_left

# A read-only directory; as root, run as the user nobody, for root writes anywhere.
as=()
[ "$(id -u)" != 0 ] || as=(as nobody 022)
fresh read_only_directory; files
[ ${#as[@]} = 0 ] || chown -R nobody:nogroup .
chmod 555 .
expect 2 "out: cannot create its temporary: Permission denied" "${as[@]}" "$hwsort" -o out in
same out before; nothing_left
chmod 755 .

# Several runs at once that each sort FILE with lines of their own into
# FILE: they queue on FILE's lock, so every line of every run is there.
fresh concurrent_rewrites
: >list
for p in 1 2 3 4; do
  (for r in $(seq 1 15); do
     printf 'p%dr%d\n' "$p" "$r" >"own.$p"
     "$hwsort" -o list list "own.$p" 2>>"err.$p" || echo "run $r failed" >>"err.$p"
   done) &
done
wait
cat err.* >err 2>/dev/null
[ ! -s err ] || fail "$(cat err)"
[ "$(wc -l <list)" = 60 ] || fail "$(wc -l <list) of 60 lines present"
"$hwsort" -c list || fail "the result is not sorted"
nothing_left

finish "hwsort -o"
