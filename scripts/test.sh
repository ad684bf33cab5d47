#!/usr/bin/env bash
# Every test: host (ASan + UBSan), short fuzz runs, both Windows builds
# under Wine, the release made three times (unsigned, signed twice) and
# compared, and its Debian package checked and installed.  Installs the
# Debian packages it needs.
# Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh build wine fuzz demo release check

run_preset() {
  echo "== $1"
  cmake --preset "$1" -DORLIX_WERROR=ON >/dev/null
  cmake --build --preset "$1"
  ctest --preset "$1"
}

run_preset host
run_preset fuzz
run_preset windows-x86
reason=$(source tests/wine/wine_env.sh && wine32_reason)
if [ -n "$reason" ]; then
  echo "== note: $reason; the 32-bit build was compiled and its imports" \
       "checked, its Wine runs skipped"
fi
run_preset windows-x64
echo "== release: two builds in two directories give the same bytes"
bash tests/release/reproducible.sh
echo "== all tests passed"
