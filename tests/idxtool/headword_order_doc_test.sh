#!/usr/bin/env bash
# The table of examples in docs/headword-order.md against idxtool explain:
# every row whose first two cells are keys in backticks must give, as the
# first line of `idxtool explain`, its result and rule.  The table must name
# every rule, so a page that lost its rows fails too.  The page's sessions
# of idxtool explain must be what it prints.
# Usage: headword_order_doc_test.sh IDXTOOL DOC
set -u
source "$(dirname "$0")/../lib/checks.sh"
tool="$1" doc="$2" rows=0
declare -A rules=()

# Cell N of a table row, without its padding and backticks.
cell() { awk -F'|' -v n="$2" '{ s = $(n + 1); sub(/^ /, "", s); sub(/ $/, "", s); gsub(/`/, "", s); print s }' <<<"$1"; }

while IFS= read -r row; do
  first=$(cell "$row" 1) second=$(cell "$row" 2) result=$(cell "$row" 3) rule=$(cell "$row" 4)
  got=$("$tool" explain "$first" "$second" | head -1)
  [ "$got" = "$result"$'\t'"$rule" ] || fail "explain '$first' '$second' gives '$got', the page says '$result $rule'"
  rules[$rule]=1
  rows=$((rows + 1))
done < <(grep -E '^\| `[^`]*` \| `[^`]*` \| -?[0-9]+ \| ' "$doc")

# Each example session of explain, "    $ idxtool explain K1 K2" and the
# indented lines after it, must be what idxtool prints.
while IFS= read -r command; do
  read -ra args <<<"${command#    \$ idxtool }"
  want=$(c="$command" awk '$0 == ENVIRON["c"] { on = 1; next } on && /^    / { print substr($0, 5); next } { on = 0 }' "$doc")
  got=$("$tool" "${args[@]}")
  if [ "$got" != "$want" ]; then
    fail "the page's session of '${command#    \$ }' differs from idxtool's:"
    diff <(echo "$want") <(echo "$got")
  fi
  rows=$((rows + 1))
done < <(grep -E '^    \$ idxtool explain ' "$doc")

for rule in letters rest digits "inner punctuation" case "leading punctuation" suffix equal; do
  [ -n "${rules[$rule]:-}" ] || fail "no example of rule '$rule'"
done
finish "docs/headword-order.md: $rows examples of idxtool explain"
