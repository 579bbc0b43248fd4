#!/bin/sh
# End to end: Plovix-demo under LANG=C and on a terminal that shrinks. In a locale that
# is not UTF-8 the frames are ASCII and the About item reads "About Plovix(A)..."; below
# the size its windows need, one line says how big the terminal must be, and growing it
# again brings the window back.
# Usage: plain_tmux.sh /path/to/Plovix-demo
set -u

demo=${1:?usage: plain_tmux.sh /path/to/Plovix-demo}
session="plovix_plain_$$"
# shellcheck source=tests/e2e/tmux_lib.sh
. "$(dirname "$0")/tmux_lib.sh"

tm -f /dev/null new-session -d -s "$session" -x 100 -y 30 \
  "cd '$work' && LANG=C LC_ALL=C TERM=xterm ESCDELAY=25 '$demo'; echo PLOVIX-EXITED; sleep 30"
wait_for "Orvane OD1000-HX" 5 || fail "main window not shown"
wait_for "USB Device is NOT supported" 9 || fail "unsupported USB notice not shown"
n=0
while screen | grep -F -q "USB Device is NOT supported." && [ $n -lt 25 ]; do
  keys Enter
  sleep 0.3
  n=$((n + 1))
done
wait_gone "USB Device is NOT supported." 3 || fail "notice boxes do not close"
screen | grep -E -q "^\+\[-\]- ZUL for Windows -+\[x\]\+$" || fail "the frame is not ASCII"

keys F10
wait_for "About Plovix\(A\)\.\.\." 3 || fail "the About item has no ASCII stand-in"
screen | grep -F -q "~ ~" && fail "the About item shows as tildes"
keys a
wait_for "About Plovix " 3 || fail "the About box's caption has no ASCII stand-in"
screen | grep -F -q "Plovix, Version 0.92" || fail "About box not shown"
keys Enter
wait_gone "Version 0.92" 3 || fail "About box does not close"

# Too small: one line and nothing else; the size it asks for is enough.
tm resize-window -t "$session" -x 50 -y 15
wait_for "too small" 3 || fail "a small terminal does not say it is too small"
[ "$(screen | grep -c -v '^ *$')" -eq 1 ] || fail "more than the one line on a small terminal"
need=$(screen | grep -o -E "[0-9]+ x [0-9]+" | head -n 1)
cols=${need% x *}
rows=${need#* x }
tm resize-window -t "$session" -x "$cols" -y "$rows"
wait_for "Velmira For Windows" 3 || fail "the size asked for ($need) does not show the window"
screen | grep -F -q "too small" && fail "still too small at $need"
tm resize-window -t "$session" -x "$cols" -y $((rows - 1))
wait_for "too small" 3 || fail "one row less than $need is not too small"
tm resize-window -t "$session" -x 100 -y 30
wait_for "Velmira For Windows" 3 || fail "the window does not come back"

keys Escape
wait_for "PLOVIX-EXITED" 5 || fail "Escape did not end the program"
echo "PASS"
exit 0
