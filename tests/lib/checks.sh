# shellcheck shell=bash disable=SC2016
# Sourced by every shell test: one meaning for each word.
#
#   scratch          a fresh scratch directory ($work) as the working
#                    directory, removed when the test ends
#   on_exit COMMAND  run COMMAND when the test ends, however it ends
#   fresh NAME       case NAME: a new empty directory of its own as the
#                    working directory
#   fail TEXT        count a failed check and go on
#   die TEXT         a failure after which nothing else can be checked
#   expect STATUS TEXT COMMAND...
#                    run COMMAND (output to out.txt), count a failure unless
#                    it exits with STATUS and its output holds TEXT (is
#                    empty, when TEXT is)
#   finish NAME      the verdict; exits 1 when any check failed
#
# With `tool` set to the idxtool under test (a path, or the words that run
# it, as `wine idxtool.exe`):
#   ix STATUS TEXT ARGS...   expect of `idxtool ARGS...`
#   idxtool ARGS...          idxtool, input from nothing, output to out.txt
#   idxtool_ok ARGS...       idxtool, which must succeed
#   indexes OLD NEW          t.idx of OLD records (old.txt), s.idx of NEW
#                            others (new.txt); before.idx is t.idx, after.idx
#                            what merging s.idx into it gives
#   same FILE OTHER          FILE holds OTHER's bytes
#   nothing_left [NAME...]   no temporary or lock file of a job is in the
#                            working directory, but the NAMEs
#
#   wait_for FILE PID        until FILE (a pattern) exists, then a moment
#                            more; PID's job must not end before
#   now_ms                   milliseconds of the clock
#   as USER UMASK COMMAND... COMMAND as USER, in USER's groups; in a
#                            background job or a subshell, its process
#   reachable PROGRAM        the path of a copy of PROGRAM every user may run
#
# A test sets case_name to prefix its failures with the case at hand.  A
# command that does not exist (a helper renamed since a case was written)
# ends the test as failed, rather than letting the case pass unchecked.

failures=0
case_name=""
exit_hooks=""
trap 'eval "$exit_hooks"' EXIT
trap 'exit 127' USR1
command_not_found_handle() { echo "FAIL: no command '$1'" >&2; kill -USR1 $$; return 127; }

on_exit() { exit_hooks+="$1;"; }

scratch() {
  work=$(mktemp -d)
  on_exit 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"'
  cd "$work" || exit 1
}

fresh() {
  case_name="$1"
  rm -rf "${work:?}/$1" && mkdir -p "$work/$1" && cd "$work/$1" || die "no directory $work/$1"
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
  if [ "$got" -ne "$status" ] || { [ -n "$text" ] && ! grep -qF -- "$text" out.txt; } ||
    { [ -z "$text" ] && [ -s out.txt ]; }; then
    fail "$* -> $got (want $status, '$text'):"
    cat out.txt
  fi
}

finish() {
  [ "$failures" -eq 0 ] && echo "$1: all checks passed"
  exit $((failures > 0))
}

ix() { expect "$1" "$2" "${tool[@]}" "${@:3}"; }
idxtool() { "${tool[@]}" "$@" >out.txt 2>&1 </dev/null; }
idxtool_ok() { idxtool "$@" || die "idxtool $*: $(cat out.txt)"; }

records() { awk -v n="$1" -v first="$2" 'BEGIN { for (i = first; i < first + n; i++) printf "key%07d\t%d\n", i, i }'; }

# Made once a test (a million records take a while), then copied; in the
# test's shell, so that a Wine test that cannot run ends as skipped.
indexes() {
  local made="$work/indexes-$1-$2" here=$PWD
  if [ ! -d "$made" ]; then
    rm -rf "$made.part" && mkdir -p "$made.part" && cd "$made.part" || die "no $made.part"
    records "$1" 1 >old.txt && records "$2" 2000000 >new.txt && cat old.txt new.txt >both.txt
    idxtool_ok build t.idx old.txt
    idxtool_ok build s.idx new.txt
    idxtool_ok build after.idx both.txt
    cp t.idx before.idx && rm both.txt out.txt && cd "$here" && mv "$made.part" "$made" || die "cannot keep the indexes"
  fi
  cp "$made"/* . || die "cannot copy the indexes"
}

same() { cmp -s "$2" "$1" || fail "$1 is not $2"; }

nothing_left() {
  local left
  left=$(ls -A | grep -E '\.orlixdb-(tmp\.[0-9]+|lock)$' | grep -vxF -f <(printf '%s\n' "$@"))
  [ -z "$left" ] || fail "left behind: $(echo "$left" | paste -sd" ")"
}

wait_for() {
  local tries=0
  until compgen -G "$1" >/dev/null; do
    kill -0 "$2" 2>/dev/null || die "the job ended before $1 appeared"
    [ $((tries += 1)) -le 6000 ] || die "$1 never appeared"
    sleep 0.01
  done
  sleep 0.05
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

as() {
  local user="$1" mask="$2"; shift 2
  local run=(setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups bash -c 'umask "$0" && exec "$@"' "$mask" "$@")
  if [ "$BASHPID" = $$ ]; then "${run[@]}"; else exec "${run[@]}"; fi
}

# A test that runs as other users cannot count on reaching the build tree:
# a clone in a private home (mode 700) keeps them out.  The copy lives in
# the scratch directory, which they may enter.
reachable() {
  mkdir -p "$work/bin" && cp "$1" "$work/bin/" && chmod 755 "$work" "$work/bin" || die "cannot copy $1"
  local copy="$work/bin/${1##*/}"
  [ "$(id -u)" != 0 ] || (as nobody 022 test -x "$copy") ||
    die "other users cannot reach $copy: give TMPDIR a directory they may enter"
  echo "$copy"
}
