# Sourced by every shell test: one meaning for each check word.
#
#   scratch          a fresh scratch directory as the working directory,
#                    removed when the test ends
#   fail TEXT        count a failed check and go on
#   die TEXT         a failure after which nothing else can be checked
#   expect STATUS TEXT COMMAND...
#                    run COMMAND (output to out.txt), count a failure unless
#                    it exits with STATUS and its output holds TEXT
#   finish NAME      the verdict; exits 1 when any check failed
#
# A test sets case_name to prefix its failures with the case at hand.

failures=0
case_name=""

scratch() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cd "$work" || exit 1
}

fail() {
  echo "FAIL: ${case_name:+$case_name: }$*"
  failures=$((failures + 1))
}

die() {
  echo "FAIL: ${case_name:+$case_name: }$*" >&2
  exit 1
}

expect() {
  local status="$1" text="$2"; shift 2
  "$@" >out.txt 2>&1
  local got=$?
  if [ "$got" -ne "$status" ] || ! grep -qF -- "$text" out.txt; then
    fail "$* -> $got (want $status, '$text'):"
    cat out.txt
  fi
}

finish() {
  [ "$failures" -eq 0 ] && echo "$1: all checks passed"
  exit $((failures > 0))
}
