#!/usr/bin/env bash
# idxtool's editor commands on the command line: each `expect` line is a
# command, its exit status and a text its output must contain; each
# `find_gives` line an index, a key and the records found, in index order.
# Usage: editor_cli_test.sh IDXTOOL
set -u
tool="$1"
source "$(dirname "$0")/cli_checks.sh"

# find_gives INDEX KEY RECORDS: the records (dump lines joined by '|') find prints.
find_gives() {
  local index="$1" key="$2" want="$3"
  "$tool" find "$index" "$key" >found.txt 2>find.err
  local got=$? text
  text=$(paste -sd'|' found.txt)
  if [ "$text" != "$want" ] || [ "$got" -ne $([ -n "$want" ] && echo 0 || echo 1) ]; then
    fail "find $index '$key' -> $got '$text' (want '$want')"; cat find.err
  fi
}

printf 'bank\t1\nBank\t2\nBANK\t3\nbank@1\t4\nBank@2\t5\n bank\t6\nbank@\t7\n-bank\t8\nbank-\t9\nbank 2\t10\nbanks\t11\n-Bank\t12\nban\t13\n' >bank.txt
"$tool" build unsorted.idx bank.txt >/dev/null
"$tool" merge bank.idx unsorted.idx >/dev/null
printf -- '-\t1\n-- \t2\n+ -\t3\nx\t4\n' >cyclic.txt
"$tool" build cyclic.idx cyclic.txt >/dev/null
printf 'apple\t1\nbanana\t2\n' >a.txt
printf 'banana\t2\ncherry\t3\n' >b.txt
"$tool" build a.idx a.txt >/dev/null
"$tool" build b.idx b.txt >/dev/null
printf 'NOTANINDEX-----------' >junk.idx

# explain: first line RESULT<TAB>RULE; keys may begin with '-'; escapes.
expect 0 $'1\tinner punctuation'      explain co-op coop
expect 0 $'-32\tcase'                 explain -Bank bank
expect 0 $'1\tleading punctuation'    explain -Bank Bank
expect 0 $'8\tdigits'                 explain a9 A1
expect 0 $'-23\tletters'              explain 'a\tb' 'a b'
expect 0 $'-1\trest'                  explain '\xE9' e
expect 0 $'1\tsuffix'                 explain 'a@10' 'a@9'
expect 0 $'0\tequal'                  explain '  abc' 'abc '
expect 0 $'0\tequal'                  explain -- --
expect 0 "the upper-case letter sorts first" explain ABC abc
expect 2 "unknown escape"             explain 'a\q' b
expect 2 "a key cannot hold a NUL"    explain '\x00' b
expect 2 "explain takes two keys"     explain onlyone
expect 2 "explain takes two keys"     explain a b c

# find: every record differing only in case and suffix, in index order.
find_gives bank.idx bank   $'BANK\t3|Bank\t2|Bank@2\t5|bank\t1| bank\t6|bank@\t7|bank@1\t4'
find_gives bank.idx BANK@9 $'BANK\t3|Bank\t2|Bank@2\t5|bank\t1| bank\t6|bank@\t7|bank@1\t4'
find_gives bank.idx -bank  $'-Bank\t12|-bank\t8'
find_gives bank.idx 'bank\x202' $'bank 2\t10'
find_gives bank.idx bankx  ''
expect 1 "no record of 'bankx'"       find bank.idx bankx
expect 2 "missing.idx: no such file"  find missing.idx bank
expect 2 "junk.idx: not an index file" find junk.idx bank
expect 2 "unknown escape"             find bank.idx 'b\q'
expect 2 "find takes a file and a key" find bank.idx

# check --lookup: the ordinary checks first, then every key looked up.
expect 0 "0 of 13 keys not found by binary search" check --lookup bank.idx
expect 1 "1 of 4 keys not found by binary search"  check --lookup cyclic.idx
expect 1 "record 1 '-' is not found by binary search: at record 3 '+ -' the collation gave 2 (leading punctuation) and the search went right" check --lookup cyclic.idx
expect 1 "out of order"                check --lookup unsorted.idx
expect 1 "junk.idx: not an index file" check --lookup junk.idx
expect 0 "ok, 4 records in order"      check cyclic.idx

# merge --dry-run: the figures, and nothing written.
cp a.idx before.idx
expect 0 "added:           1 records"  merge --dry-run a.idx b.idx
expect 0 "already present: 1 records"  merge --dry-run a.idx b.idx
expect 0 "result:          3 records"  merge --dry-run a.idx b.idx
expect 0 "a.idx would be rewritten"    merge --dry-run a.idx b.idx missing.idx
expect 0 "missing.idx: no such file, counted as empty" merge --dry-run a.idx b.idx missing.idx
expect 1 "gone.idx: no such file, counted as empty" merge --dry-run a.idx gone.idx junk.idx
cmp -s a.idx before.idx || fail "merge --dry-run changed the target"
expect 0 "a.idx would stay as it is"   merge --dry-run a.idx a.idx
expect 0 "new.idx would be created"    merge --dry-run new.idx a.idx
grep -q "counted as empty" out.txt && fail "a missing target was named as a missing source"
[ -e new.idx ] && fail "merge --dry-run created the target"
expect 0 "no file would be written"    merge --dry-run none.idx missing.idx
expect 1 "junk.idx: not an index file (wrong magic); a merge would stop here" merge --dry-run a.idx b.idx junk.idx
expect 2 "wrong number of arguments"   merge --dry-run
# The real merge then does what the dry run said.
expect 0 "a.idx: ok, 3 records"        merge a.idx b.idx
expect 0 "a.idx would stay as it is"   merge --dry-run a.idx b.idx
ls ./*.orlixdb-tmp.* >/dev/null 2>&1 && fail "temporary left"

# --help lists every command.
for command in "explain KEY1 KEY2" "find FILE KEY" "check --lookup FILE" "merge --dry-run TARGET"; do
  expect 0 "$command" --help
done

finish "idxtool editor commands"
