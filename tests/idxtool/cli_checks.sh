# Sourced by idxtool's command-line tests: a scratch directory as the
# working directory, a failure count, and `expect`.  $tool is the idxtool
# under test.

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect STATUS TEXT COMMAND...: run idxtool COMMAND, check status and output.
expect() {
  local status="$1" text="$2"; shift 2
  "$tool" "$@" >out.txt 2>&1
  local got=$?
  if [ "$got" -ne "$status" ] || ! grep -qF -- "$text" out.txt; then
    fail "idxtool $* -> $got (want $status, '$text'):"; cat out.txt
  fi
}

# finish NAME: the verdict and the exit status.
finish() {
  [ "$failures" -eq 0 ] && echo "$1: all checks passed"
  exit $((failures > 0))
}
