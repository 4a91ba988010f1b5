#!/usr/bin/env bash
# The private Wine prefix the Wine tests of one test run share.
#
#   wine_prefix.sh setup PREFIX SIM_EXE   a fresh prefix (never the user's):
#                                         booted once, with a non-Chinese
#                                         locale, the Win32 IM client
#                                         imitation copied to
#                                         C:\AliWangWang\AliIM.exe and
#                                         registered as the aliim handler;
#                                         its windows left unmanaged (the
#                                         test display has no window manager)
#   wine_prefix.sh cleanup PREFIX         stops the prefix's wineserver
#
# Wine's own prompts for Mono and Gecko are switched off; its debug output
# too. The registry reaches system.reg when the wineserver ends, so setup
# waits for that.
set -euo pipefail
action=$1
prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C LC_ALL=C
loader=wine64
[ -x /usr/lib/wine/wine64 ] && loader=/usr/lib/wine/wine64

case $action in
  setup)
    sim=$3
    case $prefix in
      */wine-prefix) ;;
      *) echo "refusing to use $prefix: not a test prefix" >&2; exit 1 ;;
    esac
    if [ -d "$prefix" ]; then
      wineserver -k 2>/dev/null || true
      rm -rf "$prefix"
    fi
    wineboot -i >/dev/null 2>&1
    # No window manager runs on the test display: Wine's X11 driver would
    # wait two seconds at every closed window for one to withdraw it.
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    mkdir -p "$prefix/drive_c/AliWangWang"
    cp "$sim" "$prefix/drive_c/AliWangWang/AliIM.exe"
    "$loader" 'C:\AliWangWang\AliIM.exe' --install
    wineserver -w
    grep -qi 'aliim\\\\Shell\\\\Open\\\\Command' "$prefix/system.reg" || {
      echo "the aliim handler did not reach system.reg" >&2
      exit 1
    }
    echo "wine prefix ready: $prefix"
    ;;
  cleanup)
    [ -d "$prefix" ] && wineserver -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 setup PREFIX SIM_EXE | cleanup PREFIX" >&2
    exit 2
    ;;
esac
