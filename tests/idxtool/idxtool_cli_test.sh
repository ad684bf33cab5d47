#!/usr/bin/env bash
# idxtool's command line: each line below is a command, its exit status and
# a text its output must contain.  Usage: idxtool_cli_test.sh IDXTOOL
set -u
tool="$1"
source "$(dirname "$0")/cli_checks.sh"

printf 'banana\t2\napple\t1\nApple\t3\ntab\\there\t4\n\\xE9t\\xE9\t5\n' >a.txt
printf 'cherry\t9\napple\t1\n' >b.txt
printf 'fine\t1\nbad\\q\t2\n' >bad.txt
printf 'NOTANINDEX-----------' >junk.idx

expect 0 "usage: idxtool"          --help
expect 2 "no command"
expect 2 "unknown command"         frobnicate
expect 2 "wrong number"            dump
expect 0 "a.idx: 5 records"        build a.idx a.txt
expect 1 "a.idx: out of order: record 1 (banana	2) sorts after record 2 (apple	1)" check a.idx
expect 0 "b.idx: 2 records"        build b.idx - <b.txt
expect 1 "bad.txt:2: unknown escape" build c.idx bad.txt
expect 1 "missing.txt: cannot open" build c.idx missing.txt
expect 1 "missing.idx: no such file" dump missing.idx
expect 1 "junk.idx: not an index file (wrong magic)" check junk.idx
expect 0 "a.idx: ok, 6 records"    merge a.idx b.idx missing.idx
expect 0 "missing.idx: no such file, counted as empty" merge a.idx missing.idx b.idx
expect 0 "a.idx: ok, 6 records in order" check a.idx
expect 1 "junk.idx: not an index file (wrong magic)" merge a.idx b.idx junk.idx
expect 0 "none.idx: ok, nothing to index" merge none.idx missing.idx

# The dump is the text form: it builds the same file again.
"$tool" dump a.idx >dump.txt
"$tool" build again.idx dump.txt >/dev/null
cmp -s a.idx again.idx || fail "dump does not round-trip"
printf 'Apple\t3\napple\t1\nbanana\t2\ncherry\t9\n\\xE9t\\xE9\t5\ntab\\there\t4\n' >want.txt
cmp -s dump.txt want.txt || { fail "merged dump:"; cat dump.txt; }

# A flipped bit in a.idx is reported, and merge leaves a.idx as it was.
cp a.idx flipped.idx
printf '\x00' | dd of=flipped.idx bs=1 seek=20 conv=notrunc status=none
cp flipped.idx before.idx
expect 1 "flipped.idx: checksum mismatch" check flipped.idx
expect 1 "flipped.idx: checksum mismatch" merge flipped.idx b.idx
cmp -s flipped.idx before.idx || fail "damaged target changed"
ls ./*.orlixdb-tmp.* >/dev/null 2>&1 && fail "temporary left"

finish idxtool
