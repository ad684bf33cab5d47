#!/usr/bin/env bash
# Makes the Debian package of the maintainer tools, orlix-tools, from a
# built host preset (scripts/release.sh uses the tools preset):
#
#   OUT_DIR/orlix-tools_VERSION_amd64.deb
#
# Its files are what `cmake --install BUILD_DIR --component tools` installs
# under /usr (idxtool, hwsort and their manual pages), stripped, with the
# manual pages compressed, and /usr/share/doc/orlix-tools/ (copyright,
# changelog.gz).  Depends: is computed by dpkg-shlibdeps from the programs.
# The same build gives the same bytes: every time in the package is
# SOURCE_DATE_EPOCH, every file is root:root with a mode set here, and
# dpkg-deb writes the entries in sorted order.
#
# Usage: scripts/make_deb.sh BUILD_DIR OUT_DIR   (SOURCE_DATE_EPOCH set)
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: scripts/make_deb.sh BUILD_DIR OUT_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd) out=$2
: "${SOURCE_DATE_EPOCH:?make_deb.sh: set SOURCE_DATE_EPOCH}"
export SOURCE_DATE_EPOCH LC_ALL=C TZ=UTC
# shellcheck disable=SC1091
. "$build/orlix_version.txt"
name=orlix-tools
deb=$out/${name}_${VERSION}_amd64.deb

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/root
cmake --install "$build" --component tools --prefix "$root/usr" --strip >/dev/null
[ -n "$(ls "$root/usr/bin" 2>/dev/null)" ] || { echo "make_deb.sh: $build installs no tools" >&2; exit 1; }
if [ -d "$root/usr/share/man" ]; then
  find "$root/usr/share/man" -type f -name '*.[1-9]' -exec gzip -9n {} +
fi

doc=$root/usr/share/doc/$name
mkdir -p "$doc"
year=$(date -d "@$SOURCE_DATE_EPOCH" +%Y)
cat >"$doc/copyright" <<TEXT
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: $name
Comment: The maintainer tools of the Orlix index job: idxtool, which
 builds, dumps, checks and merges index files, and hwsort.

Files: *
Copyright: $year The Orlix index job developers
License: proprietary
 All rights reserved.  The tools may be used to prepare dictionary data
 for the Orlix index job; no other right is granted.
TEXT
{
  echo "$name ($VERSION) unstable; urgency=medium"
  echo
  echo "  * Release $VERSION of the Orlix index job's maintainer tools."
  echo
  echo " -- The Orlix index job developers <indexjob@orlix.invalid>  $(date -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n >"$doc/changelog.gz"

# dpkg-shlibdeps reads the package's name from a debian/control.
mkdir -p "$stage/debian" "$root/DEBIAN"
printf 'Source: %s\n\nPackage: %s\nArchitecture: amd64\n' "$name" "$name" >"$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O "${root#"$stage"/}"/usr/bin/* | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "make_deb.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
chmod 0755 "$root"/usr/bin/*
(cd "$root" && find usr -type f | sort | xargs md5sum) >"$root/DEBIAN/md5sums"
# Installed-Size as dpkg-gencontrol counts it: KiB of each file rounded up,
# one for anything else; never what a file system says a directory takes.
size=$(cd "$root" && find usr \( -type f -printf '%s\n' \) -o -printf '1024\n' |
       awk '{ kib += int(($1 + 1023) / 1024) } END { print kib }')
cat >"$root/DEBIAN/control" <<TEXT
Package: $name
Version: $VERSION
Architecture: amd64
Maintainer: The Orlix index job developers <indexjob@orlix.invalid>
Installed-Size: $size
Depends: $depends
Section: utils
Priority: optional
Description: maintainer tools of the Orlix index job
 idxtool builds, dumps, checks and merges the index files of the Orlix
 index job; its merge is the one the index job runs.  hwsort sorts
 headwords in the index job's collation.
TEXT
chmod 0644 "$root/DEBIAN/md5sums" "$root/DEBIAN/control"
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
mkdir -p "$out"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
