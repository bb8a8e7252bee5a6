#!/bin/sh
# Processor time of a wait on a quiet port under Wine: the test program's own and its
# wineserver's, over 5 s of BoardPort.AQuietPortGivesNoEventWhileItIsWaitedOn.
#   quiet_wait_cpu.sh windows_serial_tests.exe LUMIVEX-BOARDSIM
set -eu
program=$1
boardsim=$2
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=$(cd "$(dirname "$program")" && pwd)/wine-serial/prefix}"
export WINEPREFIX
out=$(mktemp "${TMPDIR:-/tmp}/lumivex-quiet-wait.XXXXXX")
LUMIVEX_TEST_QUIET_SECONDS=9 "$here/run_under_wine.sh" "$program" "$boardsim" \
  --gtest_filter='BoardPort.AQuietPort*' >"$out" 2>&1 &
runner=$!
until grep -qs "RUN .*AQuietPort" "$out"; do sleep 0.2; done
sleep 1
name=$(basename "$program")
test_pid=$(pgrep -f "$name --gtest" | head -1)
server_pid=""
for pid in $(pgrep -f wineserver); do
  if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
    server_pid=$pid
  fi
done
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks "$test_pid")
s0=$(ticks "$server_pid")
sleep 5
t1=$(ticks "$test_pid")
s1=$(ticks "$server_pid")
wait "$runner" || true
echo "quiet port, 5 s: test program $(( (t1 - t0) * 1000 / hz )) ms CPU," \
  "wineserver $(( (s1 - s0) * 1000 / hz )) ms CPU"
grep "quiet wait" "$out" || true
rm -f "$out"
