#!/usr/bin/env bash
# check_install.sh BUILD_DIR FILE...: `cmake --install BUILD_DIR` into a fresh
# prefix gives exactly the FILEs (relative to the prefix), each executable,
# and never an OrlixDB.dll.
set -euo pipefail
build=$1
shift
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
actual=$(cd "$prefix" && find . -type f -printf '%P\n' | LC_ALL=C sort)
expected=$(printf '%s\n' "$@" | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  printf 'installed:\n%s\nexpected:\n%s\n' "$actual" "$expected" >&2
  exit 1
fi
for f in "$@"; do
  [ -x "$prefix/$f" ] || { echo "$f is not executable" >&2; exit 1; }
done
if find "$prefix" -iname orlixdb.dll | grep -q .; then
  echo "an OrlixDB.dll was installed" >&2
  exit 1
fi
echo "installed: $(echo $actual)"
