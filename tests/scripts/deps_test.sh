#!/usr/bin/env bash
# scripts/deps.sh against a mirror that fails, with apt-get, dpkg-query,
# dpkg and sudo replaced on PATH by stand-ins that keep the installed
# packages in a file; and the reason the Wine tests give for skipping the
# 32-bit build (tests/wine/wine_env.sh).
# Usage: deps_test.sh SOURCE_DIR
set -uo pipefail
root=$(realpath "${1:?usage: deps_test.sh SOURCE_DIR}")
source "$root/tests/lib/checks.sh"
scratch

mkdir -p bin copy/scripts
cp "$root/scripts/deps.sh" copy/scripts/
export FAKE="$work"
cat >bin/apt-get <<'SH'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE/calls"
[ "$1" = update ] && [ "$FAKE_UPDATE" = fail ] && {
  echo "E: Failed to fetch http://mirror/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
  exit 100
}
[ "$1" = install ] || exit 0
shift
names=()
for a in "$@"; do case "$a" in -*) ;; *) names+=("$a") ;; esac; done
for p in "${names[@]}"; do
  case " $FAKE_BROKEN " in *" $p "*)
    echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;;
  esac
done
printf '%s\n' "${names[@]}" >>"$FAKE/installed"
SH
cat >bin/dpkg-query <<'SH'
#!/usr/bin/env bash
grep -qxF -- "${!#}" "$FAKE/installed" && printf 'install ok installed'
SH
cat >bin/dpkg <<'SH'
#!/usr/bin/env bash
case "$1" in
  --print-foreign-architectures) cat "$FAKE/arches" ;;
  --add-architecture) echo "$2" >>"$FAKE/arches" ;;
esac
SH
printf '#!/bin/sh\nexec "$@"\n' >bin/sudo
chmod +x bin/*
export PATH="$work/bin:$PATH"
record=copy/build/wine32-unavailable.txt

# run_case NAME UPDATE BROKEN STALE STATUS TEXT RECORD: deps.sh wine demo
# with wine and wine64 installed, `apt-get update` ok or fail, apt unable to
# install the BROKEN packages, a record left by an earlier run or not (STALE
# yes/no); it must exit with STATUS and say TEXT, and its record of
# wine32:i386 must hold RECORD ("-": there is none).
run_case() {
  case_name=$1
  local update=$2 broken=$3 stale=$4 status=$5 text=$6 want=$7
  printf '%s\n' wine wine64 >installed
  : >arches && : >calls
  rm -rf copy/build
  [ "$stale" = yes ] && mkdir -p copy/build && echo "an earlier failure" >"$record"
  FAKE_UPDATE=$update FAKE_BROKEN=$broken expect "$status" "$text" bash copy/scripts/deps.sh wine demo
  if [ "$want" = - ]; then
    [ ! -e "$record" ] || fail "record left: $(cat "$record")"
  else
    grep -qF -- "$want" "$record" 2>/dev/null || fail "record: '$(cat "$record" 2>/dev/null)', want '$want'"
  fi
  for p in wamerican wine32:i386; do
    case " $broken " in *" $p "*) continue ;; esac
    [ "$status" != 0 ] || grep -qx "$p" installed || fail "$p was not installed"
  done
}

broken="Unable to correct problems, you have held broken packages."
sync="Failed to fetch http://mirror/binary-i386/Packages.xz"
#        name              update broken                stale status text                                                record
run_case all-installed     ok     ""                    yes   0 "Installing: wine32:i386 wamerican"                      -
run_case update-fails      fail   ""                    no    0 "apt-get update failed for some index ($sync"            -
run_case wine32-fails      ok     wine32:i386           no    0 "wine32:i386 could not be installed: $broken"            "$broken"
run_case both-fail         fail   wine32:i386           yes   0 "the 32-bit Wine tests will be skipped"                  "$broken (after apt-get update failed: $sync"
run_case other-fails       ok     wamerican             no    1 "missing: wamerican"                                     -
run_case other-msg         fail   wamerican             no    1 "could not install the packages this job needs ($broken)" -
run_case other-and-wine32  fail   "wamerican wine32:i386" no  1 "missing: wamerican"                                     -

case_name=i386-added
grep -qx i386 arches || fail "deps.sh did not add the i386 architecture for wine32:i386"
case_name=nothing-missing
printf '%s\n' wine wine64 wine32:i386 wamerican >installed
: >calls && mkdir -p copy/build && echo "an earlier failure" >"$record"
bash copy/scripts/deps.sh wine demo >out.txt 2>&1 || fail "exit $?: $(cat out.txt)"
[ ! -s out.txt ] || fail "said: $(cat out.txt)"
[ ! -s calls ] || fail "apt-get was called: $(cat calls)"
[ ! -e "$record" ] || fail "a stale record of wine32:i386 was kept while it is installed"
case_name=unknown-group
expect 2 "unknown group 'wine33'" bash copy/scripts/deps.sh wine33

# Why the 32-bit build is skipped: the kernel, or the missing loader and
# what deps.sh recorded, or no record at all.
case_name=wine32_reason
printf '#!/bin/sh\nexit 0\n' >loader-ok
printf '\177ELF garbage' >loader-refused
chmod +x loader-ok loader-refused
echo "$broken" >reason-record
# in_env LOADER COMMAND: COMMAND after sourcing wine_env.sh, with LOADER as
# Wine's 32-bit loader, deps.sh's record in reason-record, in a test of the
# 32-bit build.
in_env() {
  wine32_loader=$work/$1 wine32_record=$work/reason-record ORLIX_VIEW=32 \
    bash -c 'source "$0" && eval "$1"' "$root/tests/wine/wine_env.sh" "$2"
}
# reason LOADER RECORD WANT: wine32_reason says WANT ("" for nothing).
reason() {
  rm -f reason-record
  [ -z "$2" ] || echo "$2" >reason-record
  local got
  got=$(in_env "$1" wine32_reason 2>/dev/null)
  [ "$got" = "$3" ] || fail "loader $1, record '$2': '$got', want '$3'"
}
#      loader          record      reason
reason loader-ok       "$broken"   ""
reason loader-refused  "$broken"   "this machine's kernel cannot execute 32-bit programs, so Wine cannot run the 32-bit build"
reason no-loader       "$broken"   "wine32:i386 could not be installed: $broken"
reason no-loader       ""          "wine32:i386 is not installed (bash scripts/deps.sh wine installs it)"

# A test of the 32-bit build says why in its own output, and its program
# run ends as skipped (77), saying why again.
if [ -x /usr/lib/wine/wine64 ]; then
  echo "$broken" >reason-record
  expect 77 "note: 32-bit programs are not run here: wine32:i386 could not be installed: $broken" \
    in_env no-loader 'wine indexjob.exe 2>skip.txt'
  grep -qF "SKIP: wine32:i386 could not be installed: $broken" skip.txt || fail "SKIP line: $(cat skip.txt)"
fi

finish deps_test
