#!/usr/bin/env bash
# The run command: installs what is missing, builds the program and the
# local imitations, makes a fresh installed program directory, starts the
# marketplace imitation and the IM client imitation on this machine, and
# starts the program pointed at them.
#
#   bash scripts/run.sh
#
# With a usable display (DISPLAY set and answering) the program opens on it
# and the seller drives it by hand (the steps are printed). Without one, a
# private Xvfb is started and autodeliver-demo drives the same flow through
# the real window, prints every step and leaves pictures of the window in
# out/screenshots/; the command exits with the demo's status.
#
# Everything of a run lives under out/ (recreated each time): the program
# directory out/autodeliver/, the IM client's transcript, the imitations'
# logs, and private XDG folders, so the desktop's own handlers and browser
# data are untouched. Safe to run again. The build goes into build/ (shared
# with the test command); AUTODELIVER_BUILD_DIR names another folder.
#
#   AUTODELIVER_IM=wine bash scripts/run.sh
#
# runs the Windows IM client imitation under Wine instead of the X11 one: a
# private prefix out/wine-prefix (never one of the user's) is made, the
# imitation registered there as the aliim handler, and the program finds it
# through WINEPREFIX and delivers through the Win32 helper. The prefix's
# wineserver is stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${AUTODELIVER_BUILD_DIR:-build}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac

bash scripts/install-deps.sh
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD" -j2 --target autodeliver autodeliver-login autodeliver-demo autodeliver-market-sim autodeliver-im-sim table_tool
IM_CHANNEL=${AUTODELIVER_IM:-x11}
if [ "$IM_CHANNEL" = wine ]; then
  cmake --build "$BUILD" -j2 --target autodeliver-im-sim-win32 autodeliver_imhelpers
fi

OUT="$ROOT/out"
APPDIR="$OUT/autodeliver"
SIM="$BUILD/tools/market_sim/autodeliver-market-sim"
IMSIM="$BUILD/tools/im_sim/autodeliver-im-sim"
DEMO="$BUILD/tools/demo/autodeliver-demo"

PIDS=()
WINE64=wine64
[ -x /usr/lib/wine/wine64 ] && WINE64=/usr/lib/wine/wine64
cleanup() {
  set +e
  if [ -n "${IM_STARTED:-}" ]; then "$IMSIM" --quit >/dev/null 2>&1; fi
  if [ -n "${WINE_IM_STARTED:-}" ]; then "$WINE64" 'C:\AliWangWang\AliIM.exe' --quit >/dev/null 2>&1; fi
  if [ -n "${WINE_PREFIX_MADE:-}" ]; then bash "$ROOT/tests/wine/wine_prefix.sh" cleanup "$WINEPREFIX"; fi
  for pid in "${PIDS[@]}"; do
    kill "$pid" 2>/dev/null
  done
  for pid in "${PIDS[@]}"; do
    wait "$pid" 2>/dev/null
  done
}
trap cleanup EXIT

# Waits (at most $2 tenths of a second) until the command $1 succeeds.
wait_until() {
  local tries=$2
  until eval "$1"; do
    tries=$((tries - 1))
    if [ "$tries" -le 0 ]; then return 1; fi
    sleep 0.1
  done
}

echo "== the installed program directory: $APPDIR"
rm -rf "$OUT"
mkdir -p "$APPDIR" "$OUT/screenshots" "$OUT/xdg/data" "$OUT/xdg/config" "$OUT/xdg/cache" "$OUT/runtime"
chmod 700 "$OUT/runtime"
cp "$BUILD/src/app/autodeliver" "$BUILD/src/app/autodeliver-login" "$APPDIR/"
"$BUILD/tools/table_tool/table_tool" init "$APPDIR"

export XDG_DATA_HOME="$OUT/xdg/data" XDG_CONFIG_HOME="$OUT/xdg/config" XDG_CACHE_HOME="$OUT/xdg/cache"
export XDG_RUNTIME_DIR="$OUT/runtime"
export AUTODELIVER_DIR="$APPDIR"
# The browser engine's start-up report is noise here.
export QT_LOGGING_RULES="${QT_LOGGING_RULES:-qt.webenginecontext.info=false}"
export AUTODELIVER_IM_INSTANCE="run-$$"
export AUTODELIVER_IM_TRANSCRIPT="$OUT/im-transcript.jsonl"

echo "== the marketplace imitation"
"$SIM" --port 0 >"$OUT/market-sim.log" 2>&1 &
PIDS+=($!)
if ! wait_until 'grep -q "^listening 127.0.0.1:" "$OUT/market-sim.log"' 200; then
  echo "the marketplace imitation did not start; see $OUT/market-sim.log" >&2
  exit 1
fi
HOSTPORT=$(sed -n 's/^listening \(127\.0\.0\.1:[0-9]*\).*/\1/p' "$OUT/market-sim.log" | head -n 1)
echo "listening on http://$HOSTPORT/"
export AUTODELIVER_LOGIN_HOST="$HOSTPORT" AUTODELIVER_MEMBER_HOST="$HOSTPORT"
export AUTODELIVER_LOGISTICS_HOST="$HOSTPORT" AUTODELIVER_WEB_HOST="$HOSTPORT"
export AUTODELIVER_SERVICE_HOST="$HOSTPORT" AUTODELIVER_LOGIN_SCHEME=http

HEADLESS=1
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then HEADLESS=0; fi

if [ "$HEADLESS" = 1 ]; then
  echo "== no display: a private Xvfb"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$OUT/xvfb.display" 2>"$OUT/xvfb.log" &
  PIDS+=($!)
  if ! wait_until '[ -s "$OUT/xvfb.display" ]' 200; then
    echo "Xvfb did not start; see $OUT/xvfb.log" >&2
    exit 1
  fi
  export DISPLAY=":$(head -n 1 "$OUT/xvfb.display")"
  echo "display $DISPLAY"
fi

if [ "$IM_CHANNEL" = wine ]; then
  echo "== the Windows IM client imitation under Wine, in the private prefix $OUT/wine-prefix"
  export WINEPREFIX="$OUT/wine-prefix" WINEDEBUG=-all
  WINE_PREFIX_MADE=1
  bash "$ROOT/tests/wine/wine_prefix.sh" setup "$WINEPREFIX" "$BUILD/tools/im_sim_win32/autodeliver-im-sim-win32.exe"
  "$WINE64" 'C:\AliWangWang\AliIM.exe' --transcript "Z:${AUTODELIVER_IM_TRANSCRIPT//\//\\}" >"$OUT/im-sim.log" 2>&1 &
  PIDS+=($!)
  WINE_IM_STARTED=1
  if ! wait_until '"$WINE64" "C:\\AliWangWang\\AliIM.exe" --ping' 300; then
    echo "the Windows IM client imitation did not start; see $OUT/im-sim.log" >&2
    exit 1
  fi
else
  echo "== the IM client imitation, registered as the aliim handler (in $XDG_DATA_HOME)"
  "$IMSIM" --transcript "$AUTODELIVER_IM_TRANSCRIPT" >"$OUT/im-sim.log" 2>&1 &
  PIDS+=($!)
  IM_STARTED=1
  "$IMSIM" --install
  if ! wait_until 'xwininfo -root -tree 2>/dev/null | grep -q "\"$AUTODELIVER_IM_INSTANCE\""' 200; then
    echo "the IM client imitation did not start; see $OUT/im-sim.log" >&2
    exit 1
  fi
fi

if [ "$HEADLESS" = 0 ]; then
  cat <<EOF

== autodeliver opens on $DISPLAY. As the seller:
  1. Sign in in the window's browser with the demo account:
       nick 测试卖家   password sim123
  2. On the first page ("店铺发货设置") type an item name, e.g. 点卡10元, into
     the name box and press "添加到列表".
  3. On the page "卡密管理" choose the item in "发货宝贝", paste cards into
     the import box, one per line "CARDNUMBER PASSWORD" (e.g.
     "DK1001 pw-01"), and press "增加入库".
  4. Back on the first page tick "开启自动发货", type the scan interval in
     seconds (e.g. 5) and press "设置".
  5. Place buyer orders in any browser at
       http://$HOSTPORT/buyer.htm
     (title = the item name). Each new order gets its cards in a chat
     message (see $AUTODELIVER_IM_TRANSCRIPT) and is
     consigned; the page "已发卡密" lists the delivered cards. The
     marketplace's state is at http://$HOSTPORT/_sim/state .
  Close the window to end; the imitations stop with it.

EOF
  "$APPDIR/autodeliver"
  exit 0
fi

echo "== autodeliver-demo drives the program's window"
echo
status=0
"$DEMO" --market "$HOSTPORT" --transcript "$AUTODELIVER_IM_TRANSCRIPT" --screenshots "$OUT/screenshots" || status=$?
echo
echo "== screenshots in $OUT/screenshots:"
ls -1 "$OUT/screenshots"
echo "== demo exit status $status"
exit "$status"
