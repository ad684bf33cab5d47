#!/usr/bin/env bash
# Installs the Debian packages a job needs, only when some are missing.
# Usage: scripts/deps.sh GROUP...
#   (groups: build wine fuzz demo bench release check)
#
# A mirror in the middle of a sync is not the end of the set-up:
#   - when `apt-get update` fails for some index, that is reported and the
#     install goes on with the indexes apt has;
#   - wine32:i386 (Wine's 32-bit loader) is the one package the jobs can do
#     without: the 32-bit Wine tests are then skipped and the demo runs the
#     64-bit build.  Why it could not be installed is kept in
#     build/wine32-unavailable.txt for them to say (tests/wine/wine_env.sh);
#   - any other package that cannot be installed fails, with apt's message
#     and the list of what is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
wine32_record=$root/build/wine32-unavailable.txt
optional=wine32:i386

packages=()
for group in "$@"; do
  case "$group" in
    # help2man makes the tools' manual pages from their help; man reads
    # them back in the manual-page test.
    build) packages+=(cmake ninja-build g++ libgtest-dev help2man man-db
                      g++-mingw-w64-i686 g++-mingw-w64-x86-64
                      binutils-mingw-w64-i686 binutils-mingw-w64-x86-64) ;;
    wine)  packages+=(wine wine64 "$optional") ;;
    # The compiler and its sanitizer runtimes are one release: the fuzz
    # preset names clang-14 too.
    fuzz)  packages+=(clang-14 libclang-rt-14-dev) ;;
    demo)  packages+=(wamerican) ;;
    bench) packages+=(libbenchmark-dev libicu-dev wamerican wfrench wngerman time) ;;
    release) packages+=(python3 git osslsigncode dpkg-dev xz-utils) ;;
    # What the release's tests use: a throwaway signing key, the package
    # checker, and man to read the installed manual pages.
    check) packages+=(openssl lintian man-db) ;;
    *) echo "deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# missing_of PACKAGE...: those not installed, one a line.
missing_of() {
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}

mapfile -t missing < <(missing_of "${packages[@]}" | awk '!seen[$0]++')
if printf '%s\n' "${packages[@]}" | grep -qxF "$optional" && installed "$optional"; then
  rm -f "$wine32_record"
fi
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# apt_get ARGS...: apt-get, its output shown and kept in $log.  Its status
# is apt-get's, not tee's.
apt_get() {
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get "$@" 2>&1 | tee "$log"
  return "${PIPESTATUS[0]}"
}
# apt_errors: apt's error lines of the last run, on one line.
apt_errors() { grep '^E:' "$log" | sed 's/^E: //' | paste -sd' ' || true; }

update_error=""
if ! apt_get update -q; then
  update_error=$(apt_errors)
  echo "deps.sh: apt-get update failed for some index ($update_error);" \
       "installing from the indexes apt has" >&2
fi

required=() wanted=()
for p in "${missing[@]}"; do
  if [ "$p" = "$optional" ]; then wanted+=("$p"); else required+=("$p"); fi
done

if [ ${#required[@]} -gt 0 ] &&
   ! apt_get install -y -q --no-install-recommends "${required[@]}"; then
  still=$(missing_of "${required[@]}" | paste -sd' ')
  echo "deps.sh: apt-get could not install the packages this job needs ($(apt_errors))" >&2
  echo "deps.sh: missing: ${still:-${required[*]}}" >&2
  exit 1
fi

# The package that may fail is installed on its own, so that its failure
# cannot take the others with it.
if [ ${#wanted[@]} -gt 0 ]; then
  if apt_get install -y -q --no-install-recommends "$optional"; then
    rm -f "$wine32_record"
  else
    reason=$(apt_errors)
    reason=${reason:-apt-get install failed}${update_error:+ (after apt-get update failed: $update_error)}
    mkdir -p "$(dirname "$wine32_record")"
    printf '%s\n' "$reason" >"$wine32_record"
    echo "deps.sh: $optional could not be installed: $reason;" \
         "the 32-bit Wine tests will be skipped and the demo runs the 64-bit build" >&2
  fi
fi
