#!/usr/bin/env bash
# The manuals render with `man -l`, without a warning from the formatter,
# and hold what the tools' help says, every long option among it.
# Usage: manpages_test.sh IDXTOOL.1 HWSORT.1 IDXTOOL HWSORT
set -u
source "$(dirname "$0")/../lib/checks.sh"
scratch

# page FILE TEXT...: FILE renders cleanly and shows every TEXT.
page() {
  local file="$1"; shift
  case_name="man -l $file"
  MANWIDTH=100 MANPAGER=cat man --warnings -l "$file" >page.txt 2>warnings.txt || fail "status $?"
  [ ! -s warnings.txt ] || fail "warnings: $(cat warnings.txt)"
  local text
  for text in "$@"; do grep -qF -- "$text" page.txt || fail "no '$text'"; done
}

page "$1" "idxtool - make, print, check and merge" "idxtool build [OPTION]... OUT TEXT" \
  "--keep-order" "--force" "--dry-run" "--lookup" "idxtool find FILE KEY" "Exit status" \
  "hwsort -t '\t' -k 1,1" "hwsort(1)"
page "$2" "hwsort - sort lines in the headword order" "-k, --key=N[,M]" "-t, --field-separator=SEP" \
  "-o, --output=FILE" "FILE may also be" "Exit status" "idxtool(1)"
# Every long option of every command's help is in the manual too.
for tool in idxtool hwsort; do
  [ "$tool" = idxtool ] && manual=$1 helper=$3 || manual=$2 helper=$4
  options=$({ "$helper" --help; for c in build dump check merge explain find; do
              [ "$tool" = idxtool ] && "$helper" "$c" --help; done; } | grep -oE -- '--[a-z][a-z-]*' | sort -u)
  [ "$(echo "$options" | wc -l)" -gt 5 ] || fail "$tool: too few long options in --help: $options"
  for option in $options; do page "$manual" "$option"; done
done
finish manpages
