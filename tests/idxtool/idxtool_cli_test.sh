#!/usr/bin/env bash
# idxtool's command line: each line below is a command, its exit status and
# a text its output must contain.  Usage: idxtool_cli_test.sh IDXTOOL
set -u
tool=$(realpath "$1")
source "$(dirname "$0")/../lib/checks.sh"
scratch

printf 'banana\t2\napple\t1\nApple\t3\ntab\\there\t4\n\\xE9t\\xE9\t5\n' >a.txt
printf 'cherry\t9\napple\t1\n' >b.txt
printf 'fine\t1\nbad\\q\t2\n' >bad.txt
printf 'NOTANINDEX-----------' >junk.idx

ix 0 "Usage: idxtool"          --help
ix 2 "no command"
ix 2 "unknown command"         frobnicate
ix 2 "dump: expects FILE"     dump
ix 0 "a.idx: 5 records, in the order given" build --keep-order a.idx a.txt
ix 1 "a.idx: out of order: record 1 (banana	2) sorts after record 2 (apple	1)" check a.idx
ix 0 "b.idx: 2 records"        build b.idx - <b.txt
ix 1 "bad.txt:2: unknown escape" build c.idx bad.txt
ix 1 "missing.txt: open: No such file or directory" build c.idx missing.txt
ix 1 "missing.idx: no such file" dump missing.idx
long=$(printf 'd%.0s' $(seq 200))/$(printf 'e%.0s' $(seq 200))
mkdir -p "$long"
ix 1 "idxtool: $long/missing.txt: open: No such file or directory" build c.idx "$long/missing.txt"
ix 1 "idxtool: $long/x.idx/y.idx: cannot create its temporary: No such file" build "$long/x.idx/y.idx" a.txt
ix 1 "junk.idx: not an index file (wrong magic)" check junk.idx
ix 1 "a.idx: ok, 6 records"    merge a.idx b.idx missing.idx
ix 1 "missing.idx: no such file, counted as empty" merge a.idx missing.idx b.idx
ix 0 "a.idx: ok, 6 records"    merge --missing-ok a.idx missing.idx b.idx
ix 0 "new.idx: ok, created, 2 records" merge new.idx b.idx
ix 0 "a.idx: ok, 6 records in order" check a.idx
ix 1 "junk.idx: not an index file (wrong magic)" merge a.idx b.idx junk.idx
ix 1 "none.idx: ok, nothing to index" merge none.idx missing.idx

# build sorts, records of equal keys in their order in the text; -q is
# silent; --force replaces what is not an index; keys that compare
# cyclically still give an index that passes check.
ix 0 "s.idx: 5 records, in headword order" build s.idx a.txt
ix 0 "s.idx: ok, 5 records in order" check s.idx
printf 'b\t1\na\t3\nA\t4\na\t2\n' >equal.txt
"$tool" build -q e.idx equal.txt >quiet.txt || fail "build -q: $?"
[ -s quiet.txt ] && fail "build -q printed: $(cat quiet.txt)"
ix 0 "$(printf 'A\t4\na\t3\na\t2\nb\t1')" dump e.idx
printf -- '-\t1\n-- \t2\n+ -\t3\nx\t4\n' >cyclic.txt
ix 0 "cyc.idx: 4 records, in headword order" build cyc.idx cyclic.txt
ix 0 "cyc.idx: ok, 4 records in order" check cyc.idx
ix 1 "junk.idx exists and is not an index; --force replaces it" build junk.idx b.txt
ix 0 "junk.idx: 2 records, in headword order; it was not an index" build --force junk.idx b.txt
ix 1 "s.idx exists and is an index of 5 records; --force replaces it, merge adds to it" build s.idx b.txt
ix 0 "s.idx: 2 records, in headword order; it was an index of 5 records" build --force s.idx b.txt
: >empty.idx
ix 0 "empty.idx: 2 records, in headword order" build empty.idx b.txt
# A text saved by a Windows editor: the byte-order mark is skipped and said,
# CRLF line ends kept working, and find reaches the first key.
printf '\xEF\xBB\xBFbank\t1\r\nbang\t2\r\n' >bom.txt
ix 0 "idxtool: bom.txt: skipped the UTF-8 byte-order mark at its start" build bom.idx bom.txt
ix 0 "$(printf 'bang\t2\nbank\t1')" dump bom.idx
ix 0 "$(printf 'bank\t1')" find bom.idx bank
printf 'bank\t1\n\xEF\xBB\xBFbang\t2\n' >bom2.txt
ix 1 "bom2.txt:2: key starts with a byte-order mark (U+FEFF)" build bom2.idx bom2.txt
# What is shown is the bytes: invisible and direction-changing characters
# are escaped, and the dump builds the same index again.
printf 'a\xE2\x80\xAEb\t1\nc\xE2\x80\x8Bd\xC2\xA0\t2\n' >hidden.txt
"$tool" build hidden.idx hidden.txt >/dev/null
ix 0 "$(printf 'a\\xE2\\x80\\xAEb\t1\nc\\xE2\\x80\\x8Bd\\xC2\\xA0\t2')" dump hidden.idx
"$tool" build hidden2.idx out.txt >/dev/null && cmp -s hidden.idx hidden2.idx || fail "the escaped dump does not build the same index"
ix 0 'a\xE2\x80\xAEb' find hidden.idx 'a\xE2\x80\xAEb'
ix 0 "first key:  'a\xE2\x80\xAEb'" explain 'a\xE2\x80\xAEb' x
mkfifo fifo && mkdir dir
ix 1 "idxtool: fifo: is a FIFO, not a file" build fifo b.txt
ix 1 "idxtool: dir: is a directory, not a file" build dir b.txt
[ -p fifo ] && [ -d dir ] || fail "build replaced a FIFO or a directory"
printf 'NOTANINDEX-----------' >junk.idx
"$tool" merge -q quiet.idx b.idx >quiet.txt || fail "merge -q: $?"
[ -s quiet.txt ] && fail "merge -q printed: $(cat quiet.txt)"
# Standard output that takes nothing is a failure, not a success.
if [ -w /dev/full ]; then
  #      status  command
  while read -r status command; do
    expect "$status" "idxtool: standard output: write: No space left on device" \
      sh -c '"$0" $1 >/dev/full' "$tool" "$command"
  done <<'FULL'
1 dump a.idx
1 merge --dry-run a.idx b.idx
1 explain a b
1 find a.idx apple
1 check --lookup a.idx
1 --version
FULL
fi

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
ix 1 "flipped.idx: checksum mismatch" check flipped.idx
ix 1 "flipped.idx: checksum mismatch" merge flipped.idx b.idx
cmp -s flipped.idx before.idx || fail "damaged target changed"
ls ./*.orlixdb-tmp.* >/dev/null 2>&1 && fail "temporary left"

finish idxtool
