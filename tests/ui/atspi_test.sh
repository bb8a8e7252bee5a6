#!/usr/bin/env bash
# atspi_test.sh PANEL BOARDSIM
# Runs the panel under a virtual X server with its own session bus and accessibility bus, a
# simulated board on a private virtual port, and checks it through AT-SPI as a screen reader
# would (atspi_check.py). Exit 77 (skipped) when the tools for that are not installed.
set -euo pipefail
panel=$1
boardsim=$2
here=$(cd "$(dirname "$0")" && pwd)

skip() { echo "SKIP: $*"; exit 77; }
command -v Xvfb >/dev/null || skip "Xvfb is not installed (xvfb)"
command -v dbus-run-session >/dev/null || skip "dbus-run-session is not installed (dbus-daemon)"
[ -x /usr/libexec/at-spi-bus-launcher ] || skip "no AT-SPI bus launcher (at-spi2-core)"
# Debian's bindings live with Debian's interpreter, whatever python3 comes first on PATH.
python=""
for candidate in /usr/bin/python3 python3; do
  if "$candidate" -c 'import pyatspi' 2>/dev/null; then python=$candidate; break; fi
done
[ -n "$python" ] || skip "python3-pyatspi is not installed"

runtime=$(mktemp -d)
work=$(mktemp -d)
chmod 700 "$runtime"
board="" xvfb=""
cleanup() {
  [ -n "$board" ] && kill "$board" 2>/dev/null && wait "$board" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$runtime" "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$runtime
red=173

"$boardsim" --no-pace --currents "$red,41,97" >"$work/board.log" 2>&1 &
board=$!
for _ in $(seq 100); do grep -q ' -> ' "$work/board.log" && break; sleep 0.1; done
grep -q ' -> ' "$work/board.log" || { echo "FAIL: board: $(cat "$work/board.log")"; exit 1; }

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=$(head -n1 "$work/display" 2>/dev/null || true)
[ -n "$display" ] || skip "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$display
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

# Every tab, all three colours: the channel buttons are enabled.
printf '[dialog]\ndlg1=true\ndlg2=true\ndlg3=true\ndlg4=true\ndlg5=true\n[led]\nr=true\ng=true\nb=true\n' \
  >"$work/Lumivex.ini"

cd "$work"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 NO_AT_BRIDGE=0
dbus-run-session -- bash -c '
  "$1" >"$2/panel.log" 2>&1 &
  panel=$!
  status=0
  timeout 120 "$5" "$3" "$4" || status=$?
  kill "$panel" 2>/dev/null; wait "$panel" 2>/dev/null
  exit $status
' atspi "$panel" "$work" "$here/atspi_check.py" "$red" "$python" || {
  status=$?
  echo "panel log:"; cat "$work/panel.log"
  exit $status
}
