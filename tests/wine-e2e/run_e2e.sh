#!/usr/bin/env bash
# End to end under Wine: indexjob.exe with the stand-in OrlixDB.dll beside
# it works on real index files made by the Windows idxtool.exe.
# Usage: run_e2e.sh setup|cleanup|CASE; the environment (ORLIX_*) comes
# from tests/wine-e2e/CMakeLists.txt.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../wine/wine_env.sh"

tool=(wine "$ORLIX_IDXTOOL")
hwsort() { wine "$ORLIX_HWSORT" "$@" >hwsort.out 2>hwsort.err </dev/null; }
hwsort_ok() { hwsort "$@" || die "hwsort $*: $(cat hwsort.err)"; }

# A dictionary directory holding the three indexes built from TEXT files
# in the order of the text (the target is unsorted on purpose; an empty name
# leaves that file out), and the registry pointing at it.
dictionary() {
  fresh "$case_name"
  dir=$PWD
  mkdir app dict && cp "$ORLIX_EXE" "$dir/app/indexjob.exe"
  cp "$ORLIX_DLL" "$dir/app/OrlixDB.dll"
  cd "$dir/dict" || die "no $dir/dict"
  local name text
  for name in 00010301 01010301 7F010301; do
    text="$1"; shift
    [ -z "$text" ] || idxtool_ok build --keep-order "$name.idx" "$here/$text"
  done
  local key='HKLM\SOFTWARE\Quorvane\Orlix'
  wine_reg "$ORLIX_VIEW" add "$key\\System\\InstallInfo" /v CurrentVersion /t REG_SZ /d 6.0 /f ||
    die "reg add CurrentVersion"
  wine_reg "$ORLIX_VIEW" add "$key\\Tessary\\Dict" /v 00010301Path /t REG_SZ \
    /d "Z:$(printf '%s' "$dir/dict" | tr / '\\')" /f || die "reg add 00010301Path"
}

run_job() {
  wine "$dir/app/indexjob.exe" >"$dir/output.txt" 2>&1 </dev/null
  local code=$?
  [ "$code" = 1 ] || die "exit code $code, expected 1: $(head -c 300 "$dir/output.txt")"
  nothing_left
}

expect_dump() {
  idxtool_ok dump 00010301.idx
  cmp -s out.txt "$here/$1" || die "merged index differs: $(diff "$here/$1" out.txt | head -20)"
  idxtool_ok check 00010301.idx
}

case_exports() {
  local dump
  dump=$("$ORLIX_OBJDUMP" -p "$ORLIX_DLL") || die "objdump $ORLIX_DLL"
  local dlls
  dlls=$(imported_dlls "$dump")
  [ "$dlls" = "kernel32.dll msvcrt.dll " ] || die "OrlixDB.dll needs $dlls"
  printf '%s\n' "$dump" | grep -q 'Ordinal Base[[:space:]]*12' || die "ordinal base is not 12"
  printf '%s\n' "$dump" | grep -Eq 'Export Address Table[[:space:]]+0*1$' || die "not exactly one export"
  printf '%s\n' "$dump" | grep -Eq '\[Name Pointer/Ordinal\] Table[[:space:]]+0+$' || die "an export has a name"
  ! grep -aq DbOrdinal12 "$ORLIX_DLL" || die "the name DbOrdinal12 stands in OrlixDB.dll"
}

# Unsorted target, a record repeated across files, ties, suffixes, 0xE9.
case_merge() {
  dictionary target.txt source01.txt source7f.txt
  run_job
  expect_dump expected.txt
  idxtool_ok dump 01010301.idx
  cmp -s out.txt "$here/source01.txt" || die "a source was changed"
}

case_second_run_changes_nothing() {
  dictionary target.txt source01.txt source7f.txt
  run_job
  cp 00010301.idx first.idx
  run_job
  cmp -s first.idx 00010301.idx || die "the second run changed the index"
}

case_missing_target_and_source() {
  dictionary "" "" source7f.txt
  run_job
  idxtool_ok dump 00010301.idx
  [ "$(wc -l <out.txt)" = 6 ] || die "expected the 6 records of the one source: $(cat out.txt)"
  idxtool_ok check 00010301.idx
}

case_nothing_to_index() {
  dictionary "" "" ""
  run_job
  [ ! -e 00010301.idx ] || die "an index was created from nothing"
}

case_corrupt_target_untouched() {
  dictionary target.txt source01.txt source7f.txt
  printf '\x41' | dd of=00010301.idx bs=1 seek=20 conv=notrunc status=none
  cp 00010301.idx before.idx
  run_job
  cmp -s before.idx 00010301.idx || die "the corrupt target was changed"
  ! idxtool check 00010301.idx || die "check accepted a corrupt index"
  grep -q 'checksum mismatch' out.txt || die "check said: $(cat out.txt)"
}

# What a killed run left is removed; a file merely named alike is not.
case_stale_temporary_removed() {
  dictionary target.txt source01.txt source7f.txt
  printf 'torn' >00010301.idx.orlixdb-tmp.4242
  printf 'keep' >00010301.idx.orlixdb-tmp.notapid
  run_job
  [ -f 00010301.idx.orlixdb-tmp.notapid ] || die "an unrelated file was removed"
  expect_dump expected.txt
}

case_corrupt_source_untouched_target() {
  dictionary target.txt source01.txt source7f.txt
  head -c 30 7F010301.idx >cut && mv cut 7F010301.idx
  cp 00010301.idx before.idx
  run_job
  cmp -s before.idx 00010301.idx || die "the target was changed though a source is corrupt"
}

# The Windows idxtool: every key byte survives build and dump.
case_idxtool_round_trip() {
  fresh "$case_name"
  local c
  for c in $(seq 1 255); do
    [ "$c" = 9 ] || [ "$c" = 10 ] || [ "$c" = 92 ] && continue
    printf "k$(printf '\\%03o' "$c")\t$c\n"
  done >raw.txt
  printf 'tab\\there\t1\nnew\\nline\t2\nback\\\\slash\t3\n' >>raw.txt
  idxtool_ok build raw.idx raw.txt
  idxtool_ok dump raw.idx
  cp out.txt dumped.txt
  idxtool_ok build again.idx dumped.txt
  cmp -s raw.idx again.idx || die "dump does not round-trip"
  ! grep -q $'\r' dumped.txt || die "dump wrote CR bytes"
}

# The Windows idxtool has the editor commands too, with the host's answers.
case_idxtool_editor_commands() {
  fresh "$case_name"
  printf 'bank\t1\nBank\t2\n-Bank\t3\nbank@2\t4\nbanks\t5\n' >bank.txt
  printf -- '-\t1\n-- \t2\n+ -\t3\nx\t4\n' >cyclic.txt
  idxtool_ok build --keep-order unsorted.idx bank.txt
  idxtool_ok merge bank.idx unsorted.idx
  idxtool_ok build --keep-order cyclic.idx cyclic.txt
  idxtool_ok explain -Bank bank
  [ "$(head -1 out.txt)" = $'-32\tcase' ] || die "explain: $(cat out.txt)"
  idxtool_ok explain 'a\tb' 'a b'
  [ "$(head -1 out.txt)" = $'-23\tletters' ] || die "explain: $(cat out.txt)"
  idxtool_ok find bank.idx BANK
  [ "$(cat out.txt)" = $'Bank\t2\nbank\t1\nbank@2\t4' ] || die "find: $(cat out.txt)"
  idxtool find bank.idx bang
  [ $? = 1 ] || die "find of a missing headword did not exit 1"
  idxtool find unsorted.idx bank
  [ $? = 1 ] && grep -q 'not in headword order at record 2' out.txt || die "find: $(cat out.txt)"
  printf 'caf\xc3\xa9 \t6\n' >utf8.txt
  idxtool_ok build utf8.idx utf8.txt
  idxtool_ok dump utf8.idx
  [ "$(cat out.txt)" = $'caf\xc3\xa9\\x20\t6' ] || die "dump: $(cat out.txt)"
  # A key and a file name typed in UTF-8 reach idxtool.exe as the same bytes.
  printf 'caf\xc3\xa9\t7\n' >cafe.txt
  LC_ALL=C.UTF-8 idxtool_ok build $'caf\xc3\xa9.idx' cafe.txt
  [ -f $'caf\xc3\xa9.idx' ] || die "build: no file named caf\xc3\xa9.idx: $(ls)"
  LC_ALL=C.UTF-8 idxtool_ok find $'caf\xc3\xa9.idx' $'CAF\xc3\xa9'
  [ "$(cat out.txt)" = $'caf\xc3\xa9\t7' ] || die "find: $(cat out.txt)"
  idxtool check --lookup cyclic.idx
  [ $? = 1 ] && grep -q '1 of 4 keys not found by binary search' out.txt ||
    die "check --lookup: $(cat out.txt)"
  cp bank.idx before.idx
  idxtool merge --dry-run bank.idx cyclic.idx gone.idx
  [ $? = 1 ] || die "merge --dry-run with a missing source did not exit 1"
  grep -q 'added:           4 records' out.txt || die "merge --dry-run: $(cat out.txt)"
  grep -q 'gone.idx: no such file, counted as empty' out.txt || die "merge --dry-run: $(cat out.txt)"
  cmp -s bank.idx before.idx || die "merge --dry-run changed the target"
  idxtool_ok --help
  grep -q -- '--lookup' out.txt || die "--help: $(cat out.txt)"
}

# The Windows hwsort gives the host's bytes: the same order, CRLF line ends
# kept, -o in place, text that builds the same index, and no index touched.
case_hwsort_same_bytes() {
  fresh "$case_name"
  printf 'bank\r\nBank@2\r\n-bank\r\nbanks\r\nBANK\r\nbank@10\r\n\xc3\xa9t\xc3\xa9\r\nco-op\r\ncoop\r\na b\r\nab\r\n' >words.txt
  printf 'a b\r\nab\r\nBANK\r\nBank@2\r\nbank\r\nbank@10\r\n-bank\r\nbanks\r\ncoop\r\nco-op\r\n\xc3\xa9t\xc3\xa9\r\n' >want.txt
  printf 'b\t1\r\na\t2\r\nA\t3\r\n' >text.txt && printf 'A\t3\r\na\t2\r\nb\t1\r\n' >text.want
  idxtool_ok build built.idx text.txt && cp built.idx before.idx
  hwsort_ok -o words.txt words.txt && hwsort_ok -t '\t' -k 1,1 -o text.txt text.txt
  idxtool_ok build --keep-order sorted.idx text.txt
  cmp -s words.txt want.txt && cmp -s text.txt text.want && cmp -s built.idx sorted.idx ||
    die "not the host's bytes: $(od -c words.txt text.txt | head)"
  hwsort -o built.idx text.txt
  [ $? = 2 ] && grep -q 'built.idx: is an index' hwsort.err || die "-o over an index: $(cat hwsort.err)"
  hwsort built.idx
  [ $? = 2 ] && grep -q "is an index, not text; 'idxtool dump built.idx'" hwsort.err || die "$(cat hwsort.err)"
  idxtool build built.idx text.txt
  [ $? = 1 ] && grep -q 'is an index of 3 records; --force' out.txt || die "build: $(cat out.txt)"
  cmp -s built.idx before.idx || die "the index was touched"
}

case_name="$1"
wine_dispatch "$case_name"
