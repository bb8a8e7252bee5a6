#!/usr/bin/env bash
# lumivexctl.exe under Wine against the Linux simulated board: each board's pseudo-terminal is
# mapped into the Wine prefix as dosdevices/com<n> and listed in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM,
# and every command's output, exit status and frames are compared with the Linux lumivexctl
# against the same board.
#
#   ctl_against_board.sh WINDOWS_LUMIVEXCTL_EXE LINUX_BUILD_DIR
#
# WINEPREFIX: the prefix to use (default: "wine" beside the .exe's build folder).
set -uo pipefail
exe=$(realpath "$1")
linux_build=$(realpath "$2")
boardsim=$linux_build/bin/lumivex-boardsim
linux_ctl=$linux_build/bin/lumivexctl
for program in "$boardsim" "$linux_ctl"; do
  [ -x "$program" ] || { echo "missing $program (build it in the Linux build folder)"; exit 1; }
done
export WINEPREFIX=${WINEPREFIX:-$(dirname "$(dirname "$exe")")/wine}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d /tmp/lumivex-wine.XXXXXX)
# The Linux side finds the boards through its own virtual ports folder; Wine through SERIALCOMM.
export XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR"
# The boards on pseudo-terminals mapped into the prefix: start_board, list_port, stop_boards.
# shellcheck source=../windows_panel/wine_session.sh
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/../windows_panel/wine_session.sh"
key=$serialcomm_key
failures=0

cleanup() {
  stop_boards
  rm -rf "$work"
}
trap cleanup EXIT

# Values added to the volatile HARDWARE key live as long as the wine server does (the key
# itself must stay). Wine lists the machine's own serial ports at boot (COM1 for a /dev/ttyS0
# with a UART behind it), as the Linux port map does; both sides then search them first.
wineserver -p >/dev/null 2>&1

# Frames of a --trace log without their timestamps.
frames() { sed -n 's/^[0-9.]* \([<>]\)/\1/p' "$1"; }

# run NAME ARGS...: the same command on Linux and on Windows; stdout, exit status and frames
# must agree. run_sent: for answers that change between the two runs (temperatures follow the
# LED power; a read after the other side's write), only the exit status, the frames sent and
# the shape of the output must agree.
sent_only=""
run_sent() {
  sent_only=1
  run "$@"
  sent_only=""
}
frames_of() { if [ -n "$sent_only" ]; then frames "$1" | grep '^>'; else frames "$1"; fi; }
shape() { if [ -n "$sent_only" ]; then sed 's/[0-9-]\+/N/g' "$1"; else cat "$1"; fi; }
run() {
  local name=$1
  shift
  "$linux_ctl" --trace "$@" >"$work/linux.out" 2>"$work/linux.err"
  local linux_status=$?
  wine "$exe" --trace "$@" >"$work/win.out" 2>"$work/win.err"
  local win_status=$?
  tr -d '\r' <"$work/win.out" >"$work/win.out.lf"
  tr -d '\r' <"$work/win.err" >"$work/win.err.lf"
  local why=""
  [ "$linux_status" = "$win_status" ] || why="exit status $linux_status on Linux, $win_status on Windows"
  cmp -s <(shape "$work/linux.out") <(shape "$work/win.out.lf") || why="$why; output differs"
  diff <(frames_of "$work/linux.err") <(frames_of "$work/win.err.lf") >"$work/frames.diff" ||
    why="$why; frames differ"
  if [ -n "$why" ]; then
    echo "FAIL $name: $why"
    echo "--- Linux ($linux_status)"; cat "$work/linux.out" "$work/linux.err"
    echo "--- Windows ($win_status)"; cat "$work/win.out.lf" "$work/win.err.lf"
    head -20 "$work/frames.diff"
    failures=$((failures + 1))
  else
    echo "ok   $name (exit $win_status, $(frames "$work/win.err.lf" | wc -l) frames)"
  fi
}

# expect NAME STATUS PATTERN ARGS...: Windows alone, for what only Windows can say.
expect() {
  local name=$1 want=$2 pattern=$3
  shift 3
  wine "$exe" "$@" >"$work/win.out" 2>"$work/win.err"
  local status=$?
  if [ "$status" != "$want" ] || ! tr -d '\r' <"$work/win.err" | grep -q -- "$pattern"; then
    echo "FAIL $name: exit $status (want $want), stderr:"; cat "$work/win.err"
    failures=$((failures + 1))
  else
    echo "ok   $name (exit $status)"
  fi
}

for baud in 9600 115200; do
  echo "== every command against a board at $baud baud"
  start_board 21 --baud "$baud"
  p=(--port COM21)
  run "connect $baud" "${p[@]}" connect
  run "led on $baud" "${p[@]}" led on
  run "current write $baud" "${p[@]}" current write 120 130 140
  run "current $baud" "${p[@]}" current
  run_sent "current set $baud" "${p[@]}" current set green 77
  run "colour $baud" "${p[@]}" colour blue
  run "input $baud" "${p[@]}" input vga
  run_sent "temp $baud" "${p[@]}" temp
  run "flip $baud" "${p[@]}" flip 1 0
  run "led off $baud" "${p[@]}" led off
  run "upgrade $baud" "${p[@]}" upgrade KVB03.bin --wait
  run "upgrade missing file $baud" "${p[@]}" upgrade NOFILE.bin --wait
  run "usage error $baud" "${p[@]}" flip 2 0
  run "wrong speed $baud" "${p[@]}" --baud $([ "$baud" = 9600 ] && echo 115200 || echo 9600) temp
  stop_boards
done

echo "== discovery through the registry: a silent port listed first"
start_board 22 --silent
start_board 23 --baud 115200
run_sent "search" temp
grep -q "connected COM23" "$work/win.err.lf" || { echo "FAIL search: not connected on COM23"; failures=$((failures + 1)); }
wine "$exe" ports >"$work/ports.out" 2>&1
"$linux_ctl" ports >"$work/linux-ports.out" 2>&1
windows_ports=$(tr -d '\r' <"$work/ports.out" | cut -d' ' -f1 | tr '\n' ' ')
linux_ports=$(cut -d' ' -f1 <"$work/linux-ports.out" | tr '\n' ' ')
if [ "$windows_ports" != "$linux_ports" ] || [[ "$windows_ports" != *"COM22 COM23 "* ]]; then
  echo "FAIL ports: Linux lists $linux_ports, Windows $windows_ports"; failures=$((failures + 1))
else
  echo "ok   ports: $windows_ports from the registry, as on Linux"
fi
stop_boards

echo "== a silent board, a vanished port, a port held by another program, bad names"
start_board 24 --silent
run "silent board" --port COM24 temp
# The first program holds the port for the two handshakes at two speeds (over a second).
wine "$exe" --port COM24 temp >/dev/null 2>&1 &
holder=$!
sleep 0.8
expect "port in use" 3 "in use by another program" --port COM24 --baud 115200 temp
wait "$holder"
# Listed in the registry, but its device is gone.
list_port 25
expect "vanished port" 3 "cannot open COM25" --port COM25 temp
expect "bad port name" 2 "COM" --port COM300 temp
run "not a port name" --port LPT1x temp
stop_boards

echo "== a board that hangs up"
start_board 26 --hangup-after 3
"$linux_ctl" --port COM26 led on >"$work/linux.out" 2>"$work/linux.err"
linux_status=$?
stop_boards
start_board 26 --hangup-after 3
wine "$exe" --port COM26 led on >"$work/win.out" 2>"$work/win.err"
win_status=$?
if [ "$linux_status" != "$win_status" ]; then
  echo "FAIL hang-up: exit $linux_status on Linux, $win_status on Windows"; cat "$work/win.err"
  failures=$((failures + 1))
else
  echo "ok   hang-up (exit $win_status on both)"
fi
stop_boards

echo "== no SERIALCOMM key at all"
# Wine makes the key again at its next start only, so this comes last and ends the server.
wine reg delete "$key" /f >/dev/null 2>&1
expect "no registry key" 3 "serial port" temp
wineserver -k 2>/dev/null

echo "== $failures failures"
[ "$failures" -eq 0 ]
