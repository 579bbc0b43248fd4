# Shared by the tmux end-to-end scripts: a private tmux server in a scratch directory,
# the screen as text, keys, and waits that poll the screen. Sourced after `demo` and
# `session` are set; skips (exit 77) where tmux is missing.
command -v tmux >/dev/null 2>&1 || { echo "tmux not installed: skipped"; exit 77; }

work=$(mktemp -d)
socket="$work/tmux.sock"
tm() { tmux -S "$socket" "$@"; }
cleanup() {
  tm kill-server >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

fail() {
  echo "FAIL: $*"
  echo "---- screen ----"
  tm capture-pane -p -t "$session" 2>/dev/null
  exit 1
}

screen() { tm capture-pane -p -t "$session"; }
hint() { screen | tail -n 1; }
keys() {
  for k in "$@"; do tm send-keys -t "$session" "$k"; done
}

# wait_for PATTERN SECONDS: poll the screen every 0.2 s for an extended regex.
wait_for() {
  tries=$(( $2 * 5 ))
  while [ "$tries" -gt 0 ]; do
    if screen | grep -E -q -- "$1"; then return 0; fi
    sleep 0.2
    tries=$((tries - 1))
  done
  return 1
}
# wait_gone TEXT SECONDS: poll until the fixed TEXT is off the screen.
wait_gone() {
  tries=$(( $2 * 5 ))
  while [ "$tries" -gt 0 ]; do
    if ! screen | grep -F -q -- "$1"; then return 0; fi
    sleep 0.2
    tries=$((tries - 1))
  done
  return 1
}
