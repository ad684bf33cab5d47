#!/usr/bin/env bash
# Makes a release in dist/: both Windows presets and the host tools preset
# built from fresh build directories (build/release/), the Windows tests
# run, and
#
#   orlix-indexjob-VERSION-windows-x86.zip    indexjob.exe, README.txt
#   orlix-indexjob-VERSION-windows-x64.zip    indexjob.exe, README.txt
#   orlix-indexjob-tools-VERSION-windows.zip  x86/ and x64/ idxtool.exe and
#                                             hwsort.exe, README.txt
#   orlix-tools_VERSION_amd64.deb             idxtool, hwsort for Debian
#   SHA256SUMS                                sha256sum -c SHA256SUMS
#
# VERSION is the CMake project version.  No archive holds an OrlixDB.dll.
# The same commit gives the same bytes whatever the directory, the time, the
# time zone and the umask; tests/release/reproducible.sh checks that.  The
# time recorded is SOURCE_DATE_EPOCH, by default the commit's.
#
# With --sign, every .exe in the archives carries an Authenticode signature
# made with KEY (PEM private key) and CERT (its PEM certificate, with any
# intermediate certificates after it), signed at SOURCE_DATE_EPOCH and with
# no timestamp from a network service, so that a signed release too is the
# same bytes each time.  The unsigned archives are made first, in
# build/release/unsigned/, and scripts/check_signed.sh then proves each
# signed .exe verifies against CERT and, with its signature removed, is the
# unsigned .exe byte for byte.
#
# Usage: scripts/release.sh [--no-tests] [--sign KEY CERT]
#   --no-tests  skip the tests (the archives are the same bytes): for a
#               machine that cannot run Wine, or right after scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { echo "usage: scripts/release.sh [--no-tests] [--sign KEY CERT]" >&2; exit 2; }
run_tests=1 key="" cert=""
while [ $# -gt 0 ]; do
  case "$1" in
    --no-tests) run_tests=0; shift ;;
    --sign) [ $# -ge 3 ] && [ -z "$key" ] || usage
            key=$(realpath -e -- "$2") && cert=$(realpath -e -- "$3") || usage
            [ -f "$key" ] && [ -r "$key" ] && [ -f "$cert" ] && [ -r "$cert" ] || {
              echo "release.sh: --sign needs a readable key file and certificate file" >&2; exit 2; }
            shift 3 ;;
    *) usage ;;
  esac
done

umask 022
export LC_ALL=C TZ=UTC
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if [ "$(git rev-parse --show-toplevel 2>/dev/null)" != "$(pwd -P)" ]; then
    echo "release.sh: not a git checkout: set SOURCE_DATE_EPOCH" >&2
    exit 1
  fi
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain 2>/dev/null)" ]; then
  echo "release.sh: warning: uncommitted changes; this is not the release of commit" \
       "$(git rev-parse --short HEAD)" >&2
fi

groups=(build release)
[ "$run_tests" = 1 ] && groups+=(wine)
bash scripts/deps.sh "${groups[@]}"

build=build/release
rm -rf "$build" dist
mkdir -p "$build" dist

# The Windows tests check the collation against the host build's probe.
probe=$PWD/$build/host/tests/host/collation_probe
if [ "$run_tests" = 1 ]; then
  cmake --preset host -B "$build/host" >/dev/null
  cmake --build "$build/host" --target collation_probe
fi

# The Debian package: the host tools, optimised, without sanitizers.
echo "== tools"
cmake --preset tools -B "$build/tools" -DORLIX_WERROR=ON >/dev/null
cmake --build "$build/tools" --target orlix_tools

for preset in windows-x86 windows-x64; do
  echo "== $preset"
  cmake --preset "$preset" -B "$build/$preset" -DORLIX_WERROR=ON \
        -DORLIX_HOST_PROBE="$probe" >/dev/null
  cmake --build "$build/$preset"
  if [ "$run_tests" = 1 ]; then
    ctest --test-dir "$build/$preset" --output-on-failure --no-tests=error
  fi
  cmake --install "$build/$preset" --prefix "$build/install/$preset" --strip >/dev/null
done

# VERSION=, PRODUCT_VERSION=, as CMake configured them.
# shellcheck disable=SC1090
. "$build/windows-x86/orlix_version.txt"

# readme FILE: standard input with Windows line ends.
readme() { sed 's/$/\r/' >"$1"; }

pack_utility() {  # PRESET BITS
  local dir="$pack/orlix-indexjob-$VERSION-$1"
  mkdir -p "$dir"
  cp "$build/install/$1/bin/indexjob.exe" "$dir/"
  readme "$dir/README.txt" <<EOF
Orlix index job $VERSION for $2-bit Windows ($1)

indexjob.exe is the index job of the Orlix dictionary product, release
$PRODUCT_VERSION; it works for installed versions 6.0, 6.0001 and 6.0002.
It opens no window and reads no command line.  Started once, it reads
the product's registry values, hands the three index files of dictionary
00010301 to the product's OrlixDB.dll (export 12), which merges them, and
exits with 1 once the library has returned, or with 0 when there is
nothing to do.

Where it goes: into the product's program directory, beside the product's
own OrlixDB.dll, which it loads from there.  Its build must match the
library's: this one is for a $2-bit OrlixDB.dll.  This archive holds no
OrlixDB.dll: the product's own is the one to use.

Version: $VERSION (the file and product version of indexjob.exe).
Checksums: SHA256SUMS, published beside this archive.
EOF
}

pack_tools() {
  local dir="$pack/orlix-indexjob-tools-$VERSION-windows" bits preset
  for bits in x86 x64; do
    preset=windows-$bits
    mkdir -p "$dir/$bits"
    cp "$build/install/$preset/bin/idxtool.exe" "$build/install/$preset/bin/hwsort.exe" "$dir/$bits/"
  done
  readme "$dir/README.txt" <<EOF
Orlix index job $VERSION: maintainer tools for Windows

idxtool.exe builds, dumps, checks and merges the index files of the Orlix
index job; its merge is the one the index job runs (idxtool --help).
hwsort.exe sorts lines in the headword order of the index, as sort does
(hwsort --help); its result builds the same index as on any other system.
x86\\ holds the 32-bit builds, which run on 32- and 64-bit Windows; x64\\
the 64-bit builds, for large files.  Either runs from any directory and
needs no OrlixDB.dll.

Version: $VERSION (idxtool --version, hwsort --version).
Checksums: SHA256SUMS, published beside this archive.
EOF
}

# zip_all DIR: each directory of $pack as DIR/its-name.zip.
zip_all() {
  local dir
  mkdir -p "$1"
  for dir in "$pack"/*/; do
    dir=${dir%/}
    python3 scripts/release_zip.py "$1/$(basename "$dir").zip" "$SOURCE_DATE_EPOCH" "$dir"
  done
}

pack=$build/pack
pack_utility windows-x86 32
pack_utility windows-x64 64
pack_tools
# Signed or not, each program ends on the 8-byte boundary where a signature
# would start, so that removing a signature gives back the unsigned program.
find "$pack" -name '*.exe' -print0 | sort -z | xargs -0 python3 scripts/pe_pad.py
if [ -n "$key" ]; then
  zip_all "$build/unsigned"
  echo "== signing"
  while IFS= read -r -d '' exe; do
    osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "Orlix index job" \
      -time "$SOURCE_DATE_EPOCH" -in "$exe" -out "$exe.signed" >/dev/null
    mv "$exe.signed" "$exe"
  done < <(find "$pack" -name '*.exe' -print0)
fi
zip_all dist
if [ -n "$key" ]; then
  bash scripts/check_signed.sh "$cert" dist "$build/unsigned"
fi
bash scripts/make_deb.sh "$build/tools" dist >/dev/null
(cd dist && sha256sum -- *.zip *.deb >SHA256SUMS && sha256sum --quiet -c SHA256SUMS)

echo "== dist/ ($VERSION, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH${key:+, signed})"
cat dist/SHA256SUMS
