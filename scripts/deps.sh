#!/usr/bin/env bash
# Installs the Debian packages a job needs, only when some are missing.
# Usage: scripts/deps.sh GROUP...   (groups: build wine fuzz demo bench release)
set -euo pipefail

packages=()
for group in "$@"; do
  case "$group" in
    build) packages+=(cmake ninja-build g++ libgtest-dev
                      g++-mingw-w64-i686 g++-mingw-w64-x86-64
                      binutils-mingw-w64-i686 binutils-mingw-w64-x86-64) ;;
    wine)  packages+=(wine wine64 wine32:i386) ;;
    # The compiler and its sanitizer runtimes are one release: the fuzz
    # preset names clang-14 too.
    fuzz)  packages+=(clang-14 libclang-rt-14-dev) ;;
    demo)  packages+=(wamerican) ;;
    bench) packages+=(libbenchmark-dev libicu-dev wamerican wfrench wngerman time) ;;
    release) packages+=(python3 git) ;;
    *) echo "deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
