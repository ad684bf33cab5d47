#!/usr/bin/env bash
# Slips at the prompt: each row is a command line, its exit status and a
# text of its message.  Every row runs in a directory holding the same
# files, with standard input from my.tsv, and must leave every file there
# byte for byte as it was, create none, and, for a usage slip (exit 2),
# print one line.
# Usage: slips_test.sh IDXTOOL HWSORT (host), or, as a Wine runner,
# slips_test.sh setup|cleanup|slips with ORLIX_IDXTOOL, ORLIX_HWSORT and
# ORLIX_WORK set.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/checks.sh"

# The files every row starts from: a text, an index of it, an empty file,
# and a hard and a symbolic link to the text.
files_before() {
  rm -rf ./* && printf 'b\t1\na\t2\n' >my.tsv && : >empty.txt &&
    ln my.tsv hard.tsv && ln -s my.tsv link.tsv && "${tool[@]}" build a.idx my.tsv >err.txt 2>&1 <my.tsv &&
    snapshot >before.txt || die "cannot make the files: $(cat err.txt)"
}

# Names, types, link targets and checksums of all but the row's own output.
snapshot() {
  find . -mindepth 1 ! -name out.txt ! -name err.txt ! -name before.txt | LC_ALL=C sort |
    while read -r f; do printf '%s %s ' "$f" "$(stat -c %F "$f")"
      if [ -L "$f" ]; then readlink "$f"; else cksum <"$f"; fi; done
}

# slip STATUS TEXT PROGRAM ARGS...: PROGRAM is idxtool (`tool`) or hwsort.
slip() {
  local status="$1" text="$2" program=("${tool[@]}"); shift 2
  [ "$1" = hwsort ] && program=("${hwsort[@]}")
  case_name="$*"
  files_before
  "${program[@]}" "${@:2}" >out.txt 2>err.txt <my.tsv
  local got=$?
  [ "$got" -eq "$status" ] || fail "exit $got, want $status: $(cat err.txt)"
  grep -qF -- "$text" out.txt err.txt || fail "no '$text' in: $(cat out.txt err.txt)"
  [ "$status" -ne 2 ] || [ "$(wc -l <err.txt)" -eq 1 ] || fail "not one line: $(cat err.txt)"
  snapshot | cmp -s - before.txt || fail "files changed: $(snapshot | diff before.txt - | tail -n +2)"
}

rows() {
  # build: OUT and TEXT both required; never over its input or a non-index.
  slip 2 "build: expects OUT TEXT, not 1 operand; try 'idxtool build --help'" idxtool build my.tsv
  slip 2 "build: expects OUT TEXT, not 0 operands"   idxtool build
  slip 2 "expects OUT TEXT, not 3 operands"          idxtool build a.idx my.tsv empty.txt
  slip 2 "expects OUT TEXT, not 1 operand"           idxtool build -- a.idx
  slip 2 "OUT 'my.tsv' is TEXT 'my.tsv'"             idxtool build my.tsv my.tsv
  slip 2 "OUT 'hard.tsv' is TEXT 'my.tsv'"           idxtool build hard.tsv my.tsv
  slip 2 "OUT 'link.tsv' is TEXT 'my.tsv'"           idxtool build link.tsv my.tsv
  slip 2 "OUT 'my.tsv' is standard input"            idxtool build my.tsv -
  slip 2 "OUT 'a.idx' is TEXT 'a.idx'"               idxtool build --force a.idx a.idx
  slip 1 "my.tsv exists and is not an index; --force replaces it" idxtool build my.tsv empty.txt
  slip 1 "link.tsv exists and is not an index"       idxtool build link.tsv empty.txt
  slip 1 "a.idx exists and is an index of 2 records; --force replaces it, merge adds to it" idxtool build a.idx my.tsv
  slip 2 "build: an empty operand names no file"     idxtool build '' my.tsv
  slip 2 "unknown option '-o'"                       idxtool build -o a.idx my.tsv
  slip 1 "idxtool: missing.tsv: open: "              idxtool build new.idx missing.tsv
  slip 2 "build: '-' is standard input, which only build's TEXT reads" idxtool build - my.tsv
  slip 2 "merge: '-' is standard input"              idxtool merge - a.idx
  slip 2 "merge: '-' is standard input"              idxtool merge a.idx -
  slip 2 "dump: '-' is standard input"               idxtool dump -
  slip 2 "find: '-' is standard input"               idxtool find - a
  slip 2 "option '--quiet' takes no value"           idxtool build --quiet=yes a.idx my.tsv
  slip 2 "unknown option '--keep'"                   idxtool build --keep a.idx my.tsv
  # Options are never file names; help touches nothing.
  slip 0 "Usage: idxtool build [OPTION]... OUT TEXT" idxtool build --help
  slip 0 "Usage: idxtool build"                      idxtool build a.idx my.tsv --help
  slip 0 "Usage: idxtool merge"                      idxtool help merge
  slip 0 "idxtool find FILE KEY"                     idxtool help
  slip 0 "idxtool find FILE KEY"                     idxtool --help
  slip 0 "Usage: idxtool find"                       idxtool find --help
  slip 0 "Usage: idxtool build"                      idxtool build -h a.idx my.tsv
  slip 0 "--missing-ok"                              idxtool merge -h
  slip 2 "merge: expects TARGET SOURCE... (at most 1025 operands), not 1026 operands" idxtool merge a.idx $(seq -f s%g.idx 1025)
  slip 2 "merge: expects TARGET SOURCE..., not 1 operand" idxtool merge -n a.idx
  slip 2 "merge: unknown option '-x'"                idxtool merge -x a.idx my.idx
  slip 2 "merge: expects TARGET SOURCE..., not 0 operands" idxtool merge --dry-run
  slip 2 "help: no command 'frob'"                   idxtool help frob
  slip 2 "unknown command 'frob'; try 'idxtool --help'" idxtool frob a.idx
  slip 2 "no command"                                idxtool
  slip 2 "check: expects FILE, not 0 operands"       idxtool check --lookup
  slip 2 "check: unknown option '--bogus'"           idxtool check --bogus a.idx
  slip 2 "find: KEY is empty"                        idxtool find a.idx ''
  slip 2 "find: expects FILE KEY, not 1 operand"     idxtool find a.idx
  slip 2 "dump: expects FILE, not 2 operands"        idxtool dump a.idx my.tsv
  slip 2 "explain: expects KEY1 KEY2, not 1 operand" idxtool explain -- -a
  # hwsort: a wrong command line never reaches -o's FILE.
  slip 2 "hwsort: unknown option '-x'; try 'hwsort --help'" hwsort -x -o my.tsv my.tsv
  slip 2 "option '-o' needs a value"                 hwsort my.tsv -o
  slip 2 "-k takes N or N,M"                         hwsort -k 0 -o my.tsv my.tsv
  slip 2 "-k takes N or N,M"                         hwsort -k 2,1 -o my.tsv my.tsv
  slip 2 "-k takes N or N,M"                         hwsort -k 1.2 -o my.tsv my.tsv
  slip 2 "-t takes one byte"                         hwsort -t ab -k 1 -o my.tsv my.tsv
  slip 2 "option '-o' given twice"                   hwsort -o my.tsv -o a.idx my.tsv
  slip 2 "option '-n' has no meaning in headword order" hwsort -n -o my.tsv my.tsv
  slip 2 "-S takes a size"                           hwsort -S 10x -o my.tsv my.tsv
  slip 2 "option '--check' takes quiet, silent or diagnose-first" hwsort --check=loud my.tsv
  slip 0 "Usage: hwsort"                             hwsort -h -o my.tsv my.tsv
  slip 2 "-c takes one file at most"                 hwsort -c my.tsv a.idx
  slip 0 "Usage: hwsort"                             hwsort -o my.tsv --help my.tsv
  slip 2 "missing.tsv"                               hwsort -o my.tsv my.tsv missing.tsv
  # An index is never written over nor sorted as text.
  slip 2 "a.idx: is an index; hwsort writes text over no index" hwsort -t '\t' -k 1,1 -o a.idx my.tsv
  slip 2 "a.idx: is an index"                        hwsort -o a.idx a.idx
  slip 2 "a.idx: is an index, not text; 'idxtool dump a.idx' prints its records" hwsort a.idx
  slip 2 "a.idx: is an index, not text"              hwsort -o my.tsv my.tsv a.idx
  slip 2 "-c only checks and writes nothing: no -o with it" hwsort -c -o my.tsv my.tsv
  slip 2 "an empty operand names no file"           hwsort -o my.tsv my.tsv ''
  slip 2 "an empty operand names no file"           idxtool merge a.idx ''
}

# The Wine case: idxtool.exe and hwsort.exe, output to files, never pipes
# (see wine_env.sh).
case_slips() {
  tool=(wine "$ORLIX_IDXTOOL") hwsort=(wine "$ORLIX_HWSORT")
  fresh slips
  rows
}

if [ "${1:-}" = setup ] || [ "${1:-}" = cleanup ] || [ "${1:-}" = slips ]; then
  source "$here/../wine/wine_env.sh"
  wine_dispatch "$1"
else
  tool=("$(realpath "${1:?usage: slips_test.sh IDXTOOL HWSORT}")")
  hwsort=("$(realpath "${2:?usage: slips_test.sh IDXTOOL HWSORT}")")
  scratch
  rows
  finish "idxtool and hwsort slips"
fi
