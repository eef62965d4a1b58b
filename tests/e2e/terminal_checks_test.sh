#!/usr/bin/env bash
# What a terminal program of the family must do around the keys: refuse a
# terminal smaller than 80x25 or without a UTF-8 locale with a clear message
# and exit status 69, and wait for a key without using the processor.
#
#   terminal_checks_test.sh PATH/TO/keyprobe
set -u
BIN=${1:?usage: terminal_checks_test.sh PATH/TO/keyprobe}
source "$(dirname "$0")/lib.sh"
export LC_ALL=C.UTF-8
e2e_require_tmux
e2e_start_server

# refused COLS ROWS EXPECTED-TEXT [NAME=VALUE...]
refused() {
  local cols=$1 rows=$2 text=$3
  shift 3
  e2e_run small "$cols" "$rows" xterm-256color "$BIN" "$@"
  local status
  status=$(e2e_exit_status small)
  e2e_expect_eq "${cols}x${rows} $*: exit status" "$status" 69
  if e2e_wait_for_joined small "$text" >/dev/null; then
    e2e_pass "${cols}x${rows} $*: says \"$text\""
  else
    e2e_fail "${cols}x${rows} $*: no \"$text\" in: $(e2e_capture small -J -S -50)"
  fi
  e2e_kill_session small
}

refused 80 24 "the screen needs at least 25 rows and 80 columns"
refused 79 25 "The terminal has 25 rows and 79 columns"
refused 80 25 "needs a UTF-8 locale" LANG=C LC_ALL=C

# A program waiting for a key sleeps: over a second of waiting its processor
# time grows by (next to) nothing. A busy loop would show about 100 ticks.
e2e_run idle 80 25 tmux-256color "$BIN"
if e2e_wait_for idle "Ready." >/dev/null; then
  pid=$(e2e_pid idle)
  e2e_expect_eq "the pane runs keyprobe" "$(cat "/proc/$pid/comm" 2>/dev/null)" \
    "$(basename "$BIN" | cut -c1-15)"
  ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
  before=$(ticks)
  sleep 1
  after=$(ticks)
  used=$((after - before))
  if ((used <= 5)); then
    e2e_pass "an idle key wait used $used clock ticks in one second"
  else
    e2e_fail "an idle key wait used $used clock ticks in one second (busy waiting?)"
  fi
  state=$(awk '{print $3}' "/proc/$pid/stat")
  e2e_expect_eq "the waiting program is asleep" "$state" S
  # And it still answers afterwards.
  e2e_send idle F5
  e2e_wait_for idle "#1 key 3f00 " >/dev/null && e2e_pass "answers after idling" ||
    e2e_fail "no answer after idling"
else
  e2e_fail "keyprobe did not start"
fi
e2e_kill_session idle

# Shrinking the terminal below 80x25 while running shows a notice instead
# of a cut screen; enlarging it brings the whole screen back.
e2e_run resize 80 25 tmux-256color "$BIN"
if e2e_wait_for resize "Ready." >/dev/null; then
  e2e_tmux resize-window -t resize -x 80 -y 24
  e2e_wait_for resize "The terminal is too small" >/dev/null && e2e_pass "shrunk: notice shown" ||
    e2e_fail "shrunk: no notice"
  e2e_tmux resize-window -t resize -x 90 -y 30
  e2e_wait_for resize "Ready. Press keys" >/dev/null && e2e_pass "enlarged: screen back" ||
    e2e_fail "enlarged: screen not repainted"
  e2e_send resize F3
  e2e_wait_for resize "#1 key 3d00 " >/dev/null && e2e_pass "keys after resizing" ||
    e2e_fail "no key after resizing"
  # A character code page 850 lacks is refused with a beep, never typed.
  e2e_tmux new-window -d -t resize "sleep 30"  # the bell is flagged on other windows only
  e2e_send_literal resize:0 "€"
  e2e_send resize:0 F4
  e2e_wait_for resize:0 "#2 key 3e00 " >/dev/null && e2e_pass "the euro sign gives no key" ||
    e2e_fail "after the euro sign: $(e2e_capture resize:0 | sed -n 21p)"
  e2e_expect_eq "the euro sign beeps" "$(e2e_tmux display -p -t resize:0 '#{window_bell_flag}')" 1
else
  e2e_fail "keyprobe did not start"
fi
e2e_kill_session resize
e2e_summary
