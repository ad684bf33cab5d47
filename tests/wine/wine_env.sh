# shellcheck shell=bash
# Sourced by the Wine test scripts and the demo: a throwaway prefix and a
# persistent wineserver for it, the registry tool, the imports of a
# Windows file and the dispatch of a runner's cases.  Program output goes
# through files, never pipes: Wine's background services inherit the
# handles and would hold a pipe open.

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# Wine's launcher always starts its 32-bit loader, which a kernel built
# without 32-bit support refuses ("Exec format error"), and which is missing
# where wine32:i386 could not be installed.  There the 64-bit loader is
# called directly: it serves the prefix, the registry tool and 64-bit
# programs, and a 32-bit program cannot be run at all.
: "${wine32_loader:=/usr/lib/wine/wine}"
wine_runs_32bit() { "$wine32_loader" --version >/dev/null 2>&1; }

# wine32_reason: why this machine cannot run the 32-bit build under Wine,
# on one line; nothing where it can.  scripts/deps.sh records why it could
# not install wine32:i386.
: "${wine32_record:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/wine32-unavailable.txt}"
wine32_reason() {
  if wine_runs_32bit; then
    return 0
  elif [ -e "$wine32_loader" ]; then
    echo "this machine's kernel cannot execute 32-bit programs, so Wine cannot run the 32-bit build"
  elif [ -s "$wine32_record" ]; then
    echo "wine32:i386 could not be installed: $(head -1 "$wine32_record")"
  else
    echo "wine32:i386 is not installed (bash scripts/deps.sh wine installs it)"
  fi
}
if ! wine_runs_32bit && [ -x /usr/lib/wine/wine64 ]; then
  export WINELOADER=/usr/lib/wine/wine64
  # A program's output, the SKIP line below included, goes to a file of
  # its case; this line goes to the test's own output, so that each test
  # of the 32-bit build records why its programs do not run.
  if [ "${ORLIX_VIEW:-}" = 32 ]; then
    echo "note: 32-bit programs are not run here: $(wine32_reason)" >&2
  fi
fi

wine_launch() {
  if [ -n "${WINELOADER:-}" ]; then "$WINELOADER" "$@"; else command wine "$@"; fi
}
wineboot() { wine_launch wineboot.exe "$@"; }

# wine PROGRAM ARGS...: runs a program of the build under test.  In a test
# of the 32-bit build (ORLIX_VIEW=32) on a machine that cannot run 32-bit
# programs, the test ends here as skipped (exit 77, CTest's
# SKIP_RETURN_CODE), saying why.
wine() {
  if [ -n "${WINELOADER:-}" ] && [ "${ORLIX_VIEW:-}" = 32 ]; then
    echo "SKIP: $(wine32_reason)" >&2
    exit 77
  fi
  wine_launch "$@"
}

# wine_prefix_init DIR: make (once) and select the prefix in DIR.
wine_prefix_init() {
  export WINEPREFIX="$1"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >"$WINEPREFIX.boot.log" 2>&1 </dev/null || return 1
    wineserver -w
  fi
}

wine_server_start() { wineserver -p >/dev/null 2>&1 </dev/null; }
wine_server_stop() { wineserver -k >/dev/null 2>&1 || true; }

# wine_reg VIEW ARGS...: the reg tool in the 32- or 64-bit registry view.
# On a loaded machine Wine now and then fails to start reg.exe at all
# ("Application could not be started"); only that is tried again, so a
# refusal by the registry tool itself still fails at once.
wine_reg() {
  local view="$1" try; shift
  for try in 1 2 3; do
    wine_launch reg "$@" "/reg:$view" >"$WINEPREFIX.reg.log" 2>&1 </dev/null && return 0
    grep -q 'could not be started' "$WINEPREFIX.reg.log" || return 1
  done
  return 1
}

source "$(dirname "${BASH_SOURCE[0]}")/../lib/checks.sh"

# imported_dlls DUMP: the DLLs an `objdump -p` dump names, lower case,
# sorted, each followed by a space.
imported_dlls() {
  printf '%s
' "$1" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' '
}

# wine_dispatch NAME: a runner's entry, with ORLIX_WORK set.  "setup" makes
# the prefix in $ORLIX_WORK/prefix and starts its server, "cleanup" stops
# it, any other NAME runs the function case_NAME in the prefix, with the
# cases' directories (see fresh) in $ORLIX_WORK/cases, and gives the
# verdict.  A runner may define before_setup and before_case (run just
# before the check that case_NAME exists).
wine_dispatch() {
  local name="$1" prefix="$ORLIX_WORK/prefix"
  work="$ORLIX_WORK/cases"
  case "$name" in
    setup)
      rm -rf "$work" && mkdir -p "$work"
      if declare -F before_setup >/dev/null; then before_setup; fi
      wine_prefix_init "$prefix" || die "wineboot: $(tail -5 "$prefix.boot.log")"
      wine_server_start ;;
    cleanup)
      export WINEPREFIX="$prefix"; wine_server_stop ;;
    *)
      export WINEPREFIX="$prefix"
      if declare -F before_case >/dev/null; then before_case; fi
      declare -F "case_$name" >/dev/null || die "no case $name"
      "case_$name"
      finish "$name" ;;
  esac
}
