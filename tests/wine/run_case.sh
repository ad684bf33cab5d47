#!/usr/bin/env bash
# Runs one Wine test of indexjob.exe: run_case.sh setup|cleanup|imports|CASE.
# The environment (ORLIX_*) comes from tests/wine/CMakeLists.txt.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine_env.sh"

# The installation's two registry keys, written as the product's installer
# for this architecture would: 32-bit programs read the 32-bit view.
install_key='HKLM\SOFTWARE\Quorvane\Orlix\System\InstallInfo'
dict_key='HKLM\SOFTWARE\Quorvane\Orlix\Tessary\Dict'
view=$ORLIX_VIEW

reg_value() {  # KEY NAME TYPE DATA
  wine_reg "$view" add "$1" /v "$2" /t "$3" /d "$4" /f || die "reg add $2 ($(cat "$WINEPREFIX.reg.log"))"
}
version() { reg_value "$install_key" CurrentVersion "$1" "$2"; }
directory() { reg_value "$dict_key" 00010301Path "$1" "$2"; }
empty_key() { wine_reg "$view" add "$1" /f || die "reg add $1"; }
other_view() { if [ "$view" = 32 ]; then view=64; else view=32; fi; }
hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }

library=recording
recorder_result=""
exit_code=""

# Runs the utility in a directory of its own, OrlixDB.dll beside it.
run() {
  fresh "$case_name"
  local dir=$PWD
  cp "$ORLIX_EXE" "$dir/indexjob.exe"
  case "$library" in
    recording) cp "$ORLIX_RECORDING_DLL" "$dir/OrlixDB.dll" ;;
    without12) cp "$ORLIX_WITHOUT12_DLL" "$dir/OrlixDB.dll" ;;
    none) ;;
  esac
  record="$dir/record.txt"
  output="$dir/output.txt"
  ORLIX_RECORDER_RESULT="$recorder_result" wine "$dir/indexjob.exe" >"$output" 2>&1 </dev/null
  exit_code=$?
}

expect_exit() {
  [ "$exit_code" = "$1" ] || die "exit code $exit_code, expected $1 ($(head -c 300 "$output"))"
}

expect_no_job() {
  [ ! -e "$record" ] || die "the library was called: $(cat "$record")"
}

# The library got DIR's three index paths and the collation, whose answers
# on the probe pairs are the host build's.
expect_job() {
  local dir="$1" expected="$ORLIX_WORK/expected-$case_name.txt"
  [ -f "$record" ] || die "the library was not called"
  { printf 'target %s00010301.idx\ncount 2\n' "$dir"
    printf 'source %s01010301.idx\nsource %s7F010301.idx\n' "$dir" "$dir"
    cat "$ORLIX_WORK/host-probe.txt"; } >"$expected"
  cmp -s "$expected" "$record" || die "recorded job differs: $(diff "$expected" "$record" | head -20)"
}

check_imports() {
  local exe="$ORLIX_EXE" dump
  dump=$("$ORLIX_OBJDUMP" -p "$exe") || die "objdump $exe"
  local dlls
  dlls=$(imported_dlls "$dump")
  [ "$dlls" = "advapi32.dll kernel32.dll msvcrt.dll orlixdb.dll " ] || die "imports: $dlls"
  # OrlixDB.dll: a single thunk, the ordinal flag (top bit) with 12.
  local orlix
  orlix=$(printf '%s\n' "$dump" | awk '/DLL Name: OrlixDB.dll/{on=1; next} on && !/^\t/{on=0} on')
  [ "$(printf '%s\n' "$orlix" | grep -Pc '^\t[0-9a-f]+\t')" = 1 ] || die "OrlixDB imports: $orlix"
  printf '%s\n' "$orlix" | grep -Pq '^\t80*c\t.*<none>' || die "no import by ordinal 12: $orlix"
  printf '%s\n' "$dump" | grep -q 'Subsystem.*(Windows GUI)' || die "not a GUI program"
  ! grep -aq DbOrdinal12 "$exe" || die "the name DbOrdinal12 stands in $exe"
  grep -aq 'level="asInvoker"' "$exe" || die "no asInvoker manifest in $exe"
  grep -aq 'V.S._.V.E.R.S.I.O.N._.I.N.F.O' "$exe" || die "no version resource in $exe"
}

# The collation's answers the Windows builds must match.
before_setup() {
  "$ORLIX_HOST_PROBE" >"$ORLIX_WORK/host-probe.txt" || die "host probe $ORLIX_HOST_PROBE (build the host preset first)"
}

# Each case starts from a registry without the product.
before_case() {
  source "$here/cases.sh"
  for v in 32 64; do wine_reg "$v" delete 'HKLM\SOFTWARE\Quorvane' /f; done
}

case_name="$1"
case "$case_name" in
  imports) check_imports ;;
  *) wine_dispatch "$case_name" ;;
esac
