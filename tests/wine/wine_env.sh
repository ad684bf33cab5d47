# Sourced by the Wine test scripts: a throwaway prefix and a persistent
# wineserver for it.  Program output goes through files, never pipes:
# Wine's background services inherit the handles and would hold a pipe open.

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

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
wine_reg() {
  local view="$1"; shift
  wine reg "$@" "/reg:$view" >"$WINEPREFIX.reg.log" 2>&1 </dev/null
}
