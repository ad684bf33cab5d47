#!/usr/bin/env bash
# Every test: host (ASan + UBSan), short fuzz runs, both Windows builds
# under Wine, the release made three times (unsigned, signed twice) and
# compared, and its Debian package checked and installed.  Installs the
# Debian packages it needs.
# Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh build wine fuzz demo release check

# run_preset PRESET [SKIP-REASON]: configure, build, test.  For the Wine
# presets (SKIP-REASON given), a test skipped fails the run unless
# SKIP-REASON says why this machine cannot run it.
run_preset() {
  echo "== $1"
  cmake --preset "$1" -DORLIX_WERROR=ON >/dev/null
  cmake --build --preset "$1"
  ctest --preset "$1" | tee "build/$1/ctest.txt"
  if [ $# -eq 2 ] && [ -z "$2" ] && grep -q 'tests did not run' "build/$1/ctest.txt"; then
    echo "== $1: tests were skipped on a machine that can run them all" >&2
    exit 1
  fi
}

reason=$(source tests/wine/wine_env.sh && wine32_reason)
run_preset host
run_preset fuzz
run_preset windows-x86 "$reason"
if [ -n "$reason" ]; then
  echo "== note: $reason; the 32-bit build was compiled and its imports" \
       "checked, its Wine runs skipped"
fi
run_preset windows-x64 ""
echo "== release: unsigned and twice signed in three directories, compared; its Debian package"
bash tests/release/reproducible.sh
echo "== all tests passed"
