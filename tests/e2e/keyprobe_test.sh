#!/usr/bin/env bash
# keyprobe in a real terminal (tmux, 80x25), under tmux-256color and
# xterm-256color: the key codes of the keys the program tests for, mouse
# clicks, the colour order, the box-drawing characters, leaving with Esc Esc;
# and under every terminal type the keypad: its keys, and Alt with keypad
# digits typing a character by its code.
#
#   keyprobe_test.sh PATH/TO/keyprobe
set -u
BIN=${1:?usage: keyprobe_test.sh PATH/TO/keyprobe}
source "$(dirname "$0")/lib.sh"
export LC_ALL=C.UTF-8
e2e_require_tmux
e2e_start_server

# tmux key name, then the code keyprobe must show (lower-case hex, as the
# program's key lists write codes).
KEYS=(
  F1 3b00 F2 3c00 F3 3d00 F4 3e00 F5 3f00 F6 4000 F7 4100 F8 4200 F9 4300 F10 4400
  F11 8500 F12 8600
  S-F1 5400 S-F2 5500 S-F4 5700 S-F5 5800 S-F10 5d00 S-F11 8700 S-F12 8800
  C-F1 5e00 C-F3 6000 C-F5 6200 C-F10 6700 C-F11 8900 C-F12 8a00
  M-F1 6800 M-F4 6b00 M-F5 6c00 M-F10 7100 M-F11 8b00 M-F12 8c00
  Up 4800 Down 5000 Left 4b00 Right 4d00 S-Left 4b00
  C-Left 7300 C-Right 7400 C-Home 7700
  Home 4700 End 4f00 PPage 4900 NPage 5100 IC 5200 DC 5300
  BSpace 8 Tab 9 BTab f00 Enter d Escape 1b
  M-x 2d00 M-c 2e00 M-e d5 a 61 C-a 1
)

# probe_keys TERM: every key of KEYS, one at a time, each answered before the
# next is sent (so Escape is never read as the start of a sequence).
probe_keys() {
  local term=$1 n=0 i name code
  for ((i = 0; i < ${#KEYS[@]}; i += 2)); do
    name=${KEYS[i]}
    code=${KEYS[i + 1]}
    n=$((n + 1))
    e2e_send app "$name"
    # The code is followed by a blank: "8" must not match "8500".
    if e2e_wait_for app "#$n key $code " 3000 >/dev/null; then
      e2e_pass "$term: $name gives $code"
    else
      e2e_fail "$term: $name should give $code; the screen showed: $(e2e_capture app | sed -n 21p)"
      # Resynchronise the counter with what the probe saw.
      n=$(e2e_capture app | sed -n 21p | sed -E 's/^Last: +#([0-9]+).*/\1/')
      [[ $n =~ ^[0-9]+$ ]] || n=0
    fi
  done
  COUNT=$n
}

probe_mouse() {
  local term=$1 n=$COUNT
  # SGR 1006 reports: left button pressed and released at column 10, row 5.
  e2e_send_literal app $'\e[<0;10;5M'
  e2e_send_literal app $'\e[<0;10;5m'
  n=$((n + 1))
  if e2e_wait_for app "#$n click row=5 col=10 button=1 code a45" >/dev/null; then
    e2e_pass "$term: left click (SGR) at row 5, column 10"
  else
    e2e_fail "$term: left click: $(e2e_capture app | sed -n 21p)"
  fi
  # Right button at column 20, row 7: code 20 x 256 + 2 x 64 + 7.
  e2e_send_literal app $'\e[<2;20;7M'
  e2e_send_literal app $'\e[<2;20;7m'
  n=$((n + 1))
  if e2e_wait_for app "#$n click row=7 col=20 button=2 code 1487" >/dev/null; then
    e2e_pass "$term: right click (SGR) at row 7, column 20"
  else
    e2e_fail "$term: right click: $(e2e_capture app | sed -n 21p)"
  fi
  # X10 reports: button byte 32 + 0 pressed, 32 + 3 released; positions + 32.
  e2e_send_literal app $'\e[M +&'
  e2e_send_literal app $'\e[M#+&'
  n=$((n + 1))
  if e2e_wait_for app "#$n click row=6 col=11 button=1 code b46" >/dev/null; then
    e2e_pass "$term: left click (X10) at row 6, column 11"
  else
    e2e_fail "$term: X10 click: $(e2e_capture app | sed -n 21p)"
  fi
  COUNT=$n
}

# The colour grid: row 4 + background, column 4 + 3 x foreground. The
# text screen numbers colours blue-green-red, terminals red-green-blue.
probe_colours() {
  local term=$1
  local -a checks=(
    # bg fg expected-fg-sgr expected-bg-sgr
    0 1 34 49   0 4 31 49   0 2 32 49   0 6 33 49   0 9 94 49   0 12 91 49   0 14 93 49
    0 15 97 49  1 4 31 44   4 1 34 41   7 0 30 47   9 0 30 104  12 14 93 101
  )
  local i bg fg want line got
  for ((i = 0; i < ${#checks[@]}; i += 4)); do
    bg=${checks[i]}
    fg=${checks[i + 1]}
    want="${checks[i + 2]} ${checks[i + 3]}"
    line=$(e2e_capture app -e | sed -n "$((4 + bg))p")
    got=$(e2e_cell_colours "$line" $((4 + 3 * fg)))
    # Black backgrounds may come out as the terminal default or as 40.
    [[ $want == *" 49" && $got == *" 40" ]] && got="${got% 40} 49"
    e2e_expect_eq "$term: colour fg $fg on bg $bg" "$got" "$want"
  done
}

probe_characters() {
  local term=$1 screen
  screen=$(e2e_capture app)
  local expected
  for expected in "┌──────┐" "╔══════╗" "│style1│" "║style2║" "B0 ░▒▓│┤ÁÂÀ©╣║╗╝¢¥┐" \
      "C0 └┴┬├─┼ãÃ╚╔╩╦╠═╬¤" "D0 ðÐÊËÈıÍÎÏ┘┌█▄¦Ì▀" "00  ☺☻♥♦♣♠•◘○◙♂♀♪♫☼" "10 ►◄↕‼¶§▬↨↑↓→←∟↔▲▼"; do
    if grep -qF -- "$expected" <<<"$screen"; then
      e2e_pass "$term: shows $expected"
    else
      e2e_fail "$term: $expected missing"
    fi
  done
}

# The keypad, as tmux sends it in application keypad mode: the digits and
# operators as their characters, keypad Enter as Enter.
KEYPAD=(
  KP0 30 KP1 31 KP2 32 KP3 33 KP4 34 KP5 35 KP6 36 KP7 37 KP8 38 KP9 39
  KPEnter d KP* 2a KP+ 2b KP- 2d KP/ 2f KP. 2e
)

# probe_keypad TERM: the keypad keys, then Alt with keypad digits. The
# terminal never reports the release of Alt: a code ends at the next key
# (which follows it) or after a pause of about a second.
probe_keypad() {
  local term=$1 n=0 i
  for ((i = 0; i < ${#KEYPAD[@]}; i += 2)); do
    n=$((n + 1))
    e2e_send keys "${KEYPAD[i]}"
    if e2e_wait_for keys "#$n key ${KEYPAD[i + 1]} " 3000 >/dev/null; then
      e2e_pass "$term: ${KEYPAD[i]} gives ${KEYPAD[i + 1]}"
    else
      e2e_fail "$term: ${KEYPAD[i]} should give ${KEYPAD[i + 1]}: $(e2e_capture keys | sed -n 21p)"
      return
    fi
  done
  # Alt+1, Alt+3, Alt+0 on the keypad, then nothing: 130 (82 hex).
  e2e_send keys M-KP1 M-KP3 M-KP0
  if e2e_wait_for keys "#$((n + 1)) key 82 " 4000 >/dev/null; then
    e2e_pass "$term: Alt + keypad 1 3 0 gives 82 after the pause"
  else
    e2e_fail "$term: Alt + keypad 1 3 0: $(e2e_capture keys | sed -n 21,23p)"
  fi
  # Alt+3, Alt+2, Alt+1 (321 mod 256 = 65, "A"), then a key without Alt.
  e2e_send keys M-KP3 M-KP2 M-KP1 z
  if e2e_wait_for keys "#$((n + 3)) key 7a " 4000 >/dev/null &&
      e2e_capture keys | grep -qF "Recent: 7a 41 82 "; then
    e2e_pass "$term: Alt + keypad 3 2 1 gives 41, and the next key follows"
  else
    e2e_fail "$term: Alt + keypad 3 2 1 then z: $(e2e_capture keys | sed -n 21,23p)"
  fi
  # Alt with a keypad key is never Esc: Alt with keypad + is "+" (there is
  # no Alt form of it), with keypad Enter Alt+Enter (1c00).
  e2e_send keys M-KP+ M-KPEnter
  if e2e_wait_for keys "#$((n + 5)) key 1c00 " 3000 >/dev/null &&
      e2e_capture keys | grep -qF "Recent: 1c00 2b 7a "; then
    e2e_pass "$term: Alt + keypad + and Alt + keypad Enter, no Esc"
  else
    e2e_fail "$term: Alt + keypad operators: $(e2e_capture keys | sed -n 21,23p)"
  fi
}

for term in tmux-256color xterm-256color screen-256color xterm screen linux; do
  # Under TERM=linux ncurses reaches for the console's mouse server (GPM),
  # which no pane has, and the GPM library it loads for that leaves an
  # allocation behind that the sanitizer build reports; the pane's mouse is
  # xterm's in any case.
  e2e_run keys 80 25 "$term" "$BIN" NCURSES_GPM_TERMS=
  if e2e_wait_for keys "Ready." >/dev/null; then
    probe_keypad "$term"
    # Leave as an operator does, so that nothing is left behind.
    e2e_send keys Escape
    e2e_wait_for keys "Recent: 1b " >/dev/null
    e2e_send keys Escape
    e2e_expect_eq "$term: Esc Esc ends keyprobe" "$(e2e_exit_status keys)" 0
  else
    e2e_fail "$term: keyprobe did not start"
  fi
  e2e_kill_session keys
done

for term in tmux-256color xterm-256color; do
  e2e_run app 80 25 "$term" "$BIN"
  if ! e2e_wait_for app "Ready." >/dev/null; then
    e2e_fail "$term: keyprobe did not start"
    e2e_capture app
    e2e_kill_session app
    continue
  fi
  probe_characters "$term"
  probe_colours "$term"
  probe_keys "$term"
  probe_mouse "$term"
  # Esc twice in a row leaves with status 0.
  e2e_send app Escape
  e2e_wait_for app "#$((COUNT + 1)) key 1b " >/dev/null
  e2e_send app Escape
  e2e_expect_eq "$term: Esc Esc ends keyprobe with status 0" "$(e2e_exit_status app)" 0
  e2e_kill_session app
done
e2e_summary
