#!/usr/bin/env bash
# Tests of the project's scripts that need neither Wine nor a network: the
# demo's neighbour lines and the pinned fuzz toolchain.
# Usage: scripts_test.sh SOURCE_DIR
set -uo pipefail

root=$(realpath "${1:?usage: scripts_test.sh SOURCE_DIR}")
source "$root/tests/lib/checks.sh"
scratch

# shellcheck source=../../scripts/demo.sh
source "$root/scripts/demo.sh"

# expect_neighbours DUMP OUTPUT: both printf formats; DUMP as idxtool dumps.
expect_neighbours() {
  printf -- "$1" > "$work/dump"
  printf -- "$2" > "$work/want"
  (set -e; neighbours "$work/dump") > "$work/got" 2> "$work/err" ||
    fail "neighbours '$1': status $? ($(cat "$work/err"))"
  cmp -s "$work/got" "$work/want" || fail "neighbours '$1': got '$(cat "$work/got")'"
}

#                 dump                                  output
# A hand-made key first, in the middle, last, alone; none at all.
expect_neighbours 'A.M.\t900007\nab\t3\n'               '  A.M. 900007   |   ab 3\n'
expect_neighbours 'ab\t3\nbank\t900016\nzz\t5\n'        '  ab 3   |   bank 900016   |   zz 5\n'
expect_neighbours 'ab\t3\nbank\t900016\n'               '  ab 3   |   bank 900016\n'
expect_neighbours 'bank\t900016\n'                      '  bank 900016\n'
expect_neighbours 'ab\t3\nzz\t5\n'                      ''
# Neighbouring hand-made keys each get their line; other references are not theirs.
expect_neighbours 'a\t900001\nb\t900002\n'              '  a 900001   |   b 900002\n  a 900001   |   b 900002\n'
expect_neighbours 'a\t9000011\nb\t1900001\n'            ''
# A key with "|" keeps it.
expect_neighbours 'a|b\t900003\n'                       '  a|b 900003\n'

# The fuzz preset's compilers and the sanitizer runtimes deps.sh installs
# are of one clang release.
fuzz_packages=$(sed -n 's/^ *fuzz) *packages+=(\(.*\)) ;;$/\1/p' "$root/scripts/deps.sh")
rt=$(printf '%s\n' $fuzz_packages | sed -n 's/^libclang-rt-\([0-9]*\)-dev$/\1/p')
[ -n "$rt" ] || fail "deps.sh fuzz group has no libclang-rt-N-dev: '$fuzz_packages'"
printf '%s\n' $fuzz_packages | grep -qx "clang-$rt" ||
  fail "deps.sh fuzz group installs libclang-rt-$rt-dev but not clang-$rt: '$fuzz_packages'"
for compiler in "clang-$rt" "clang++-$rt"; do
  grep -q "\"$compiler\"" "$root/CMakePresets.json" ||
    fail "CMakePresets.json does not build the fuzzers with $compiler"
done

finish scripts_test
