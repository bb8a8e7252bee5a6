#!/usr/bin/env bash
# lumivex-panel-driver.exe against its stand-in window under Wine: every kind of step passes on
# a window that behaves, and a step whose check does not hold fails with a message naming it.
#
#   driver_selftest.sh STANDIN_EXE DRIVER_EXE
standin=$(realpath "$1")
driver=$(realpath "$2")
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
# shellcheck source=wine_session.sh
source "$here/wine_session.sh"
wine_session_start "${WINEPREFIX:-$(dirname "$(dirname "$driver")")/wine}"
failures=0

# run_against STEPS_FILE: the driver's exit status against a fresh stand-in window.
run_against() {
  start_windows_program "$work/standin.log" "$standin" "Driver test"
  local window=$last_pid
  wine "$driver" "$(wine_path "$1")" --shots "$(wine_path "$work")" --lang-tag test \
    2>&1 | tr -d '\r' >"$work/driver.out"
  local status=${PIPESTATUS[0]}
  kill "$window" 2>/dev/null
  wait_exit "$window" 30
  return "$status"
}

if run_against "$here/selftest.steps" && [ -s "$work/windows-test-one.bmp" ]; then
  echo "ok   every step against the stand-in window"
else
  echo "FAIL the steps against the stand-in window:"; cat "$work/driver.out"
  failures=$((failures + 1))
fi

# Checks that must not hold: each must stop the run at its own line with its reason.
check_fails() {
  local name=$1 step=$2 reason=$3
  printf 'window "Driver test"\n%s\n' "$step" >"$work/bad.steps"
  if run_against "$work/bad.steps"; then
    echo "FAIL $name: the driver passed"; failures=$((failures + 1))
  elif ! grep -q "FAILED at line 2 .*$reason" "$work/driver.out"; then
    echo "FAIL $name: not the expected reason:"; cat "$work/driver.out"; failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}
check_fails "wrong tabs" "tabs One Three" "tabs are \[One | Two\]"
check_fails "wrong caption" "text 1001 Disconnect" 'reads "Connect"'
check_fails "no such control" "click 1234" "no control 1234"
printf 'window "Driver test"\nclick 1001\nbox "Board connection" "Something else."\n' >"$work/bad.steps"
if run_against "$work/bad.steps" || ! grep -q 'FAILED at line 3 .*"Connected to the board."' "$work/driver.out"; then
  echo "FAIL wrong box text:"; cat "$work/driver.out"; failures=$((failures + 1))
else
  echo "ok   wrong box text"
fi
printf 'window "Driver test"\nclick 1001\ntab Two\n' >"$work/bad.steps"
if run_against "$work/bad.steps" || ! grep -q 'FAILED at line 3 .*unexpected message box' "$work/driver.out"; then
  echo "FAIL a box left open:"; cat "$work/driver.out"; failures=$((failures + 1))
else
  echo "ok   a box left open"
fi

echo "== $failures failures"
[ "$failures" -eq 0 ]
