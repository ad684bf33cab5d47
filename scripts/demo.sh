#!/usr/bin/env bash
# The main job on a built-in example: the 32-bit utility under Wine (the
# 64-bit one where the machine cannot run 32-bit programs), in a
# demo prefix whose registry holds an installation of version 6.0002, with
# the stand-in OrlixDB.dll beside it.  The dictionary's three index files
# are made with idxtool from Debian's word list plus hand-made keys; the
# utility merges the two sources into 00010301.idx.  Run it twice: the
# second run of the utility finds nothing new and the index stays the same.

# neighbours FILE: each hand-made record of a dump (reference 9000NN) on
# one line with the records before and after it, where there are such.
neighbours() {
  awk -F'\t' '
    { line[NR] = $0 }
    $2 ~ /^9000[0-9][0-9]$/ { hit[++hits] = NR }
    END {
      for (h = 1; h <= hits; h++) {
        out = ""
        for (n = hit[h] - 1; n <= hit[h] + 1; n++) {
          if (n < 1 || n > NR) continue
          text = line[n]; gsub(/\t/, " ", text)
          out = out (out == "" ? "" : "   |   ") text
        }
        print "  " out
      }
    }' "$1"
}

# Sourced (by the tests), the demo only defines its helpers.
[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh build wine demo
source tests/wine/wine_env.sh

# The product's installations are 32-bit; a machine that cannot run the
# 32-bit build under Wine shows the job with the 64-bit build instead.
arch=x86 view=32
reason=$(wine32_reason)
if [ -n "$reason" ]; then
  arch=x64 view=64
  echo "32-bit programs cannot run here ($reason): the demo uses the 64-bit build."
fi
for preset in host windows-$arch; do
  echo "Building the $preset preset..."
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
idxtool="$PWD/build/host/tools/idxtool/idxtool"
words=/usr/share/dict/american-english

demo="$PWD/build/demo"
mkdir -p "$demo/app"
echo "Making the demo prefix in $demo/prefix (first time only)..."
wine_prefix_init "$demo/prefix"
wine_server_start
trap wine_server_stop EXIT

wine_reg $view add 'HKLM\SOFTWARE\Quorvane\Orlix\System\InstallInfo' /v CurrentVersion /t REG_SZ /d 6.0002 /f
wine_reg $view add 'HKLM\SOFTWARE\Quorvane\Orlix\Tessary\Dict' /v 00010301Path /t REG_SZ /d 'C:\Orlix\Dict' /f
dict="$WINEPREFIX/drive_c/Orlix/Dict"
rm -rf "$dict" && mkdir -p "$dict"

cp build/windows-$arch/src/indexjob.exe "$demo/app/"
cp build/windows-$arch/orlixdb/OrlixDB.dll "$demo/app/"

# The installed index holds the odd lines of the word list, in the list's
# own order (not the collation's); the first source the even lines and
# again every tenth word of the installed index, which the merge keeps once.
# References are line numbers.  Backslashes and TABs would need escapes;
# the word list has none, but the escaping keeps that true for any list.
escape='{ gsub(/\\/, "\\\\"); gsub(/\t/, "\\t") }'
awk "$escape"' NR % 2 == 1 { printf "%s\t%d\n", $0, NR }' "$words" >"$demo/00010301.txt"
awk "$escape"' NR % 2 == 0 || NR % 20 == 1 { printf "%s\t%d\n", $0, NR }' "$words" >"$demo/01010301.txt"
# The second source, by hand: spaces, punctuation, bytes >= 0x80 and "@"
# suffixes, deliberately unsorted.
cat >"$demo/7F010301.txt" <<'KEYS'
ice cream	900001
  leading space	900002
a la carte	900003
rock'n'roll	900004
co-op	900005
coop	900006
A.M.	900007
e-mail	900008
\xE9clair	900009
caf\xE9	900010
na\xEFve	900011
\xC4rger	900012
bank@10	900013
bank@2	900014
bank@1	900015
bank	900016
R2-D2	900017
4-H	900018
KEYS
for name in 00010301 01010301 7F010301; do
  "$idxtool" build "$dict/$name.idx" "$demo/$name.txt" >/dev/null
done

count() { "$idxtool" dump "$1" | wc -l; }
echo
echo "Before: 00010301.idx $(count "$dict/00010301.idx") records," \
     "01010301.idx $(count "$dict/01010301.idx"), 7F010301.idx $(count "$dict/7F010301.idx")"

run_utility() {
  set +e
  wine "$demo/app/indexjob.exe" >"$demo/app/output.txt" 2>&1 </dev/null
  code=$?
  set -e
  echo "indexjob.exe exit code: $code (1: the job ran, whatever the library did; 0: it did not)"
}

run_utility
echo "After:  00010301.idx $(count "$dict/00010301.idx") records" \
     "(each distinct record of the three files once)"
"$idxtool" dump "$dict/00010301.idx" >"$demo/merged.txt"
echo "First lines of the merged index (key TAB reference):"
head -12 "$demo/merged.txt" | sed 's/^/  /'
echo "  ..."
echo "The hand-made keys of 7F010301.idx, with their neighbours:"
neighbours "$demo/merged.txt"
echo "check: $("$idxtool" check "$dict/00010301.idx" 2>&1)"

first=$(sha256sum <"$dict/00010301.idx")
echo
echo "Running the utility a second time..."
run_utility
if [ "$(sha256sum <"$dict/00010301.idx")" = "$first" ]; then
  echo "Second run: 00010301.idx is byte for byte the same."
else
  echo "Second run: 00010301.idx CHANGED" >&2
  exit 1
fi
