#!/usr/bin/env bash
# Checks a signed release against the unsigned release of the same commit:
# both hold the same archives with the same entries; every .exe of the
# signed one verifies against CERT and, with its signature removed, is the
# unsigned one's .exe byte for byte; every other entry is the same bytes.
# So whoever rebuilds the unsigned release from the sources can see that
# the signed programs are those sources and nothing else.
#
# Usage: scripts/check_signed.sh CERT SIGNED_DIR UNSIGNED_DIR
#   (directories holding the release's .zip archives, e.g. dist/)
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: scripts/check_signed.sh CERT SIGNED_DIR UNSIGNED_DIR" >&2; exit 2; }
cert=$1 signed=$2 unsigned=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
bad() { echo "check_signed: $*" >&2; exit 1; }
[ -r "$cert" ] || bad "cannot read the certificate $cert"
zip_names() { python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$1"; }
names() { (cd "$1" && find . -maxdepth 1 -name '*.zip' -printf '%P\n' | LC_ALL=C sort); }
[ -n "$(names "$unsigned")" ] || bad "$unsigned holds no archive"
[ "$(names "$signed")" = "$(names "$unsigned")" ] ||
  bad "the archives differ: $(names "$signed" | paste -sd' ') against $(names "$unsigned" | paste -sd' ')"

count=0
for zip in $(names "$unsigned"); do
  rm -rf "$tmp/s" "$tmp/u"
  python3 -m zipfile -e "$signed/$zip" "$tmp/s"
  python3 -m zipfile -e "$unsigned/$zip" "$tmp/u"
  entries=$(zip_names "$unsigned/$zip")
  [ "$(zip_names "$signed/$zip")" = "$entries" ] ||
    bad "$zip: the entries differ"
  for entry in $entries; do
    case "$entry" in
      *.exe)
        osslsigncode verify -CAfile "$cert" -in "$tmp/s/$entry" >"$tmp/verify.txt" 2>&1 ||
          bad "$entry: the signature does not verify against $cert: $(grep -i 'fail\|error' "$tmp/verify.txt" | head -3)"
        when=$(sed -n 's/^[[:space:]]*Signing time: *//p' "$tmp/verify.txt" | head -1)
        rm -f "$tmp/stripped.exe"
        osslsigncode remove-signature -in "$tmp/s/$entry" -out "$tmp/stripped.exe" >/dev/null 2>&1 ||
          bad "$entry: osslsigncode cannot remove its signature"
        cmp -s "$tmp/stripped.exe" "$tmp/u/$entry" ||
          bad "$entry: without its signature it is not the unsigned release's file"
        cmp -s "$tmp/s/$entry" "$tmp/u/$entry" && bad "$entry is not signed"
        echo "$entry: signature verifies (signed ${when:-at no recorded time}); without it, byte for byte the unsigned file"
        count=$((count + 1)) ;;
      *) cmp -s "$tmp/s/$entry" "$tmp/u/$entry" || bad "$entry differs from the unsigned release's" ;;
    esac
  done
done
[ "$count" -gt 0 ] || bad "no .exe in the archives"
echo "check_signed: $count signed programs verify against $(basename "$cert") and are the unsigned release's programs once unsigned"
