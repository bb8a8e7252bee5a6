#!/usr/bin/env bash
# lumivex.exe under Wine, on a display of its own, against the Linux simulated board on a
# pseudo-terminal mapped into the prefix as COM31, driven by lumivex-panel-driver.exe through
# operator.steps in each language: the frames the board receives, every message box's title and
# text, the window's title and its tabs in the settings file's order; then the settings file the
# panel leaves behind.
#
#   panel_against_board.sh LUMIVEX_EXE DRIVER_EXE LINUX_BUILD_DIR SOURCE_DIR
#
# WINEPREFIX: the prefix to use (default: "wine" beside the .exe's build folder).
panel_exe=$(realpath "$1")
driver_exe=$(realpath "$2")
boardsim=$(realpath "$3")/bin/lumivex-boardsim
source_dir=$(realpath "$4")
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
# shellcheck source=wine_session.sh
source "$here/wine_session.sh"
[ -x "$boardsim" ] || { echo "missing $boardsim (build it in the Linux build folder)"; exit 1; }

wine_session_start "${WINEPREFIX:-$(dirname "$(dirname "$panel_exe")")/wine}"
failures=0

for language in English SimplifiedChinese; do
  echo "== $language"
  program=$work/program-$language
  make_program_folder "$program" "$panel_exe" "$language"
  cp "$driver_exe" "$work/"
  # The working folder holds the settings file: tabs in an order of their own, an entry that
  # names no page, all three LED colours, no firmware name yet.
  run=$work/run-$language
  mkdir -p "$run"
  printf '[dialog]\r\ndlg1=true\r\ndlg4=true\r\ndlg2=true\r\ndlg6=true\r\ndlg3=true\r\ndlg5=true\r\n[led]\r\nr=true\r\ng=true\r\nb=true\r\n' \
    >"$run/Lumivex.ini"
  start_board 31 --trace --temps 25,-100,27,40
  start_panel "$run" "$program" "$work/panel-$language.log"
  wine "$work/$(basename "$driver_exe")" "$(wine_path "$here/operator.steps")" \
    --language "$(wine_path "$program/Language/$language.lang")" \
    --board-log "$(wine_path "$work/boardCOM31.log")" 2>&1 | tr -d '\r' | tee "$work/driver.out"
  driver_status=${PIPESTATUS[0]}
  if [ "$driver_status" != 0 ]; then
    echo "FAIL $language: the driver stopped (exit $driver_status)"
    echo "--- the board's log"; tail -40 "$work/boardCOM31.log"
    echo "--- the panel's output"; tail -20 "$work/panel-$language.log"
    failures=$((failures + 1))
  elif ! wait_exit "$panel" 30; then
    echo "FAIL $language: the panel did not end after its window closed"
    failures=$((failures + 1))
  elif ! tr -d '\r' <"$run/Lumivex.ini" | grep -qx 'FirmWareName=NOFILE.bin'; then
    echo "FAIL $language: the settings file does not keep the last firmware name:"
    cat "$run/Lumivex.ini"
    failures=$((failures + 1))
  else
    echo "ok   $language: $(grep -c '^step' "$work/driver.out") steps"
  fi
  kill "$panel" 2>/dev/null
  stop_boards
done

echo "== $failures failures"
[ "$failures" -eq 0 ]
