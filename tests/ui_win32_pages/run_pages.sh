#!/usr/bin/env bash
# The pages' tests on the Win32 backend under Wine, each case in a process of its own against a
# fresh Linux simulated board on COM41 (a pseudo-terminal mapped into the prefix), whose trace
# the cases read as LUMIVEX_BOARD_LOG.
#
#   run_pages.sh TESTS_EXE LINUX_BUILD_DIR SOURCE_DIR [GTEST_FILTER]
#
# WINEPREFIX: the prefix to use (default: "wine" beside the .exe's build folder).
tests_exe=$(realpath "$1")
boardsim=$(realpath "$2")/bin/lumivex-boardsim
source_dir=$(realpath "$3")
filter=${4:-*}
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
# shellcheck source-path=SCRIPTDIR source=../windows_panel/wine_session.sh
source "$here/../windows_panel/wine_session.sh"
[ -x "$boardsim" ] || { echo "missing $boardsim (build it in the Linux build folder)"; exit 1; }
[ -n "$source_dir" ] || exit 1

prefix=${WINEPREFIX:-$(dirname "$(dirname "$tests_exe")")/wine}
# A server left by an earlier run keeps windows on that run's display, gone by now: windows
# would fail to be made. The run starts a server of its own and ends it before its display.
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
wine_session_start "$prefix"
trap 'wineserver -k >/dev/null 2>&1; wine_session_cleanup' EXIT
# With no window manager on the X server, Wine would wait for one at every window it hides.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1

cases=$(wine "$tests_exe" --gtest_list_tests --gtest_filter="$filter" | tr -d '\r' |
        awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }')
[ -n "$cases" ] || { echo "no cases listed"; exit 1; }
failures=0
count=0
for name in $cases; do
  count=$((count + 1))
  # The upgrade cases name the outcome they expect.
  outcome=()
  case $name in
    *Upgrade*/Success) outcome=(--upgrade-outcome 0) ;;
    *Upgrade*/Failed) outcome=(--upgrade-outcome 4) ;;
  esac
  start_board 41 --baud 9600 --trace --currents 10,20,30 --temps 25,-100,27,40 "${outcome[@]}"
  export LUMIVEX_BOARD_LOG
  LUMIVEX_BOARD_LOG=$(wine_path "$work/boardCOM41.log")
  if wine "$tests_exe" --gtest_filter="$name" >"$work/case.out" 2>&1; then
    echo "ok   $name"
  else
    echo "FAIL $name"
    tr -d '\r' <"$work/case.out"
    echo "--- the board's log"
    tail -30 "$work/boardCOM41.log"
    failures=$((failures + 1))
  fi
  stop_boards
done
echo "== $count cases, $failures failures"
[ "$failures" -eq 0 ]
