#!/usr/bin/env bash
# check_deb.sh DEB: the Debian package of the tools holds what it says and
# installs and removes cleanly:
#   - lintian reports no error (its warnings are shown), and no program
#     lacks the hardening Debian builds with;
#   - it holds the two programs, a manual page for each that the install
#     rules install, the copyright file and changelog, all root:root;
#     Installed-Size is what dpkg counts and Depends: names the C and C++
#     runtime and no sanitizer's;
#   - installed with apt-get (as root, on a machine where none of its files
#     exists yet; otherwise that part is skipped, saying why), the programs
#     say their version, `man` shows each manual page, and once removed not
#     one of its files is left.
set -uo pipefail
deb=$(realpath "${1:?usage: check_deb.sh DEB}")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/checks.sh"
scratch
name=orlix-tools
version=$(dpkg-deb -f "$deb" Version) || die "not a Debian package: $deb"

lintian -I --fail-on error "$deb" >lintian.txt 2>&1 || { cat lintian.txt; fail "lintian reports errors"; }
grep 'hardening-no-' lintian.txt && fail "the programs are not built hardened"
if grep -q '^W:' lintian.txt; then
  echo "lintian: warnings left: $(sed -n 's/^W: [^ ]* //p' lintian.txt | paste -sd';' | sed 's/;/; /g')"
fi

dpkg-deb -c "$deb" >contents.txt || die "dpkg-deb cannot list $deb"
files=$(awk '$1 !~ /^d/ { sub(/^\.\//, "/", $6); print $6 }' contents.txt)
pages=$(printf '%s\n' "$files" | sed -n 's|^/usr/share/man/man1/\(.*\)\.1\.gz$|\1|p')
#     path                                       what
while read -r path what; do
  printf '%s\n' "$files" | grep -qx "$path" || fail "no $what: $path"
done <<LIST
/usr/bin/idxtool                       program
/usr/bin/hwsort                        program
/usr/share/doc/$name/copyright         copyright
/usr/share/doc/$name/changelog.gz      changelog
LIST
awk '$2 != "root/root" { print }' contents.txt | grep . && fail "files not owned by root/root"
size=$(awk '$6 != "./" { kib += ($1 ~ /^-/) ? int(($3 + 1023) / 1024) : 1 } END { print kib }' contents.txt)
[ "$(dpkg-deb -f "$deb" Installed-Size)" = "$size" ] ||
  fail "Installed-Size $(dpkg-deb -f "$deb" Installed-Size), but the files take $size KiB as dpkg counts"
dpkg-deb -f "$deb" Depends | grep -q 'libc6 (>=.*libstdc++6 (>=' ||
  fail "Depends: '$(dpkg-deb -f "$deb" Depends)'"
dpkg-deb -f "$deb" Depends | grep -q 'libasan\|libubsan' && fail "the programs are built with sanitizers"

# Installed on this machine: only as root, and only where it overwrites
# nothing; a failure on the way still removes it.
clash=$(for f in $files; do [ -e "$f" ] && echo "$f"; done | head -3 | paste -sd' ')
if [ "$(id -u)" != 0 ]; then
  echo "SKIP: installing $name needs root"
elif dpkg-query -W "$name" >/dev/null 2>&1 || [ -n "$clash" ]; then
  echo "SKIP: installing $name would overwrite what is installed here: ${clash:-the package $name}"
else
  on_exit 'apt-get purge -y -q "$name" >/dev/null 2>&1'
  expect 0 "Setting up $name ($version)" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb"
  bash "$here/check_version.sh" programs "$version" /usr/bin/idxtool /usr/bin/hwsort || fail "--version"
  for page in $pages; do
    MANPAGER=cat MANWIDTH=80 man "$page" >man.txt 2>&1 && grep -qi "^NAME" man.txt && grep -q "$page" man.txt ||
      fail "man $page: $(head -3 man.txt)"
  done
  [ -n "$pages" ] || echo "note: $name holds no manual page yet"
  # remove, not purge: the package keeps no configuration, so nothing of it
  # may be left for a purge to find, not even its entry in dpkg's list.
  expect 0 "Removing $name ($version)" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q "$name"
  left=$(for f in $files /usr/share/doc/$name; do [ -e "$f" ] && echo "$f"; done)
  [ -z "$left" ] || fail "left after apt-get remove: $(echo $left)"
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$name" 2>/dev/null)
  [ -z "$status" ] || [ "${status:1:1}" = n ] || fail "$name after apt-get remove: dpkg says '$status'"
  echo "installed: $(echo $pages | wc -w) manual pages read with man, $(printf '%s\n' $files | wc -l) files, none left after apt-get remove"
fi
finish check_deb
