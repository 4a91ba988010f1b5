#!/usr/bin/env bash
# The package and the installed program, checked the way a seller meets them.
#
#   bash packaging_test.sh BUILD_DIR APP_ID
#
# 1. Builds the .deb from the build tree with CPack (into BUILD_DIR/packages)
#    and checks it with lintian (no errors).
# 2. Installs the tree into a temporary DESTDIR and checks that it holds the
#    same files as the package; validates the desktop entry and the AppStream
#    file; checks that the icon, the man pages and the template are there.
# 3. Runs the installed program under X (the caller's display, else a
#    private Xvfb) with a temporary HOME and its peers pointed at a closed
#    port of 127.0.0.1: the data folder ~/.local/share/autodeliver appears
#    with the template's tables, mode 0700 for folders and 0600 for files;
#    the window shows with its icon; a second start is refused in one line
#    (also without a display) while the first runs; after the first is
#    killed with SIGKILL, a new start is accepted.
#
# Prints one line per check and a closing "packaging: N passed, N failed".
set -u
BUILD=$(cd "$1" && pwd)
APP_ID=$2
WORK=$(mktemp -d /tmp/autodeliver-packaging.XXXXXX)
PIDS=()
passed=0
failed=0

cleanup() {
  for pid in "${PIDS[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT

check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
    passed=$((passed + 1))
  else
    echo "FAILED: $what"
    failed=$((failed + 1))
  fi
}

finish() {
  echo "packaging: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit $?
}

# Stops at once when a check that later ones build on fails.
must() {
  check "$@" || finish
}

# Waits (at most $2 tenths of a second) until the command $1 succeeds.
wait_until() {
  local tries=$2
  until eval "$1"; do
    tries=$((tries - 1))
    if [ "$tries" -le 0 ]; then return 1; fi
    sleep 0.1
  done
}

mode_of() { stat -c %a "$1"; }

# ---- 1. the package
cpack_run() {
  (cd "$BUILD" && cpack --config CPackConfig.cmake -G DEB) >"$WORK/cpack.log" 2>&1
}
must "cpack builds the .deb" cpack_run
DEB=$(ls -t "$BUILD"/packages/autodeliver_*.deb 2>/dev/null | head -n 1)
must "the .deb is in $BUILD/packages" test -n "$DEB"
echo "package: $DEB"
lintian_run() {
  lintian --fail-on error "$DEB" >"$WORK/lintian.log" 2>&1
  local rc=$?
  sed 's/^/  lintian: /' "$WORK/lintian.log" | grep -v "not recommended" || true
  return $rc
}
check "lintian finds no error in the package" lintian_run
depends_named() { dpkg-deb -f "$DEB" Depends | grep -q "libqt6webenginewidgets6" &&
  dpkg-deb -f "$DEB" Depends | grep -q "libqt6webenginecore6-bin"; }
check "the package depends on the libraries and the browser engine's helper" depends_named

# ---- 2. the installed tree
ROOT="$WORK/root"
must "cmake --install into a DESTDIR" env DESTDIR="$ROOT" cmake --install "$BUILD" --prefix /usr >"$WORK/install.log" 2>&1
same_files() {
  (cd "$ROOT" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$WORK/tree.txt"
  dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort >"$WORK/deb.txt"
  diff "$WORK/tree.txt" "$WORK/deb.txt"
}
check "the package holds exactly the installed files" same_files
BIN="$ROOT/usr/bin"
SHARE="$ROOT/usr/share"
check "desktop-file-validate accepts the desktop entry" desktop-file-validate "$SHARE/applications/$APP_ID.desktop"
check "appstreamcli accepts the AppStream file (no network)" \
  appstreamcli validate --no-net "$SHARE/metainfo/$APP_ID.metainfo.xml"
icons_there() {
  local size
  test -f "$SHARE/icons/hicolor/scalable/apps/$APP_ID.svg" || return 1
  for size in 16 22 24 32 48 64 128 256; do
    [ "$(identify -format '%m %wx%h' "$SHARE/icons/hicolor/${size}x${size}/apps/$APP_ID.png")" = "PNG ${size}x${size}" ] ||
      return 1
  done
  grep -qx "Icon=$APP_ID" "$SHARE/applications/$APP_ID.desktop"
}
check "the desktop entry's icon is in the hicolor theme (SVG and 16 to 256 px)" icons_there
check "man pages for the program and the table tool" \
  test -s "$SHARE/man/man1/autodeliver.1.gz" -a -s "$SHARE/man/man1/autodeliver-tables.1.gz"
TEMPLATE="$SHARE/autodeliver/template"
template_there() {
  local t
  for t in 配置 监控宝贝 库存卡密 已发卡密; do
    "$BIN/autodeliver-tables" check "$TEMPLATE/data/$t.edb" >/dev/null || return 1
  done
  test -s "$TEMPLATE/card.mdb"
}
check "the template holds the four tables and card.mdb (checked by autodeliver-tables)" template_there

# ---- 3. the installed program
if [ -z "${DISPLAY:-}" ]; then
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/xvfb.display" 2>"$WORK/xvfb.log" &
  PIDS+=($!)
  must "a private Xvfb starts" wait_until '[ -s "$WORK/xvfb.display" ]' 200
  export DISPLAY=":$(head -n 1 "$WORK/xvfb.display")"
fi

HOME_DIR="$WORK/home"
mkdir -p "$HOME_DIR/.local/share/applications" "$HOME_DIR/.config" "$WORK/runtime"
chmod 700 "$WORK/runtime"
# A stand-in for the IM client, registered as the handler of aliim: links,
# so the start-up check finds one.
cat >"$HOME_DIR/.local/share/applications/im-stand-in.desktop" <<'DESKTOP'
[Desktop Entry]
Type=Application
Name=IM client stand-in
Exec=/bin/true %u
MimeType=x-scheme-handler/aliim;
NoDisplay=true
DESKTOP
printf '[Default Applications]\nx-scheme-handler/aliim=im-stand-in.desktop\n' >"$HOME_DIR/.config/mimeapps.list"

# The installed program's environment: a fresh HOME, no portable folder,
# every peer on a closed port of this machine.
CLOSED=127.0.0.1:1
run_env=(env -u AUTODELIVER_DIR -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_CACHE_HOME
  HOME="$HOME_DIR" XDG_RUNTIME_DIR="$WORK/runtime"
  AUTODELIVER_LOGIN_HOST=$CLOSED AUTODELIVER_MEMBER_HOST=$CLOSED AUTODELIVER_LOGISTICS_HOST=$CLOSED
  AUTODELIVER_WEB_HOST=$CLOSED AUTODELIVER_SERVICE_HOST=$CLOSED AUTODELIVER_LOGIN_SCHEME=http
  QT_LOGGING_RULES="qt.webenginecontext.info=false")
DATA="$HOME_DIR/.local/share/autodeliver"
TITLE="自动发货系统 - "

# The id of the program's main window for process $1, empty when none.
window_of() {
  local w
  for w in $(xwininfo -root -children 2>/dev/null | sed -n 's/^ *\(0x[0-9a-f]*\) ".*/\1/p'); do
    if xprop -id "$w" _NET_WM_PID 2>/dev/null | grep -q "= $1\$" &&
      xprop -id "$w" _NET_WM_NAME 2>/dev/null | grep -q "$TITLE"; then
      echo "$w"
      return 0
    fi
  done
  return 1
}

"${run_env[@]}" "$BIN/autodeliver" >"$WORK/first.log" 2>&1 &
FIRST=$!
PIDS+=($FIRST)
must "the installed program opens its window" wait_until 'window_of $FIRST >/dev/null' 600
WIN=$(window_of $FIRST)
version_in_title() { xprop -id "$WIN" _NET_WM_NAME | grep -q "1.0.0.1007 (Build 2012-11-20 Release)"; }
check "the window title carries the version" version_in_title
# Qt hands the window manager the sizes up to 128 px.
icon_set() { xprop -id "$WIN" _NET_WM_ICON | grep -q "Icon (16 x 16)" &&
  xprop -id "$WIN" _NET_WM_ICON | grep -q "Icon (128 x 128)"; }
check "the window has the program's icon (16 to 128 px)" icon_set

folder_modes() {
  local f
  [ "$(mode_of "$DATA")" = 700 ] && [ "$(mode_of "$DATA/data")" = 700 ] || return 1
  [ "$(mode_of "$DATA/card.mdb")" = 600 ] || { echo "  card.mdb has mode $(mode_of "$DATA/card.mdb")"; return 1; }
  # Names may hold spaces (the login browser's kept profile has "Local State").
  while IFS= read -r -d '' f; do
    [ "$(mode_of "$f")" = 600 ] || { echo "  $f has mode $(mode_of "$f")"; return 1; }
  done < <(find "$DATA/data" -type f -print0)
  while IFS= read -r -d '' f; do  # the delivery log's folder, the login browser's profile
    [ "$(mode_of "$f")" = 700 ] || { echo "  $f has mode $(mode_of "$f")"; return 1; }
  done < <(find "$DATA/data" -mindepth 1 -type d -print0)
}
check "the data folder is 0700 and its card files 0600" folder_modes
tables_from_template() {
  local f
  for f in $(cd "$TEMPLATE" && find . -type f | sed 's|^\./||'); do
    case "$f" in data/配置.*) continue ;; esac  # the start-up check writes the IM client's path
    cmp -s "$TEMPLATE/$f" "$DATA/$f" || { echo "  $f differs from the template"; return 1; }
  done
  "$BIN/autodeliver-tables" dump --json "$DATA/data/配置.edb" | grep -q '"配置名": "阿里旺旺核心文件路径", "配置数据": "/bin/true"'
}
check "the data folder holds the template's tables (the settings row filled in)" tables_from_template
lock_held() { ! flock -n "$DATA/autodeliver.lock" true; }
check "the first copy holds the folder's lock" lock_held

# A second start while the first runs.
"${run_env[@]}" timeout 60 "$BIN/autodeliver" >"$WORK/second.out" 2>"$WORK/second.err"
second=$?
refused() {
  [ "$second" -ne 0 ] && [ "$second" -ne 124 ] && [ "$(wc -l <"$WORK/second.err")" -eq 1 ] &&
    grep -q "另一个副本（进程 $FIRST）正在使用数据文件夹 $DATA，已把它的窗口提到前面" "$WORK/second.err"
}
check "a second start is refused in one line and shows the first window (exit $second)" refused
sed 's/^/  /' "$WORK/second.err"
env -u DISPLAY "${run_env[@]}" timeout 60 "$BIN/autodeliver" >/dev/null 2>"$WORK/headless.err"
headless=$?
refused_headless() {
  [ "$headless" -ne 0 ] && [ "$headless" -ne 124 ] && [ "$(wc -l <"$WORK/headless.err")" -eq 1 ] &&
    grep -q "另一个副本（进程 $FIRST）正在使用数据文件夹" "$WORK/headless.err"
}
check "without a display a second start says so in one line (exit $headless)" refused_headless
first_alive() { kill -0 "$FIRST" 2>/dev/null && [ "$(window_of $FIRST)" = "$WIN" ]; }
check "the first copy still runs with its window" first_alive

# The first copy dies without any chance to clean up.
kill -KILL "$FIRST"
wait "$FIRST" 2>/dev/null
"${run_env[@]}" "$BIN/autodeliver" >"$WORK/third.log" 2>&1 &
THIRD=$!
PIDS+=($THIRD)
accepted() { wait_until 'window_of $THIRD >/dev/null' 600 && kill -0 "$THIRD" 2>/dev/null && lock_held &&
  [ "$(head -n 1 "$DATA/autodeliver.lock")" = "$THIRD" ]; }
check "after the first is killed with SIGKILL a new start is accepted" accepted
kill -TERM "$THIRD" 2>/dev/null
wait "$THIRD" 2>/dev/null

finish
