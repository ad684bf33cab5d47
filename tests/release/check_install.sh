#!/usr/bin/env bash
# check_install.sh BUILD_DIR COMPONENT:FILE...: `cmake --install BUILD_DIR`
# into a fresh prefix gives exactly the FILEs (relative to the prefix), each
# executable but the manuals, and never an OrlixDB.dll; `--component C` gives exactly C's.
set -euo pipefail
build=$1
shift
source "$(dirname "$0")/../lib/checks.sh"
scratch

# installs NAME EXPECTED-FILES [--component C]
installs() {
  local name=$1 expected=$2 prefix="$work/$1"
  shift 2
  cmake --install "$build" --prefix "$prefix" "$@" >/dev/null
  local actual
  actual=$(cd "$prefix" && find . -type f -printf '%P\n' | LC_ALL=C sort)
  [ "$actual" = "$expected" ] ||
    die "$(printf '%s installed:\n%s\nexpected:\n%s' "$name" "$actual" "$expected")"
  for f in $actual; do
    case "$f" in share/man/*) continue ;; esac
    [ -x "$prefix/$f" ] || die "$name: $f is not executable"
  done
  if find "$prefix" -iname orlixdb.dll | grep -q .; then
    die "$name: an OrlixDB.dll was installed"
  fi
  echo "$name: $(echo $actual)"
}

all=$(printf '%s\n' "${@#*:}" | LC_ALL=C sort)
installs all "$all"
for component in $(printf '%s\n' "${@%%:*}" | LC_ALL=C sort -u); do
  files=$(for entry in "$@"; do
            if [ "${entry%%:*}" = "$component" ]; then echo "${entry#*:}"; fi
          done | LC_ALL=C sort)
  installs "$component" "$files" --component "$component"
done
