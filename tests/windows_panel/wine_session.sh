# Sourced by the Windows panel tests: a display of their own (Xvfb), the Wine prefix, and Linux
# simulated boards on pseudo-terminals mapped into the prefix as COM ports (dosdevices/com<n>,
# listed in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM).
#
#   wine_session_start PREFIX   work folder ($work), display, wine server; cleans up at exit
#   start_board COM OPTION...   a lumivex-boardsim (from $boardsim) on COM<n>, log $work/boardCOM.log
#   stop_boards                 ends every board and removes its mapping
#   wine_path PATH              the Windows name of a Linux path (drive Z:)
#   start_windows_program LOG CMD...   a Windows program in the background; its pid in $last_pid
#   make_program_folder DIR EXE LANG the program folder as installed: the .exe, Config.ini
#                               choosing LANG, Language\ (from $source_dir/resources)
set -uo pipefail

serialcomm_key='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
boards=()
listed=()
mapped=()
programs=()
xvfb_pid=""

wine_path() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }

wine_session_cleanup() {
  for pid in "${programs[@]}"; do kill "$pid" 2>/dev/null; done
  stop_boards
  # The prefix's server ends with the display its windows live on: a later program must not
  # meet a desktop whose display is gone.
  wineserver -k >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}

# A display number nobody holds: its lock file is created by the X server that takes it.
free_display() {
  local n
  for n in $(seq 120 199); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { echo "$n"; return 0; }
  done
  return 1
}

wine_session_start() {
  export WINEPREFIX=$1
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # A server already running in the prefix (the test run's own, started without a display) would
  # give the session's programs a desktop with no window driver: it ends, and the session's
  # first program starts one on the session's display.
  wineserver -k >/dev/null 2>&1
  work=$(mktemp -d /tmp/lumivex-panel.XXXXXX)
  export XDG_RUNTIME_DIR=$work/run
  mkdir -p "$XDG_RUNTIME_DIR"
  trap wine_session_cleanup EXIT
  local display
  for _ in 1 2 3; do
    display=$(free_display) || { echo "no free X display number"; exit 1; }
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
      [ -e "/tmp/.X11-unix/X$display" ] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.05
    done
    # Another test may have taken the same number at the same moment: try the next one.
    if kill -0 "$xvfb_pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$display" ]; then break; fi
    xvfb_pid=""
  done
  [ -n "$xvfb_pid" ] || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
  export DISPLAY=:$display
  # The prefix as the panel needs it (a CJK face behind the dialog font) where that step exists.
  local prepare
  prepare=$(dirname "${BASH_SOURCE[0]}")/../windows/prepare_prefix.sh
  if [ -f "$prepare" ]; then
    sh "$prepare" || { echo "cannot prepare the prefix $WINEPREFIX"; exit 1; }
  elif [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
  fi
  wineserver -p >/dev/null 2>&1
  # The server's background services start with its first program and keep that program's
  # output open: started here, they hold /dev/null, not the pipe of a test that reads a
  # program's output to its end.
  wineboot </dev/null >/dev/null 2>&1
}

# Values added to the volatile HARDWARE key live as long as the wine server does; the key itself
# must stay, since reg cannot make it again below its volatile parent.
list_port() {
  wine reg add "$serialcomm_key" /v "\\Device\\Lumivex$1" /t REG_SZ /d "COM$1" /f >/dev/null ||
    { echo "cannot list COM$1 in $serialcomm_key"; exit 1; }
  listed+=("\\Device\\Lumivex$1")
}

unlist() {
  for name in "${listed[@]}"; do wine reg delete "$serialcomm_key" /v "$name" /f >/dev/null 2>&1; done
  listed=()
}

start_board() {
  local com=$1
  shift
  local log=$work/boardCOM$com.log
  "$boardsim" --com "$com" "$@" >"$log" 2>&1 &
  boards+=($!)
  local device=""
  for _ in $(seq 200); do
    device=$(sed -n "s/^lumivex-boardsim: COM$com -> \([^ ]*\) at .*/\1/p" "$log")
    [ -n "$device" ] && break
    sleep 0.05
  done
  [ -n "$device" ] || { echo "board COM$com did not start:"; cat "$log"; exit 1; }
  ln -sfn "$device" "$WINEPREFIX/dosdevices/com$com"
  mapped+=("$com")
  list_port "$com"
}

stop_boards() {
  for pid in "${boards[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${boards[@]}"; do wait "$pid" 2>/dev/null; done
  boards=()
  for com in "${mapped[@]}"; do rm -f "$WINEPREFIX/dosdevices/com$com"; done
  mapped=()
  unlist
}

start_windows_program() {
  local log=$1
  shift
  wine "$@" >"$log" 2>&1 &
  last_pid=$!
  programs+=("$last_pid")
}

# start_panel RUN PROGRAM LOG: lumivex.exe of the folder PROGRAM, working in RUN (where its
# settings file is); sets panel to its process.
start_panel() {
  cd "$1" || exit 1
  start_windows_program "$3" "$2/lumivex.exe"
  cd - >/dev/null || exit 1
  panel=$last_pid
}

# wait_exit PID SECONDS: true when the program ended within the bound.
wait_exit() {
  local end=$((SECONDS + $2))
  while kill -0 "$1" 2>/dev/null; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
  return 0
}

make_program_folder() {
  local folder=$1 exe=$2 language=$3
  mkdir -p "$folder/Language"
  cp "$exe" "$folder/" || exit 1
  cp "$source_dir"/resources/Language/*.lang "$folder/Language/" || exit 1
  printf '[themes]\r\nSolution=%s\r\n' "$language" >"$folder/Config.ini"
}
