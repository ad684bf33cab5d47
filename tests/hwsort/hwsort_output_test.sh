#!/usr/bin/env bash
# hwsort -o goes through the index library's replace: each case below is a
# fault or a race around FILE, with the exit status, a text of the message,
# and FILE's state after it (unchanged byte for byte, or the sorted text);
# no temporary or lock file may be left.  Usage: hwsort_output_test.sh HWSORT
set -u
hwsort=$(realpath "${1:?Usage: hwsort_output_test.sh HWSORT}")
source "$(dirname "$0")/../lib/checks.sh"
scratch
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
chmod 755 "$work"

fresh() {
  case_name="$1"
  mkdir -p "$work/$1" && cd "$work/$1" || exit 1
  printf 'old\n' >out
  printf 'b\nc\na\n' >in
}

# check STATUS TEXT unchanged|sorted FILE
check() {
  local status="$1" text="$2" want="$3" file="$4"
  [ "$got" = "$status" ] || fail "status $got, want $status: $(cat err)"
  if [ -z "$text" ]; then
    [ ! -s err ] || fail "unexpected message: $(cat err)"
  else
    grep -qF -- "$text" err || fail "message lacks '$text': $(cat err)"
  fi
  case "$want" in
    unchanged) [ "$(cat "$file")" = old ] || fail "$file changed" ;;
    sorted) [ "$(cat "$file")" = "$(printf 'a\nb\nc')" ] || fail "$file: $(cat "$file")" ;;
  esac
  local left
  left=$(ls -A | grep -E '\.orlixdb-(tmp\.[0-9]+|lock)$')
  [ -z "$left" ] || fail "left behind: $left"
}

run() { "$@" >/dev/null 2>err </dev/null; got=$?; }

#    case                 setup                                   run                                   status message                     FILE
fresh plain;                                                      run "$hwsort" -o out in;              check 0 ""                        sorted out
fresh through_a_link;     mv out real; ln -s real out;            run "$hwsort" -o out in;              check 0 ""                        sorted real
[ -L out ] || fail "the link was replaced"
fresh link_to_nowhere;    rm out; ln -s gone out;                 run "$hwsort" -o out in;              check 2 "out: is a link that leads nowhere" none x
[ ! -e gone ] || fail "the link's destination was created"
fresh directory;          rm out; mkdir out;                      run "$hwsort" -o out in;              check 2 "out: is a directory, not a file" none x
# A pipe, a device or standard output is written to directly, as sort does.
fresh fifo;               rm out; mkfifo out; cat out >got &      run timeout 60 "$hwsort" -o out in;   check 0 ""                        sorted got
[ -p out ] || fail "the FIFO was replaced"
fresh dev_stdout;         "$hwsort" -o /dev/stdout in 2>err | cat >got; got=$?;                    check 0 ""                        sorted got
fresh dev_stdout_file;    "$hwsort" -o /dev/stdout in 2>err >got; got=$?;                           check 0 ""                        sorted got
fresh dev_null;                                                   run "$hwsort" -o /dev/null in;        check 0 ""                        unchanged out
[ -c /dev/null ] || fail "/dev/null was replaced"
# -o with no input named would wait on the terminal: refused, FILE untouched.
fresh terminal;           script -qec "'$hwsort' -o out 2>err" /dev/null >/dev/null; got=$?;      check 2 "-o without a FILE to read would read the terminal" unchanged out
fresh mode_kept;          chmod 640 out;                          run "$hwsort" -o out in;              check 0 ""                        sorted out
[ "$(stat -c %a out)" = 640 ] || fail "mode $(stat -c %a out)"

# A file-size limit below the output (bash counts -f in KiB), SIGXFSZ at
# its default disposition, as a user's shell leaves it: hwsort itself
# ignores it, so the write fails with a message instead of killing it.
fresh file_size_limit;    seq 1 3000 >in
(ulimit -f 4; "$hwsort" -o out in >/dev/null 2>err </dev/null); got=$?
check 2 "out: cannot write its temporary: File too large" unchanged out

# A read-only directory; as root, run as the user nobody, for root writes anywhere.
as_user=()
if [ "$(id -u)" = 0 ]; then
  command -v setpriv >/dev/null || { echo "FAIL: setpriv is needed to run as nobody"; exit 1; }
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
fi
fresh read_only_directory
[ ${#as_user[@]} = 0 ] || chown -R 65534:65534 .
chmod 555 .
run "${as_user[@]}" "$hwsort" -o out in; check 2 "out: cannot create its temporary: Permission denied" unchanged out
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
got=0; : >err; check 0 "" none list

finish "hwsort -o"
