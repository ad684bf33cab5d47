#!/usr/bin/env bash
# check_install.sh BUILD_DIR COMPONENT:FILE...: `cmake --install BUILD_DIR`
# into a fresh prefix gives exactly the FILEs (relative to the prefix), each
# executable, and never an OrlixDB.dll; `--component C` gives exactly C's.
set -euo pipefail
build=$1
shift
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "$*" >&2; exit 1; }

# check NAME EXPECTED-FILES [--component C]
check() {
  local name=$1 expected=$2 prefix="$tmp/$1"
  shift 2
  cmake --install "$build" --prefix "$prefix" "$@" >/dev/null
  local actual
  actual=$(cd "$prefix" && find . -type f -printf '%P\n' | LC_ALL=C sort)
  [ "$actual" = "$expected" ] ||
    fail "$(printf '%s installed:\n%s\nexpected:\n%s' "$name" "$actual" "$expected")"
  for f in $actual; do
    [ -x "$prefix/$f" ] || fail "$name: $f is not executable"
  done
  if find "$prefix" -iname orlixdb.dll | grep -q .; then
    fail "$name: an OrlixDB.dll was installed"
  fi
  echo "$name: $(echo $actual)"
}

all=$(printf '%s\n' "${@#*:}" | LC_ALL=C sort)
check all "$all"
for component in $(printf '%s\n' "${@%%:*}" | LC_ALL=C sort -u); do
  files=$(for entry in "$@"; do
            if [ "${entry%%:*}" = "$component" ]; then echo "${entry#*:}"; fi
          done | LC_ALL=C sort)
  check "$component" "$files" --component "$component"
done
