#!/usr/bin/env bash
# The collation's timings in the 32-bit Windows build, where the product's
# 32-bit installations call it: bench/collation_timing.cpp cross-built with
# mingw-w64 for i686 and run under Wine (the arithmetic runs natively; only
# the calls into Windows go through Wine), and the same harness built for
# the host with the same flags, so that the two builds are timed by one
# program.  Both use -O2, as the product's own build does.
# Usage: bash bench/timing_i686.sh DATADIR [ROUNDS] [SET...]
#   DATADIR as made by bench/prepare_data.sh; ROUNDS and SETs go to the
#   harness (defaults 5, american homographs).
set -euo pipefail

cd "$(dirname "$0")/.."
data=$(cd "${1:?usage: timing_i686.sh DATADIR [ROUNDS] [SET...]}" && pwd)
shift
out=$PWD/build/timing-i686
mkdir -p "$out"

flags=(-O2 -DNDEBUG -std=c++17 -I. -Isrc -Wall -Wextra -Wpedantic)
sources=(bench/collation_timing.cpp src/collation/compare_headwords.cpp)
i686-w64-mingw32-g++ "${flags[@]}" -static -o "$out/collation_timing.exe" "${sources[@]}"
g++ "${flags[@]}" -o "$out/collation_timing" "${sources[@]}"

echo "== host build ($(uname -m))"
"$out/collation_timing" "$data" "$@"

echo "== i686 build under Wine"
export WINEPREFIX=$out/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >"$out/wineboot.log" 2>&1 </dev/null || true
  wineserver -w || true
fi
# Output through a file: Wine's background services would hold a pipe open.
if ! wine "$out/collation_timing.exe" "$(winepath -w "$data")" "$@" >"$out/i686.txt" 2>&1 </dev/null; then
  cat "$out/i686.txt" >&2
  echo "timing_i686.sh: the i686 build did not run under Wine (a kernel without" \
       "32-bit user mode cannot start Wine's 32-bit loader)" >&2
  exit 1
fi
cat "$out/i686.txt"
