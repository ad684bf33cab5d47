#!/usr/bin/env bash
# idxtool's editor commands on the command line: each `expect` line is a
# command, its exit status and a text its output must contain; each
# `find_gives` line an index, a key and the records found, in index order.
# Usage: editor_cli_test.sh IDXTOOL
set -u
tool=$(realpath "$1")
source "$(dirname "$0")/../lib/checks.sh"
scratch

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
"$tool" build --keep-order unsorted.idx bank.txt >/dev/null
"$tool" merge bank.idx unsorted.idx >/dev/null
printf -- '-\t1\n-- \t2\n+ -\t3\nx\t4\n' >cyclic.txt
"$tool" build --keep-order cyclic.idx cyclic.txt >/dev/null
printf 'apple\t1\nbanana\t2\n' >a.txt
printf 'banana\t2\ncherry\t3\n' >b.txt
"$tool" build a.idx a.txt >/dev/null
"$tool" build b.idx b.txt >/dev/null
printf 'NOTANINDEX-----------' >junk.idx
mkdir dir

# explain: first line RESULT<TAB>RULE; keys may begin with '-'; escapes.
ix 0 $'1\tinner punctuation'      explain co-op coop
ix 0 $'-32\tcase'                 explain -Bank bank
ix 0 $'1\tleading punctuation'    explain -Bank Bank
ix 0 $'8\tdigits'                 explain a9 A1
ix 0 $'-23\tletters'              explain 'a\tb' 'a b'
ix 0 $'-1\trest'                  explain '\xE9' e
ix 0 $'1\tsuffix'                 explain 'a@10' 'a@9'
ix 0 $'0\tequal'                  explain '  abc' 'abc '
ix 0 $'0\tequal'                  explain -- -- --
ix 0 "the upper-case letter sorts first" explain ABC abc
ix 2 "unknown escape"             explain 'a\q' b
ix 2 "a key cannot hold a NUL"    explain '\x00' b
ix 2 "explain: expects KEY1 KEY2, not 1 operand" explain onlyone
ix 2 "explain: expects KEY1 KEY2, not 3 operands" explain a b c

# find: every record differing only in case and suffix, in index order.
find_gives bank.idx bank   $'BANK\t3|Bank\t2|Bank@2\t5|bank\t1|\\x20bank\t6|bank@\t7|bank@1\t4'
find_gives bank.idx BANK@9 $'BANK\t3|Bank\t2|Bank@2\t5|bank\t1|\\x20bank\t6|bank@\t7|bank@1\t4'
find_gives bank.idx -bank  $'-Bank\t12|-bank\t8'
find_gives bank.idx 'bank\x202' $'bank 2\t10'
find_gives bank.idx bankx  ''
printf 'bank@3\t1\nbank\\t@6\t2\nBank\t3\nbank\\t\t4\nbanks\t5\n-bank\t6\n' >edge.txt
"$tool" build edge.idx edge.txt >/dev/null
for key in bank 'bank ' 'bank\t' ' \t bank\t '; do
  find_gives edge.idx "$key" $'Bank\t3|bank\\t\t4|bank@3\t1|bank\\t@6\t2'
done
ix 1 "no record of 'bankx'"       find bank.idx bankx
ix 1 "unsorted.idx: not in headword order at record 2; see idxtool check" find unsorted.idx bank
ix 1 "missing.idx: no such file"  find missing.idx bank
ix 1 "junk.idx: not an index file" find junk.idx bank
ix 1 "dir: is a directory, not a file" find dir bank
ix 1 "dir: is a directory, not a file" dump dir
ix 1 "dir: is a directory, not a file" check --lookup dir
ix 2 "unknown escape"             find bank.idx 'b\q'
ix 2 "find: expects FILE KEY, not 1 operand" find bank.idx

# check --lookup: the ordinary checks first, then every key looked up.
ix 0 "0 of 13 keys not found by binary search" check --lookup bank.idx
ix 1 "1 of 4 keys not found by binary search"  check --lookup cyclic.idx
ix 1 "record 1 '-' is not found by binary search: at record 3 '+ -' the collation gave 2 (leading punctuation) and the search went right" check --lookup cyclic.idx
ix 1 "out of order"                check --lookup unsorted.idx
ix 1 "junk.idx: not an index file" check --lookup junk.idx
ix 0 "ok, 4 records in order"      check cyclic.idx

# merge --dry-run: the figures, and nothing written.
cp a.idx before.idx
ix 0 "already present: 1 record"  merge --dry-run a.idx b.idx
grep -q "1 records" out.txt && fail "counts do not agree in number: $(cat out.txt)"
ix 0 "result:          3 records"  merge --dry-run a.idx b.idx
ix 1 "a.idx would be rewritten"    merge --dry-run a.idx b.idx missing.idx
ix 1 "missing.idx: no such file, counted as empty" merge --dry-run a.idx b.idx missing.idx
ix 0 "a.idx would be rewritten"    merge --dry-run --missing-ok a.idx b.idx missing.idx
ix 1 "gone.idx: no such file, counted as empty" merge --dry-run a.idx gone.idx junk.idx
cmp -s a.idx before.idx || fail "merge --dry-run changed the target"
ix 0 "a.idx would stay as it is"   merge --dry-run a.idx a.idx
ix 0 "new.idx would be created"    merge --dry-run new.idx a.idx
grep -q "counted as empty" out.txt && fail "a missing target was named as a missing source"
[ -e new.idx ] && fail "merge --dry-run created the target"
ix 1 "no file would be written"    merge --dry-run none.idx missing.idx
ix 1 "junk.idx: not an index file (wrong magic); a merge would stop here" merge --dry-run a.idx b.idx junk.idx
ix 2 "merge: expects TARGET SOURCE..., not 0 operands" merge --dry-run
# The real merge then does what the dry run said.
ix 0 "a.idx: ok, 3 records"        merge a.idx b.idx
ix 0 "a.idx would stay as it is"   merge --dry-run a.idx b.idx
ls ./*.orlixdb-tmp.* >/dev/null 2>&1 && fail "temporary left"

# --help lists every command.
for command in "explain KEY1 KEY2" "find FILE KEY" "check [OPTION]... FILE" "--lookup" "merge [OPTION]... TARGET SOURCE..." "--dry-run"; do
  ix 0 "$command" --help
done

finish "idxtool editor commands"
