#!/bin/sh
# End to end at 80x24: Plovix-demo in a real terminal (tmux), read as a person reads it.
# The SMART status dialog shows each label on the row of its value and the attribute
# table whole; the Log View pages through a long drive log with PgDn, End and Home while
# the focus stays on "Close"; the bottom row names the keys of the focused control.
# Usage: terminal_tmux.sh /path/to/Plovix-demo
set -u

demo=${1:?usage: terminal_tmux.sh /path/to/Plovix-demo}
session="plovix_term_$$"
# shellcheck source=tests/e2e/tmux_lib.sh
. "$(dirname "$0")/tmux_lib.sh"

# The healthy demo disk has a long log: 300 records, the last one dated apart.
i=0
tags="ReadErrStat|SMART QT|SMART ET|Erase MBR|Erase Disk|SURFACE QT|SURFACE ET"
while [ $i -lt 300 ]; do
  tag=$(echo "$tags" | cut -d'|' -f$((i % 7 + 1)))
  printf '%s\r\nDone\r\nPass\r\n03/14/2012 09:%02d:%02d\r\n' "$tag" $((i / 60 % 60)) $((i % 60))
  i=$((i + 1))
done > "$work/ORV1H4477120.log"
printf 'SURFACE ET\r\nDone\r\nFail\r\n12/31/2012 23:59:59\r\n' >> "$work/ORV1H4477120.log"

# tmux's own TERM, so Home and End arrive as the terminal description says.
tm -f /dev/null new-session -d -s "$session" -x 80 -y 24 \
  "cd '$work' && ESCDELAY=25 '$demo'; echo PLOVIX-EXITED; sleep 30"

wait_for "Orvane OD1000-HX" 5 || fail "main window not shown"
# Answer the unsupported-USB notice first: it comes about five seconds after start-up.
wait_for "USB Device is NOT supported" 9 || fail "unsupported USB notice not shown"
n=0
while screen | grep -F -q "USB Device is NOT supported." && [ $n -lt 25 ]; do
  keys Enter
  sleep 0.3
  n=$((n + 1))
done
wait_gone "USB Device is NOT supported." 3 || fail "notice boxes do not close"

# The main window at 80x24: every column of the drive list readable, the hint below.
screen | grep -E -q "Orvane OD1000-HX +.ORV1H4477120 +.HX02B1 +.931GB +.Ready" || fail "drive line not readable"
screen | grep -E -q "\[ Select All \] +\[ Quick Test \] +\[ Ext Test \] +\[ Utilities \]" || fail "buttons cut"
screen | grep -F -q "please double click the target line of HDD to show SMART/Test log" || fail "hint label cut"
hint | grep -F -q "Tab next" || fail "no key hint on the bottom row"

# Into the list (Shift+Tab from "Scan"); its first line carries the cursor.
keys BTab
wait_for "Space check" 3 || fail "the list's keys are not named"
keys Enter
wait_for "FW revison" 5 || fail "Enter on the list did not open the SMART status"

# Labels on the rows of their values, a blank between.
screen | grep -E -q "Model name +Orvane OD1000-HX +Max LBA +0x74706DB0" || fail "model or max LBA off its label's row"
screen | grep -E -q "Serial +ORV1H4477120 +Capacity +931GB" || fail "serial or capacity off its label's row"
screen | grep -E -q "FW revison +HX02B1" || fail "firmware off its label's row"
screen | grep -E -q "ID.*Atribute.*Curent.*Worst.*Threshold" || fail "attribute header cut"
screen | grep -E -q "Raw Read Error Rate .*200.*200.*51" || fail "first attribute not readable"
screen | grep -F -q "…" && fail "a text that fits is cut"
# The list has the focus: PgDn goes to the page's last line, the next one pages on.
keys PageDown PageDown
wait_for "Ultra DMA CRC Error Count" 3 || fail "PgDn did not page the attribute list"
# With the Raw column beside it (a temperature with its range is 19 characters), 80
# columns are too few for attribute 198's 40-character name: it is cut, and shows that it is.
screen | grep -E -q "Off-Line Scan Uncorrecta[A-Za-z ]*(Count|…)" || fail "attribute 198's name cut unmarked"
# Tab to "Close", then to the model field: one focus at a time, each named below.
keys Tab
wait_for "Enter press Close" 3 || fail "focus on Close not named"
screen | grep -F -q "▶ Close ◀" || fail "focus on Close not drawn"
keys Tab
wait_for "Home End scroll" 3 || fail "focus on the model field not named"
screen | grep -F -q "▶ Close ◀" && fail "two controls drawn focused"
keys Escape
wait_gone "FW revison" 3 || fail "Escape did not close the SMART status"

# Log View of the checked drive: Space checks, then Tab round to "Utilities".
keys Space Tab Tab Tab Tab Tab Enter
wait_for "Log View" 3 || fail "utilities menu not shown"
keys Tab Tab Tab Tab Enter
wait_for "DRIVE INFORMATION" 5 || fail "Log View not shown"
screen | grep -E -q "Serial Number +: ORV1H4477120" || fail "report identity not readable"
screen | grep -E -q "^.*-{61}.*$" || fail "the report's rule line is cut"
hint | grep -F -q "PgUp PgDn" || fail "the hint does not name the paging keys"
screen | grep -F -q "▶ Close ◀" || fail "Log View does not open with the focus on Close"
# PgDn pages the report although the focus is on Close.
keys PageDown PageDown
wait_for "Date/Time +: 03/14/2012 09:00:0" 3 || fail "PgDn did not page the report"
keys End
wait_for "Date/Time +: 12/31/2012 23:59:59" 3 || fail "End did not show the last record"
screen | grep -F -q "100%" || fail "the end of the report is not marked"
keys Home
wait_for "ZUL-Win Norbek HDD Diagnostic TEST" 3 || fail "Home did not go back to the start"
screen | grep -F -q "▶ Close ◀" || fail "paging moved the focus"
keys Escape
wait_gone "DRIVE INFORMATION" 3 || fail "Escape did not close the Log View"

keys Escape
wait_for "PLOVIX-EXITED" 5 || fail "Escape did not end the program"
echo "PASS"
exit 0
