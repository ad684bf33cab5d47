#!/usr/bin/env bash
# Tests of hwsort: each case is one line of facts: arguments, standard
# input (printf format), expected standard output (printf format) and
# expected exit status.  Then the cases that need files of their own.
# Usage: hwsort_test.sh HWSORT
set -uo pipefail

hwsort=$(realpath "${1:?Usage: hwsort_test.sh HWSORT}")
source "$(dirname "$0")/../lib/checks.sh"
scratch

# sorts ARGS INPUT OUTPUT STATUS
sorts() {
  local args=$1 input=$2 output=$3 status=$4
  printf -- "$input" > "$work/in"
  printf -- "$output" > "$work/want"
  # shellcheck disable=SC2086
  (cd "$work" && "$hwsort" $args < in > got 2> err)
  local got=$?
  [ "$got" -eq "$status" ] || fail "hwsort $args <<< '$input': status $got, want $status ($(cat "$work/err"))"
  cmp -s "$work/got" "$work/want" ||
    fail "hwsort $args <<< '$input': output $(od -An -c "$work/got" | tr -s ' '), want $(od -An -c "$work/want" | tr -s ' ')"
}

#      args    input                                  output                                  status
# Headword order: case after letters, digits and punctuation as tie-breaks.
sorts  ""      'abd\nabc\nABC\n'                      'ABC\nabc\nabd\n'                       0
sorts  ""      'b@1\na@2\na@10\na@9\na\n'             'a\na@2\na@9\na@10\nb@1\n'              0
sorts  ""      'a1b\n1a\nab\na1\n'                    'a1\n1a\nab\na1b\n'                     0
sorts  ""      'ab\na b\n'                            'a b\nab\n'                             0
sorts  ""      'a-B\nab\n-Ab\n'                       '-Ab\nab\na-B\n'                        0
# Stable: lines that compare equal keep input order, also reversed.
sorts  ""      'abc \n  abc\nabc\nabc@\n'             'abc \n  abc\nabc\nabc@\n'              0
sorts  "-r"    'abc \nabd\n  abc\n'                   'abd\nabc \n  abc\n'                    0
sorts  "-r"    'ABC\nabc\nabd\n'                      'abd\nabc\nABC\n'                       0
# -u keeps the first of each run of equal lines.
sorts  "-u"    'abc \nabd\n  abc\nabc\n'              'abc \nabd\n'                           0
sorts  "-u -r" 'x\nabc \nabd\n  abc\n'                'x\nabd\nabc \n'                        0
# Separators: a last line without one gets one; -z uses NUL both ways.
sorts  ""      'b\na'                                 'a\nb\n'                                0
sorts  ""      ''                                     ''                                      0
sorts  ""      '\n\n'                                 '\n\n'                                  0
sorts  "-z"    'b\na\000a\n\000c'                     'a\n\000b\na\000c\000'                  0
# A NUL inside a line ends its key; the whole line is written.
sorts  ""      'b\000a\na\000z\n'                     'a\000z\nb\000a\n'                      0
sorts  ""      'ab\000zz\nab\000aa\n'                 'ab\000zz\nab\000aa\n'                  0
# Bytes of every class come through unchanged.
sorts  ""      '\351\ne\n\t\n'                        '\t\n\351\ne\n'                         0
# -t SEP -k N[,M]: fields as sort(1) counts them; equal keys keep input
# order; a line short of fields has an empty key.
sorts  "-t \t -k 1,1" 'b\t1\na\t9\nB\t3\na\t1\n'    'a\t9\na\t1\nB\t3\nb\t1\n'          0
sorts  "-t \t -k 2"   'x\tb\ny\ta\nz\n'                'z\ny\ta\nx\tb\n'                  0
sorts  "-t , -k 2,3"   'a,b,c,d\nb,a,z\nc,b,b\n'          'b,a,z\nc,b,b\na,b,c,d\n'          0
sorts  "-t , -k 3,3 -r" 'a,b,c\nb,a,z\nc\n'               'b,a,z\na,b,c\nc\n'                0
sorts  "-t , -k 1,1 -u" 'a,2\nb,1\na,1\n'                 'a,2\nb,1\n'                        0
sorts  "-k 2"          'x  b\ny a\n'                        'y a\nx  b\n'                       0
sorts  "-k 1,1"        'b z\na y\na x\n'                   'a y\na x\nb z\n'                  0
sorts  "-c -t , -k 2"  'x,a\na,b\n'                         ''                                    0
sorts  "-c -t , -k 2"  'a,b\nx,a\n'                         ''                                    1
sorts  "-t : -k 2,2"   'no separator\nk:b\nj:a\n'          'no separator\nj:a\nk:b\n'         0
# Several -k: lines whose key compares equal go to the next key.
sorts  "-t , -k 2,2 -k 1,1" 'b,x\na,x\nc,a\nB,x\n'      'c,a\na,x\nB,x\nb,x\n'          0
sorts  "-t , -k 2,2 -k 1,1 -r" 'b,x\na,x\nc,a\n'        'b,x\na,x\nc,a\n'                0
sorts  "-t , -k 2,2 -k 1,1 -u" 'b,x\na,x\nb,x\n'        'a,x\nb,x\n'                      0
sorts  "-c -t , -k 2,2 -k 1,1" 'c,a\nb,x\na,x\n'        ''                                    1
sorts  "-c -t , -k 2,2 -k 1,1" 'c,a\na,x\nb,x\n'        ''                                    0
# What sort users type: -s (always stable), -S and -T accepted; -m merges.
sorts  "-s"    'b\na\n'                              'a\nb\n'                               0
sorts  "--buffer-size=2G --temporary-directory=." 'b\na\n' 'a\nb\n'                        0
sorts  "-m"    'a\nc\n'                              'a\nc\n'                               0
# -c: exit 1 on the first line out of order, 0 when sorted; -C silently.
sorts  "-C"    'a\nc\nb\n'                            ''                                      1
sorts  "--check=quiet" 'a\nc\nb\n'                    ''                                      1
sorts  "--check=silent" 'a\nb\n'                       ''                                      0
sorts  "-c -o x" 'a\n'                                 ''                                      2
sorts  "-c -m" 'a\n'                                   ''                                      2
sorts  "-c"    'a\nb\nb\n'                            ''                                      0
sorts  "-c -u" 'a\nb\nb\n'                            ''                                      1
sorts  "-c"    'a\nc\nb\n'                            ''                                      1
sorts  "--check" 'a\nc\nb\n'                          ''                                      1
sorts  "-cr"   'c\nb\na\n'                            ''                                      0
sorts  "-c"    ''                                     ''                                      0
# Misuse.
sorts  "-x"    'a\n'                                  ''                                      2
sorts  "--bogus" 'a\n'                                ''                                      2
sorts  "-o"    'a\n'                                  ''                                      2
sorts  "missing-file" 'a\n'                           ''                                      2
sorts  "-c in in" 'a\n'                               ''                                      2
sorts  "-S 1K" 'a\n'                                  ''                                      2
sorts  "-S 5Q" 'a\n'                                  ''                                      2
sorts  "-S 0%" 'a\n'                                  ''                                      2
sorts  "-c -m" 'a\n'                                  ''                                      2
# -S and -T: input that fits the buffer needs no directory.
sorts  "-S 4K -T /nonexistent" 'b\na\n'                'a\nb\n'                                0
sorts  "-S 1% -r" 'a\nb\n'                             'b\na\n'                                0
# -m: each file in order already; on a tie the earlier file's line first.
sorts  "-m - in" 'a\nc\n'                              'a\na\nc\nc\n'                        0
sorts  "-m -u - in" 'a\nc\n'                           'a\nc\n'                                0

# -c names the file and the line out of order.
printf 'a\nc\nb\n' > "$work/list"
"$hwsort" -c "$work/list" 2> "$work/err"; status=$?
[ "$status" -eq 1 ] || fail "-c on a file: status $status"
grep -qxF "hwsort: $work/list:3: disorder: b" "$work/err" || fail "-c message: $(cat "$work/err")"

# -C says nothing; -m merges sorted files, ties from the first.
[ -z "$(printf 'b\na\n' | "$hwsort" -C 2>&1)" ] || fail "-C said something"
printf 'a@1\nc\n' >"$work/m1"
printf 'a@01\nb\nd\n' >"$work/m2"
[ "$("$hwsort" -m "$work/m1" "$work/m2" | paste -sd,)" = "a@1,a@01,b,c,d" ] || fail "-m: $("$hwsort" -m "$work/m1" "$work/m2")"

# Several files are one input; options may follow the names; "-" is stdin.
printf 'd\nb' > "$work/one"
printf 'c\n' > "$work/two"
printf 'a\n' | "$hwsort" "$work/one" - "$work/two" -o "$work/out" || fail "files and stdin: status $?"
[ "$(cat "$work/out")" = "$(printf 'a\nb\nc\nd')" ] || fail "files and stdin: $(cat "$work/out")"

# -o may name an input; its permissions survive.
printf 'b\na\n' > "$work/same"
chmod 640 "$work/same"
"$hwsort" -o "$work/same" "$work/same" || fail "-o over the input: status $?"
[ "$(cat "$work/same")" = "$(printf 'a\nb')" ] || fail "-o over the input: $(cat "$work/same")"
[ "$(stat -c %a "$work/same")" = 640 ] || fail "-o mode: $(stat -c %a "$work/same")"

# A failed -o leaves the file as it was and no temporary file behind.
mkdir "$work/ro"
printf 'old\n' > "$work/ro/keep"
chmod 555 "$work/ro"
if [ ! -w "$work/ro" ]; then # root writes anywhere: the case cannot be made
  printf 'new\n' | "$hwsort" -o "$work/ro/keep" 2> /dev/null && fail "-o into a read-only directory succeeded"
  [ "$(cat "$work/ro/keep")" = old ] || fail "-o failure changed the file"
  [ "$(ls "$work/ro")" = keep ] || fail "-o failure left $(ls "$work/ro")"
fi
chmod 755 "$work/ro"
printf 'new\n' | "$hwsort" -o "$work/ro/keep/x" 2> /dev/null && fail "-o under a file succeeded"
[ "$(ls "$work/ro")" = keep ] || fail "-o failure left $(ls "$work/ro")"

# Writing to a full device fails with status 2.
if [ -w /dev/full ]; then
  printf 'a\n' | "$hwsort" > /dev/full 2> /dev/null; status=$?
  [ "$status" -eq 2 ] || fail "write to /dev/full: status $status"
fi

# Keys of every byte class, in enough lines for the staged sort of large
# inputs: the output is a permutation of the input, hwsort -c accepts it,
# and sorting it again changes nothing.
LC_ALL=C awk 'BEGIN {
  srand(7); split("a b A B e 1 9 - + . @ @1 @22", parts, " ")
  for (i = 0; i < 70000; i++) {
    n = int(rand() * 6); line = ""
    for (k = 0; k < n; k++) {
      r = rand()
      if (r < 0.08) line = line " "; else if (r < 0.12) line = line "\351";
      else line = line parts[1 + int(rand() * 13)]
    }
    print line
  }
}' > "$work/many"
"$hwsort" "$work/many" > "$work/many.sorted" || fail "many: status $?"
cmp -s <(LC_ALL=C sort "$work/many") <(LC_ALL=C sort "$work/many.sorted") || fail "many: not a permutation"
"$hwsort" -c "$work/many.sorted" || fail "many: -c rejects the output"
"$hwsort" "$work/many.sorted" | cmp -s - "$work/many.sorted" || fail "many: sorting again changed the order"
# Among keys of letters and "@" suffixes the order is a total preorder that
# sort can state: letters folded, then the bytes (upper case first), then
# the suffix as a number, ties kept in input order.  Enough lines for the
# staged sort of large inputs.
LC_ALL=C awk 'BEGIN {
  srand(11); split("a b A B", letters, " ")
  for (i = 0; i < 70000; i++) {
    n = 1 + int(rand() * 4); line = ""
    for (k = 0; k < n; k++) line = line letters[1 + int(rand() * 4)]
    if (rand() < 0.5) line = line "@" int(rand() * 30)
    print line
  }
}' > "$work/words"
"$hwsort" "$work/words" > "$work/words.sorted" || fail "words: status $?"
LC_ALL=C sort -s -t@ -k1,1f -k1,1 -k2,2n "$work/words" | cmp -s - "$work/words.sorted" ||
  fail "words: not the order of letters, case, suffix"
"$hwsort" -u "$work/words" > "$work/words.unique" || fail "words -u: status $?"
"$hwsort" -c -u "$work/words.unique" || fail "words: -c -u rejects the -u output"
[ "$(wc -l < "$work/words.unique")" -lt 70000 ] || fail "words -u: nothing dropped"
"$hwsort" --help | grep -q '^Usage: hwsort' || fail "--help"
# Beyond the buffer, runs in a temporary directory give the in-memory order
# byte for byte, and leave nothing there; -m of sorted halves is the sort.
mkdir "$work/runs"
for args in "-S 4K" "-S 64K -r" "-S 16K -u" "-S 8K -t @ -k 2"; do
  for file in many words; do
    # shellcheck disable=SC2086
    "$hwsort" $args -T "$work/runs" "$work/$file" > "$work/ext" || fail "$args $file: status $?"
    # shellcheck disable=SC2086
    "$hwsort" ${args#-S * } "$work/$file" | cmp -s - "$work/ext" || fail "$args $file: not the in-memory order"
  done
done
[ -z "$(ls -A "$work/runs")" ] || fail "runs left: $(ls -A "$work/runs")"
head -n 30000 "$work/words" | "$hwsort" > "$work/half1"
tail -n +30001 "$work/words" | "$hwsort" > "$work/half2"
"$hwsort" -m "$work/half1" "$work/half2" | cmp -s - "$work/words.sorted" || fail "-m: not the sort of the whole"
# A run directory that cannot be written, or that fills: status 2, the
# directory named, -o's file and the directory as they were.
printf 'old\n' > "$work/kept"
"$hwsort" -S 4K -T "$work/absent" -o "$work/kept" "$work/many" 2> "$work/err"; status=$?
[ "$status" -eq 2 ] && grep -qF "$work/absent" "$work/err" || fail "-T absent: status $status ($(cat "$work/err"))"
(ulimit -f 16; exec "$hwsort" -S 4K -T "$work/runs" -o "$work/kept" "$work/many") 2> /dev/null
[ "$(cat "$work/kept")" = old ] || fail "a full run directory changed -o's file"
[ -z "$(ls -A "$work/runs")" ] || fail "runs left after a failure: $(ls -A "$work/runs")"
# idxtool build's text sorted by its key is what build writes.
awk 'BEGIN { srand(3); for (i = 0; i < 3000; i++) printf "k%d\t%d\n", int(rand() * 900), i }' >"$work/text"
"$hwsort" -t '\t' -k 1,1 "$work/text" >"$work/text.sorted" || fail "-t -k on text: status $?"
"$hwsort" -c -t '\t' -k 1,1 "$work/text.sorted" || fail "-c -t -k rejects its own output"
cut -f1 "$work/text.sorted" | "$hwsort" -c || fail "-k 1,1: the keys are not in order"
# --help is an option only where an option stands: as -o's file name or
# after "--" it names a file.
"$hwsort" -u --help | grep -q '^Usage: hwsort' || fail "-u --help"
(cd "$work" && rm -f ./--help && printf 'b\na\n' | "$hwsort" -o --help > out 2> err) ||
  fail "-o --help: status $? ($(cat "$work/err"))"
[ "$(cat "$work/--help" 2>/dev/null)" = $'a\nb' ] && [ ! -s "$work/out" ] ||
  fail "-o --help: did not write the file --help: $(head -c 100 "$work/out")"
(cd "$work" && rm -f ./--help && printf 'b\na\n' | "$hwsort" -uo --help > out 2> err) &&
  [ "$(cat "$work/--help" 2>/dev/null)" = $'a\nb' ] || fail "-uo --help: did not write the file --help"
(cd "$work" && printf 'b\na\n' > ./--help && "$hwsort" -- --help > out 2> err) &&
  [ "$(cat "$work/out")" = $'a\nb' ] || fail "-- --help: did not sort the file --help"

finish hwsort
