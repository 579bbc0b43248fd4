#!/bin/sh
# End to end: Plovix-demo in a real terminal (tmux). The main window lists the demo
# bench, the unsupported-USB notice comes about five seconds after start-up, and
# Escape ends the program.
# Usage: demo_tmux.sh /path/to/Plovix-demo
set -u

demo=${1:?usage: demo_tmux.sh /path/to/Plovix-demo}
session="plovix_e2e_$$"
# shellcheck source=tests/e2e/tmux_lib.sh
. "$(dirname "$0")/tmux_lib.sh"

started=$(date +%s)
# The demo's log files land in the scratch directory.
tm -f /dev/null new-session -d -s "$session" -x 160 -y 50 \
  "cd '$work' && TERM=xterm-256color ESCDELAY=25 '$demo'; echo PLOVIX-EXITED; sleep 30"

wait_for "ZUL for Windows" 5 || fail "main window caption not shown"
wait_for "Model Name" 3 || fail "drive list header not shown"
wait_for "Ready" 3 || fail "no drive line with Ready"
wait_for "Orvane OD1000-HX" 3 || fail "demo data disk not listed"
screen | grep -F -q "Orvane OD500-SY" && fail "the system disk is listed"
screen | grep -F -q "USB Device is NOT supported." && fail "notice shown before its delay"

# The notice: about five seconds after start-up, captioned "Plovix".
wait_for "USB Device is NOT supported." 9 || fail "unsupported USB notice not shown"
noticed=$(date +%s)
[ $((noticed - started)) -ge 4 ] || fail "notice came after $((noticed - started)) s"
screen | grep -F -q "Plovix" || fail "notice caption missing"
screen | grep -F -q "Nimbra" || fail "notice does not name the unlisted USB disk"

# Acknowledge every notice box, then leave with Escape.
n=0
while screen | grep -F -q "USB Device is NOT supported." && [ $n -lt 25 ]; do
  tm send-keys -t "$session" Enter
  sleep 0.3
  n=$((n + 1))
done
screen | grep -F -q "USB Device is NOT supported." && fail "notice boxes do not close"
wait_for "Ready" 3 || fail "main window not back after the notices"

tm send-keys -t "$session" Escape
wait_for "PLOVIX-EXITED" 5 || fail "Escape did not end the program"
echo "PASS"
exit 0
