#!/bin/sh
# Runs a Windows test program under Wine against Linux simulated boards on pseudo-terminals.
#   run_under_wine.sh PROGRAM.exe LUMIVEX-BOARDSIM [test program arguments...]
# Boards are mapped into the Wine prefix as COM ports: COM5, a board at 115200 baud, also
# registered in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM; COM6 and COM7, boards that close their line
# after their first frame (one for each test that needs one). WINEPREFIX defaults to a prefix
# beside the program, made on first use.
set -eu

program=$1
boardsim=$2
shift 2

: "${WINEPREFIX:=$(cd "$(dirname "$program")" && pwd)/wine-serial/prefix}"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/lumivex-wine-serial.XXXXXX")
# The boards register themselves as virtual ports; keep that out of the user's own folder.
export XDG_RUNTIME_DIR="$work"
boards=""

cleanup() {
  for pid in $boards; do kill "$pid" 2>/dev/null || true; done
  for pid in $boards; do wait "$pid" 2>/dev/null || true; done
  rm -f "$WINEPREFIX/dosdevices/com5" "$WINEPREFIX/dosdevices/com6" "$WINEPREFIX/dosdevices/com7"
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Starts a board and links its pseudo-terminal into the prefix as COM<number>.
start_board() {
  number=$1
  shift
  "$boardsim" --com "$number" "$@" >"$work/board$number.txt" 2>&1 &
  boards="$boards $!"
  tries=0
  while ! grep -qs ' -> /dev/pts/' "$work/board$number.txt"; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
      echo "run_under_wine: the board for COM$number did not start:" >&2
      cat "$work/board$number.txt" >&2
      exit 1
    fi
    sleep 0.05
  done
  pts=$(sed -n 's/.* -> \(\/dev\/pts\/[0-9]*\) .*/\1/p' "$work/board$number.txt")
  ln -sfn "$pts" "$WINEPREFIX/dosdevices/com$number"
}

start_board 5 --baud 115200
start_board 6 --baud 115200 --hangup-after 1
start_board 7 --baud 115200 --hangup-after 1

# A persistent server keeps the values that reg adds for as long as the test runs. Whatever
# server this prefix still has (a first boot's, or one of a run that was killed) is ended first:
# the prefix belongs to these tests alone.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v LumivexBoard /d COM5 /f >/dev/null 2>&1

status=0
LUMIVEX_TEST_BOARD_PORT=5 LUMIVEX_TEST_HANGUP_PORT=6 LUMIVEX_TEST_STACK_HANGUP_PORT=7 \
  LUMIVEX_TEST_REGISTERED_PORT=5 \
  wine "$program" "$@" || status=$?
exit "$status"
