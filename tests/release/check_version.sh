#!/usr/bin/env bash
# The version every program and file reports is the project's.
#   check_version.sh programs VERSION PROGRAM...
#     each PROGRAM --version prints "NAME VERSION" and exits 0
#   check_version.sh resource VERSION NUMBERS PRODUCT_VERSION WINDRES EXE
#     the version resource of EXE, as windres reads it back
set -euo pipefail
mode=$1 version=$2
shift 2
source "$(dirname "$0")/../lib/checks.sh"

case "$mode" in
  programs)
    for program in "$@"; do
      name=$(basename "$program")
      out=$("$program" --version) || die "$name --version failed"
      [ "$out" = "$name $version" ] || die "$name --version says '$out', not '$name $version'"
    done
    ;;
  resource)
    numbers=$1 product=$2 windres=$3 exe=$4
    rc=$("$windres" -i "$exe" -O rc) || die "windres cannot read $exe"
    want=(
      "FILEVERSION $numbers"
      "PRODUCTVERSION $numbers"
      "VALUE \"FileVersion\", \"$version\""
      "VALUE \"ProductVersion\", \"$version\""
      "VALUE \"OrlixProductVersion\", \"$product\""
      "VALUE \"OriginalFilename\", \"indexjob.exe\""
    )
    for line in "${want[@]}"; do
      # windres writes the four numbers with a space after each comma.
      pattern=$(printf '%s' "$line" | sed 's/,\([0-9]\)/, *\1/g')
      printf '%s\n' "$rc" | grep -Eq "^ *${pattern}\$" || die "no '$line' in the version resource of $exe"
    done
    ;;
  *) die "unknown mode '$mode'" ;;
esac
echo "$mode: $version"
