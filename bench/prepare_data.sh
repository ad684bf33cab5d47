#!/usr/bin/env bash
# Makes the benchmark's key sets from Debian's word lists, shuffled with a
# fixed seed so that every run on every machine sorts the same input.
# Usage: bench/prepare_data.sh OUTDIR
#   OUTDIR/american.txt  OUTDIR/french.txt  OUTDIR/german.txt   each list shuffled
#   OUTDIR/homographs.txt  the American list and three homograph copies of
#                          each word, "word@1" "word@2" "word@3", shuffled
#   OUTDIR/suffixed1m.txt  1,000,000 keys "word@N" drawn from all three lists
#   OUTDIR/digits1m.txt    1,000,000 digit-heavy keys "w0001a2b3c": every key
#                          ties on its letters, the digits decide
#   OUTDIR/*.text          homographs and digits1m as idxtool build's text,
#                          KEY <TAB> line number
set -euo pipefail

out=${1:?usage: prepare_data.sh OUTDIR}
dict=/usr/share/dict
mkdir -p "$out"

# Fisher-Yates with the Park-Miller generator: every product stays below
# 2^53, so any awk computes the same sequence in doubles.
shuffle_awk='
function next_random() { seed = (seed * 16807) % 2147483647; return seed }
{ line[n++] = $0 }
END {
  for (i = n - 1; i > 0; i--) {
    j = next_random() % (i + 1)
    t = line[i]; line[i] = line[j]; line[j] = t
  }
  for (i = 0; i < n; i++) print line[i]
}'

shuffle() { LC_ALL=C awk -v seed="$1" "$shuffle_awk"; }

for pair in american:american-english french:french german:ngerman; do
  name=${pair%%:*} list=$dict/${pair#*:}
  [ -s "$out/$name.txt" ] || shuffle 20261209 < "$list" > "$out/$name.txt"
done

# Where homographs meet, the headwords end together and the suffixes decide.
if [ ! -s "$out/homographs.txt" ]; then
  LC_ALL=C awk '{ print; print $0 "@1"; print $0 "@2"; print $0 "@3" }' "$dict/american-english" |
  shuffle 31337 > "$out/homographs.txt"
fi

# Every word of the three lists once, then words drawn again until there
# are a million keys; each key gets an "@" suffix of 1 to 4 digits, the
# entry number an index would carry.
if [ ! -s "$out/suffixed1m.txt" ]; then
  cat "$dict/american-english" "$dict/french" "$dict/ngerman" |
  LC_ALL=C awk -v seed=4242 -v total=1000000 '
    function next_random() { seed = (seed * 16807) % 2147483647; return seed }
    { word[n++] = $0 }
    END {
      for (i = 0; i < total; i++) {
        w = i < n ? word[i] : word[next_random() % n]
        print w "@" (1 + next_random() % 9999)
      }
    }' | shuffle 777 > "$out/suffixed1m.txt"
fi
if [ ! -s "$out/digits1m.txt" ]; then
  LC_ALL=C awk -v seed=2718 'function r(n) { seed = (seed * 16807) % 2147483647; return seed % n }
    BEGIN { for (i = 0; i < 1000000; i++) printf "w%04da%db%dc\n", r(10000), r(10), r(10) }' > "$out/digits1m.txt"
fi
for name in homographs digits1m; do
  [ -s "$out/$name.text" ] || awk '{ print $0 "\t" NR }' "$out/$name.txt" > "$out/$name.text"
done

wc -l "$out"/*.txt
