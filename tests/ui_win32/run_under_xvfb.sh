#!/bin/sh
# Runs a Windows GUI test program under Wine on an X server of its own (xvfb-run picks a free
# display), so that windows can be made and painted with no desktop and no other test's
# windows in the way.
#   run_under_xvfb.sh PROGRAM.exe [test program arguments...]
# WINEPREFIX defaults to a prefix beside the program, made on first use; the prefix's server is
# ended afterwards, as its display goes with the run.
set -eu

program=$1
shift

: "${WINEPREFIX:=$(cd "$(dirname "$program")" && pwd)/wine-ui}"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT INT TERM

# A booting prefix's server may still run; the test starts with one of its own.
wineserver -k >/dev/null 2>&1 || true
here=$(cd "$(dirname "$0")" && pwd)
marker="$WINEPREFIX/.lumivex-ui-tests"
if [ ! -f "$marker" ]; then
  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # With no window manager on the X server, Wine would wait two seconds for one at every
  # window it hides; windows it does not hand to a manager it frames itself, as Windows does.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$marker"
fi
# Chinese captions draw from a CJK face linked behind the dialog font.
if [ -f "$here/../windows/prepare_prefix.sh" ]; then
  sh "$here/../windows/prepare_prefix.sh"
fi
# The server that made the prefix ready has no display: the program must start one of its own
# on the X server below, or its windows get no window driver.
wineserver -k >/dev/null 2>&1 || true

xvfb-run -a -s "-screen 0 1280x1024x24" wine "$program" "$@"
