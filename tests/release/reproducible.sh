#!/usr/bin/env bash
# The release is reproducible, signs as it says and holds what it says.  The
# working tree (the files git tracks or would track) is copied into three
# directories of different names and depths; scripts/release.sh --no-tests
# runs in each, one after the other, with different time zones, umasks and
# locales: unsigned in the first, signed with a throwaway key and
# self-signed certificate in the other two.  Then:
#   - every Windows program, DLL and static library of the builds is the
#     same bytes, stripped or not; so is the Debian package;
#   - the two signed dist/ are the same bytes, SHA256SUMS included;
#   - every signed .exe verifies against the certificate, was signed at
#     SOURCE_DATE_EPOCH and, its signature removed, is the unsigned
#     release's .exe (scripts/check_signed.sh);
#   - dist/ holds exactly the three archives, the package and SHA256SUMS,
#     which checks; each archive holds exactly its files, none an OrlixDB.dll;
#   - the link time in the programs is SOURCE_DATE_EPOCH;
#   - the archive writer refuses an OrlixDB.dll in any letter case, and
#     pe_pad.py pads only what it may;
#   - a bad command line of release.sh touches nothing;
#   - the package passes tests/release/check_deb.sh.
set -uo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
source "$src/tests/lib/checks.sh"
scratch

epoch=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct)}
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout key.pem -out cert.pem \
  -subj "/CN=Orlix index job test signing" -addext extendedKeyUsage=codeSigning \
  -addext keyUsage=digitalSignature >/dev/null 2>&1 || die "openssl made no key"

a=$work/a/orlix
b=$work/b/a/much/longer/path/to/another-checkout
c=$work/c/signed-again
sign="--sign $work/key.pem $work/cert.pem"
#    directory umask zone             locale  options
while read -r dir mask zone locale options; do
  mkdir -p "$dir"
  (cd "$src" && git ls-files -z --cached --others --exclude-standard) |
    (cd "$src" && tar --null --ignore-failed-read -T - -cf - 2>/dev/null) | tar -xf - -C "$dir"
  echo "== release in $dir $options"
  # shellcheck disable=SC2086
  (cd "$dir" && umask "$mask" && TZ=$zone LC_ALL=$locale SOURCE_DATE_EPOCH=$epoch \
     bash scripts/release.sh --no-tests $options >"$dir.log" 2>&1) || { cat "$dir.log"; die "release in $dir"; }
done <<LIST
$a 022 UTC              C
$b 077 Pacific/Chatham  C.UTF-8 $sign
$c 027 America/St_Johns C.UTF-8 $sign
LIST

version=$(sed -n 's/^VERSION=//p' "$a/build/release/windows-x86/orlix_version.txt")
x86=orlix-indexjob-$version-windows-x86
x64=orlix-indexjob-$version-windows-x64
tools=orlix-indexjob-tools-$version-windows
deb=orlix-tools_${version}_amd64.deb

# The same bytes: every program and library of the builds, the package,
# and the two signed releases whole.
built_files() { (cd "$1/build/release" && find . \( -path '*/CMakeFiles' -o -path ./pack \) -prune -o \( -name '*.exe' -o -name '*.dll' -o -name '*.a' \) -print | LC_ALL=C sort); }
[ -n "$(built_files "$a")" ] || die "no program was built"
[ "$(built_files "$a")" = "$(built_files "$b")" ] || die "the two builds made different programs"
built_count=0
while read -r f; do
  cmp "$a/build/release/$f" "$b/build/release/$f" || fail "$f differs between the two builds"
  built_count=$((built_count + 1))
done < <(built_files "$a")
diff -r "$b/dist" "$c/dist" || fail "the two signed releases differ"
cmp "$a/dist/"*.deb "$b/dist/"*.deb || fail "the Debian packages differ"

# Signed, every program verifies and is the unsigned one with a signature.
echo "== scripts/check_signed.sh cert.pem (signed) (unsigned)"
bash "$src/scripts/check_signed.sh" cert.pem "$b/dist" "$a/dist" >signed.txt 2>&1 || fail "the signed release does not check"
cat signed.txt
signed_at=$(LC_ALL=C TZ=UTC date -d "@$epoch" '+%b %e %H:%M:%S %Y GMT')
[ "$(grep -c "(signed $signed_at)" signed.txt)" = 6 ] || fail "not six programs signed at SOURCE_DATE_EPOCH ($signed_at)"

# A timestamp added when publishing (here by osslsigncode's own time-stamping
# authority, with a throwaway certificate): the program verifies with it,
# and with the signature removed it is still the unsigned program.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout tsa-key.pem -out tsa.pem \
  -subj "/CN=Orlix index job test timestamps" -addext extendedKeyUsage=critical,timeStamping \
  >/dev/null 2>&1 || die "openssl made no time-stamping key"
python3 -m zipfile -e "$b/dist/$tools.zip" signed
python3 -m zipfile -e "$a/dist/$tools.zip" unsigned
osslsigncode add -TSA-certs tsa.pem -TSA-key tsa-key.pem -TSA-time "$(date +%s)" \
  -in "signed/$tools/x86/idxtool.exe" -out stamped.exe >/dev/null 2>&1 || fail "osslsigncode add failed"
expect 0 "Timestamp Server Signature verification: ok" \
  osslsigncode verify -CAfile cert.pem -TSA-CAfile tsa.pem -in stamped.exe
osslsigncode remove-signature -in stamped.exe -out unstamped.exe >/dev/null 2>&1
cmp -s unstamped.exe "unsigned/$tools/x86/idxtool.exe" ||
  fail "a timestamped program without its signature is not the unsigned one"

# What dist/ holds.
expected=$(printf '%s\n' SHA256SUMS "$x64.zip" "$x86.zip" "$tools.zip" "$deb")
for dist in "$a/dist" "$b/dist"; do
  [ "$(cd "$dist" && LC_ALL=C ls)" = "$expected" ] || fail "$dist holds $(ls "$dist" | tr '\n' ' ')"
  (cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "$dist/SHA256SUMS does not check"
  [ "$(wc -l <"$dist/SHA256SUMS")" = 4 ] || fail "$dist/SHA256SUMS does not cover the four files"
done

# zip_names ZIP: the entry names, in the archive's order.
zip_names() { python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$1"; }
while read -r zip entries; do
  actual=$(zip_names "$a/dist/$zip.zip")
  # shellcheck disable=SC2059,SC2086
  [ "$actual" = "$(printf "$zip/%s\n" $entries)" ] || fail "$zip.zip holds: $(echo $actual)"
  if printf '%s\n' "$actual" | grep -qi '\(^\|/\)orlixdb\.dll$'; then
    fail "$zip.zip holds an OrlixDB.dll"
  fi
done <<LIST
$x86 README.txt indexjob.exe
$x64 README.txt indexjob.exe
$tools README.txt x64/hwsort.exe x64/idxtool.exe x86/hwsort.exe x86/idxtool.exe
LIST

# The link time is SOURCE_DATE_EPOCH.
stamp=$(LC_ALL=C TZ=UTC date -d "@$epoch" '+%a %b %e %H:%M:%S %Y')
for exe in windows-x86/src/indexjob.exe windows-x64/src/indexjob.exe \
           windows-x86/tools/idxtool/idxtool.exe install/windows-x86/bin/idxtool.exe \
           install/windows-x64/bin/hwsort.exe install/windows-x86/bin/hwsort.exe; do
  got=$(x86_64-w64-mingw32-objdump -p "$a/build/release/$exe" | sed -n 's/^Time\/Date[[:space:]]*//p')
  [ "$got" = "$stamp" ] || fail "$exe was linked at '$got', not at SOURCE_DATE_EPOCH ($stamp)"
done

# The archive writer: the same files give the same bytes whatever their
# modes, times and creation order; another SOURCE_DATE_EPOCH, other bytes.
mkdir -p w1/pack/sub w2/pack/sub
(umask 022 && cd w1/pack && printf 'MZ' >tool.exe && chmod 755 tool.exe &&
 echo text >README.txt && echo deeper >sub/note.txt)
(umask 077 && cd w2/pack && echo deeper >sub/note.txt && echo text >README.txt &&
 printf 'MZ' >tool.exe && chmod 700 tool.exe && touch -d 2001-02-03 README.txt sub/note.txt)
python3 "$src/scripts/release_zip.py" w1.zip "$epoch" w1/pack
python3 "$src/scripts/release_zip.py" w2.zip "$epoch" w2/pack
python3 "$src/scripts/release_zip.py" w3.zip $((epoch + 86400)) w1/pack
cmp w1.zip w2.zip || fail "release_zip.py: the same files in other modes and times packed differently"
! cmp -s w1.zip w3.zip || fail "release_zip.py: SOURCE_DATE_EPOCH is not in the archive"
[ "$(zip_names w1.zip)" = "$(printf 'pack/%s\n' README.txt sub/note.txt tool.exe)" ] ||
  fail "release_zip.py: entries out of order: $(zip_names w1.zip | tr '\n' ' ')"
modes=$(python3 -c 'import sys, zipfile; print(" ".join("%o" % (i.external_attr >> 16) for i in zipfile.ZipFile(sys.argv[1]).infolist()))' w2.zip)
[ "$modes" = "100644 100644 100755" ] || fail "release_zip.py: modes $modes"

# The archive writer refuses an OrlixDB.dll, whatever the letter case.
for name in OrlixDB.dll orlixdb.DLL sub/ORLIXDB.dll; do
  rm -rf guard && mkdir -p "guard/pack/$(dirname "$name")"
  echo stand-in >"guard/pack/$name"
  echo readme >guard/pack/README.txt
  if python3 "$src/scripts/release_zip.py" guard/out.zip "$epoch" guard/pack 2>/dev/null; then
    fail "release_zip.py packed $name"
  fi
  [ ! -e guard/out.zip ] && [ ! -e guard/out.zip.tmp ] || fail "release_zip.py left a file after refusing $name"
done

# pe_pad.py: a program already on the boundary, and the released ones, stay
# as they are; what is no program or is signed is refused, untouched.
signed_exe=$(cd "$b/build/release/pack" && ls ./*/indexjob.exe | head -1)
printf 'MZ not a program' >not-pe.exe
cp "$b/build/release/pack/$signed_exe" signed.exe
cp "$a/build/release/pack/$signed_exe" aligned.exe
#      file        status
while read -r file status; do
  cp "$file" before
  python3 "$src/scripts/pe_pad.py" "$file" 2>/dev/null
  got=$?
  [ "$got" = "$status" ] || fail "pe_pad.py $file: exit $got, want $status"
  cmp -s before "$file" || fail "pe_pad.py changed $file"
done <<LIST
aligned.exe 0
not-pe.exe  1
signed.exe  1
LIST

# A bad command line: usage, and dist/ as it was.
sums=$(cat "$a/dist/SHA256SUMS")
for args in "--sign" "--sign key.pem" "--sign $work/missing.pem $work/cert.pem" \
            "--sign $work/key.pem $work/cert.pem --sign $work/key.pem $work/cert.pem" "--tests"; do
  # shellcheck disable=SC2086
  expect 2 "usage: scripts/release.sh" bash "$a/scripts/release.sh" $args
  [ "$(cat "$a/dist/SHA256SUMS" 2>/dev/null)" = "$sums" ] || fail "release.sh $args touched dist/"
done

echo "== tests/release/check_deb.sh $deb"
bash "$src/tests/release/check_deb.sh" "$a/dist/$deb" || fail "the Debian package does not check"

[ "$failures" -eq 0 ] && echo "reproducible: dist/ and $built_count programs and libraries identical in two directories; two signed releases identical"
[ "$failures" -eq 0 ] && cat "$a/dist/SHA256SUMS" "$b/dist/SHA256SUMS"
finish reproducible
