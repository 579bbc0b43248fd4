#!/bin/sh
# End to end: the keys as a terminal inside tmux sends them. tmux sends Home and End as
# "ESC [1~" and "ESC [4~" whatever TERM the program has; the program takes them all the
# same, and its hint line offers only the keys TERM's description names (a vt100 has no
# Shift+Tab, paging keys, Home, End or F10).
# Usage: keys_tmux.sh /path/to/Plovix-demo
set -u

demo=${1:?usage: keys_tmux.sh /path/to/Plovix-demo}
session="plovix_keys_$$"
# shellcheck source=tests/e2e/tmux_lib.sh
. "$(dirname "$0")/tmux_lib.sh"

# A long log for the healthy demo disk, its last record dated apart.
i=0
while [ $i -lt 200 ]; do
  printf 'SMART QT\r\nDone\r\nPass\r\n03/14/2012 09:%02d:%02d\r\n' $((i / 60 % 60)) $((i % 60))
  i=$((i + 1))
done > "$work/ORV1H4477120.log"
printf 'SURFACE ET\r\nDone\r\nFail\r\n12/31/2012 23:59:59\r\n' >> "$work/ORV1H4477120.log"

for term in xterm vt100; do
  session="plovix_keys_${term}_$$"
  tm -f /dev/null new-session -d -s "$session" -x 80 -y 24 \
    "cd '$work' && TERM=$term ESCDELAY=25 '$demo'; echo PLOVIX-EXITED; sleep 30"
  wait_for "Orvane OD1000-HX" 5 || fail "$term: main window not shown"
  wait_for "USB Device is NOT supported" 9 || fail "$term: unsupported USB notice not shown"
  n=0
  while screen | grep -F -q "USB Device is NOT supported." && [ $n -lt 25 ]; do
    keys Enter
    sleep 0.3
    n=$((n + 1))
  done
  wait_gone "USB Device is NOT supported." 3 || fail "$term: notice boxes do not close"

  if [ "$term" = vt100 ]; then
    for k in "Shift+Tab" "PgUp" "F10" "Home"; do
      hint | grep -F -q "$k" && fail "vt100: the hint offers $k"
    done
  else
    hint | grep -F -q "F10 menu" || fail "xterm: the hint does not offer F10"
    hint | grep -F -q "Shift+Tab back" || fail "xterm: the hint does not offer Shift+Tab"
  fi

  # Shift+Tab (ESC [Z) from "Scan" reaches the list under either TERM.
  keys BTab
  wait_for "Space check" 3 || fail "$term: Shift+Tab did not reach the list"
  keys Space Tab Tab Tab Tab Tab Enter
  wait_for "Log View" 3 || fail "$term: utilities menu not shown"
  keys Tab Tab Tab Tab Enter
  wait_for "DRIVE INFORMATION" 5 || fail "$term: Log View not shown"
  if [ "$term" = vt100 ]; then
    hint | grep -F -q "PgUp" && fail "vt100: the Log View's hint offers PgUp"
  else
    hint | grep -F -q "PgUp PgDn Home End" || fail "xterm: the Log View's hint does not name the paging keys"
  fi
  keys End
  wait_for "Date/Time +: 12/31/2012 23:59:59" 3 || fail "$term: End did not show the last record"
  keys Home
  wait_for "ZUL-Win Norbek HDD Diagnostic TEST" 3 || fail "$term: Home did not go back to the start"
  keys PageDown
  wait_gone "ZUL-Win Norbek HDD Diagnostic TEST" 3 || fail "$term: PgDn did not page"
  keys PageUp
  wait_for "ZUL-Win Norbek HDD Diagnostic TEST" 3 || fail "$term: PgUp did not page back"
  # No stray letters from a sequence went anywhere: the focus is still on Close.
  screen | grep -F -q "Close" || fail "$term: Close gone"
  keys Escape
  wait_gone "DRIVE INFORMATION" 3 || fail "$term: Escape did not close the Log View"
  keys Escape
  wait_for "PLOVIX-EXITED" 5 || fail "$term: Escape did not end the program"
done
echo "PASS"
exit 0
