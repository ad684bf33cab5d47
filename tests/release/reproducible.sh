#!/usr/bin/env bash
# The release is reproducible and holds what it says.  The working tree (the
# files git tracks or would track) is copied into two directories of
# different names and depths; scripts/release.sh --no-tests runs in each,
# one after the other, with different time zones, umasks and locales.  Then:
#   - both dist/ are the same bytes, and so is every Windows program, DLL and
#     static library of both builds, stripped or not;
#   - dist/ holds exactly the three archives and SHA256SUMS, which checks;
#   - each archive holds exactly its files, and none is an OrlixDB.dll;
#   - the link time in the programs is SOURCE_DATE_EPOCH;
#   - the archive writer refuses an OrlixDB.dll in any letter case.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

epoch=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct)}
a=$tmp/a/orlix
b=$tmp/b/a/much/longer/path/to/another-checkout
for dir in "$a" "$b"; do
  mkdir -p "$dir"
  (cd "$src" && git ls-files -z --cached --others --exclude-standard) |
    (cd "$src" && tar --null --ignore-failed-read -T - -cf - 2>/dev/null) | tar -xf - -C "$dir"
done

echo "== release in $a"
(cd "$a" && umask 022 && TZ=UTC LC_ALL=C SOURCE_DATE_EPOCH=$epoch \
   bash scripts/release.sh --no-tests >"$tmp/a.log" 2>&1) || { cat "$tmp/a.log"; fail "release in $a"; }
echo "== release in $b"
(cd "$b" && umask 077 && TZ=Pacific/Chatham LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH=$epoch \
   bash scripts/release.sh --no-tests >"$tmp/b.log" 2>&1) || { cat "$tmp/b.log"; fail "release in $b"; }

# The same bytes: the archives, and every program and library of both builds.
diff -r "$a/dist" "$b/dist" || fail "the two releases differ"
built_files() { (cd "$1/build/release" && find . -path '*/CMakeFiles' -prune -o \( -name '*.exe' -o -name '*.dll' -o -name '*.a' \) -print | LC_ALL=C sort); }
[ "$(built_files "$a")" = "$(built_files "$b")" ] || fail "the two builds made different programs"
[ -n "$(built_files "$a")" ] || fail "no program was built"
built_count=0
while read -r f; do
  cmp "$a/build/release/$f" "$b/build/release/$f" || fail "$f differs between the two builds"
  built_count=$((built_count + 1))
done < <(built_files "$a")

# What dist/ holds.
version=$(sed -n 's/^VERSION=//p' "$a/build/release/windows-x86/orlix_version.txt")
x86=orlix-indexjob-$version-windows-x86
x64=orlix-indexjob-$version-windows-x64
tools=orlix-indexjob-tools-$version-windows
expected=$(printf '%s\n' SHA256SUMS "$x64.zip" "$x86.zip" "$tools.zip")
[ "$(ls "$a/dist")" = "$expected" ] || fail "dist/ holds $(ls "$a/dist" | tr '\n' ' ')"
(cd "$a/dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not check"
[ "$(wc -l <"$a/dist/SHA256SUMS")" = 3 ] || fail "SHA256SUMS does not cover the three archives"

# zip_names ZIP: the entry names, in the archive's order.
zip_names() { python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$1"; }
while read -r zip entries; do
  actual=$(zip_names "$a/dist/$zip.zip")
  want=$(printf "$zip/%s\n" $entries)
  [ "$actual" = "$want" ] || fail "$zip.zip holds: $(echo $actual)"
  if printf '%s\n' "$actual" | grep -qi '\(^\|/\)orlixdb\.dll$'; then
    fail "$zip.zip holds an OrlixDB.dll"
  fi
done <<EOF
$x86 README.txt indexjob.exe
$x64 README.txt indexjob.exe
$tools README.txt idxtool.exe
EOF

# The link time is SOURCE_DATE_EPOCH.
stamp=$(LC_ALL=C TZ=UTC date -d "@$epoch" '+%a %b %e %H:%M:%S %Y')
for exe in windows-x86/src/indexjob.exe windows-x64/src/indexjob.exe \
           windows-x86/tools/idxtool/idxtool.exe install/windows-x86/bin/idxtool.exe; do
  got=$(x86_64-w64-mingw32-objdump -p "$a/build/release/$exe" | sed -n 's/^Time\/Date[[:space:]]*//p')
  [ "$got" = "$stamp" ] || fail "$exe was linked at '$got', not at SOURCE_DATE_EPOCH ($stamp)"
done

# The archive writer: the same files give the same bytes whatever their
# modes, times and creation order; another SOURCE_DATE_EPOCH, other bytes.
mkdir -p "$tmp/w1/pack/sub" "$tmp/w2/pack/sub"
(umask 022 && cd "$tmp/w1/pack" && printf 'MZ' >tool.exe && chmod 755 tool.exe &&
 echo text >README.txt && echo deeper >sub/note.txt)
(umask 077 && cd "$tmp/w2/pack" && echo deeper >sub/note.txt && echo text >README.txt &&
 printf 'MZ' >tool.exe && chmod 700 tool.exe && touch -d 2001-02-03 README.txt sub/note.txt)
python3 "$src/scripts/release_zip.py" "$tmp/w1.zip" "$epoch" "$tmp/w1/pack"
python3 "$src/scripts/release_zip.py" "$tmp/w2.zip" "$epoch" "$tmp/w2/pack"
python3 "$src/scripts/release_zip.py" "$tmp/w3.zip" $((epoch + 86400)) "$tmp/w1/pack"
cmp "$tmp/w1.zip" "$tmp/w2.zip" || fail "release_zip.py: the same files in other modes and times packed differently"
! cmp -s "$tmp/w1.zip" "$tmp/w3.zip" || fail "release_zip.py: SOURCE_DATE_EPOCH is not in the archive"
[ "$(zip_names "$tmp/w1.zip")" = "$(printf 'pack/%s\n' README.txt sub/note.txt tool.exe)" ] ||
  fail "release_zip.py: entries out of order: $(zip_names "$tmp/w1.zip" | tr '\n' ' ')"
modes=$(python3 -c 'import sys, zipfile; print(" ".join("%o" % (i.external_attr >> 16) for i in zipfile.ZipFile(sys.argv[1]).infolist()))' "$tmp/w2.zip")
[ "$modes" = "100644 100644 100755" ] || fail "release_zip.py: modes $modes"

# The archive writer refuses an OrlixDB.dll, whatever the letter case.
for name in OrlixDB.dll orlixdb.DLL sub/ORLIXDB.dll; do
  rm -rf "$tmp/guard" && mkdir -p "$tmp/guard/pack/$(dirname "$name")"
  echo stand-in >"$tmp/guard/pack/$name"
  echo readme >"$tmp/guard/pack/README.txt"
  if python3 "$src/scripts/release_zip.py" "$tmp/guard/out.zip" "$epoch" "$tmp/guard/pack" 2>/dev/null; then
    fail "release_zip.py packed $name"
  fi
  [ ! -e "$tmp/guard/out.zip" ] && [ ! -e "$tmp/guard/out.zip.tmp" ] || fail "release_zip.py left a file after refusing $name"
done

echo "reproducible: dist/ and $built_count programs and libraries identical in two directories"
cat "$a/dist/SHA256SUMS"
