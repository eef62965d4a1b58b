#!/usr/bin/env bash
# The language form in a real terminal (tmux), through formprobe: the
# selector field between its triangles, stepping with Left, Right, typed
# letters and clicks on the triangles, the colours of title, labels, the
# field being edited and the stored value, Enter confirming and Esc
# cancelling; and, on a form with a text field, the cursor shape following
# Ins (block in overwrite mode, underline in insert mode), read from what
# the program writes to the terminal.
#
# usage: form_selector_test.sh PATH/TO/formprobe
set -u
# Character counts in the string operations below, not bytes.
export LC_ALL=C.UTF-8
source "$(dirname "$0")/lib.sh"
BIN=${1:?usage: form_selector_test.sh PATH/TO/formprobe}
e2e_require_tmux
e2e_start_server

TITLE=' GESTIÓ DEL PERSONAL '  # 21 characters: starts at column 30
SELECTOR_ROW=16

line() { e2e_capture "$1" -N | sed -n "${2}p"; }  # trailing blanks kept
colour_line() { e2e_capture "$1" -e | sed -n "${2}p"; }

# colour_is SESSION ROW COLUMN MODE WHAT: the cell shows colour mode MODE
# of the default colour table (h white on black, n grey on black, u and r
# black on grey). Black and grey backgrounds may come as the terminal's
# defaults.
colour_is() {
  local session=$1 row=$2 column=$3 mode=$4 what=$5
  local got ok=0
  got=$(e2e_cell_colours "$(colour_line "$session" "$row")" "$column")
  case "$mode:$got" in
    h:"97 40" | h:"97 49") ok=1 ;;
    n:"37 40" | n:"37 49" | n:"39 40" | n:"39 49") ok=1 ;;
    u:"30 47" | r:"30 47") ok=1 ;;
  esac
  if ((ok)); then e2e_pass "$what"; else e2e_fail "$what: colours '$got', expected mode $mode"; fi
}

# selector_shows SESSION TEXT WHAT: the selector row shows TEXT (given
# padded to the widest option, 16 characters) between the triangles.
selector_shows() {
  local session=$1 text=$2 what=$3
  if e2e_wait_for "$session" "Idioma per defecte: ◄${text}►" >/dev/null; then
    e2e_pass "$what"
  else
    e2e_fail "$what: row $SELECTOR_ROW is '$(line "$session" $SELECTOR_ROW)'"
  fi
}

# --- Stepping through the choices, then Enter --------------------------------
e2e_run lang 80 25 tmux-256color "'$BIN' --value SPA --title '$TITLE'" "KELTMP=$E2E_DIR"
if ! e2e_wait_for lang "◄Castellà"; then
  e2e_fail "the language form did not start"
  e2e_summary
  exit 1
fi
row16=$(line lang $SELECTOR_ROW)
e2e_expect_eq "left triangle at column 25" "${row16:24:1}" "◄"
e2e_expect_eq "right triangle at column 42" "${row16:41:1}" "►"
row1=$(line lang 1)
e2e_expect_eq "title centred at column 30" "${row1:29:21}" "$TITLE"
colour_is lang 1 31 r "title in colour r"
colour_is lang $SELECTOR_ROW 5 n "label in colour n"
colour_is lang $SELECTOR_ROW 26 u "field being edited in colour u"
colour_is lang 3 5 n "explanatory label in colour n"

e2e_send lang Left
selector_shows lang "Català          " "Left steps back to CAT"
e2e_send lang Left
selector_shows lang "Aranès          " "Left again wraps to the last choice"
e2e_send lang Right
selector_shows lang "Català          " "Right wraps to the first choice"
e2e_send lang g
selector_shows lang "Galego-portuguès" "typed g selects GLG"
e2e_send lang A
selector_shows lang "Aranès          " "typed A selects OCI"
e2e_send_literal lang 'à'
selector_shows lang "Aranès          " "typed à stays on the only A choice"
e2e_send lang c
selector_shows lang "Català          " "typed c cycles on to CAT"
e2e_send lang c
selector_shows lang "Castellà        " "typed c again selects SPA"
# Clicks on the triangles step too (button released at column 42 / 25).
e2e_send_literal lang $'\e[<0;42;16M'
e2e_send_literal lang $'\e[<0;42;16m'
selector_shows lang "Galego-portuguès" "a click on the right triangle steps forward"
e2e_send_literal lang $'\e[<0;25;16M'
e2e_send_literal lang $'\e[<0;25;16m'
selector_shows lang "Castellà        " "a click on the left triangle steps back"
e2e_send lang Left
selector_shows lang "Català          " "Left to CAT before confirming"
e2e_send lang Enter
if e2e_wait_for lang "RESULT key=000d value=[CAT]"; then
  e2e_pass "Enter confirms CAT"
else
  e2e_fail "Enter did not confirm CAT"
fi
row16=$(line lang $SELECTOR_ROW)
e2e_expect_eq "the chosen text stays, the triangles are gone" "${row16:23:19}" "  Català           "
colour_is lang $SELECTOR_ROW 26 h "stored value in colour h"
e2e_send lang Enter
e2e_expect_eq "exit status after confirming" "$(e2e_exit_status lang)" "0"
e2e_kill_session lang

# --- Esc cancels -------------------------------------------------------------
e2e_run esc 80 25 tmux-256color "'$BIN' --value SPA --title '$TITLE'" "KELTMP=$E2E_DIR"
e2e_wait_for esc "◄Castellà" >/dev/null || e2e_fail "the language form did not start again"
e2e_send esc Right
selector_shows esc "Galego-portuguès" "Right steps to GLG"
e2e_send esc Escape
if e2e_wait_for esc "RESULT key=001b value=[SPA]"; then
  e2e_pass "Esc cancels and keeps SPA"
else
  e2e_fail "Esc did not cancel"
fi
row16=$(line esc $SELECTOR_ROW)
e2e_expect_eq "the stored choice shows again" "${row16:25:8}" "Castellà"
e2e_send esc Enter
e2e_kill_session esc

# --- The cursor shape follows Ins --------------------------------------------
# tmux does not report the cursor style, so the program's output is logged
# (pipe-pane) from its very start and searched for the cursor-style
# sequences: 2 (block) for overwrite mode, 4 (underline) for insert mode.
LOG="$E2E_DIR/cursor.log"
GO="$E2E_DIR/go"
e2e_run cursor 80 25 tmux-256color \
  "while [ ! -e '$GO' ]; do sleep 0.02; done; '$BIN' --form entry" "KELTMP=$E2E_DIR"
e2e_tmux pipe-pane -t cursor -O "cat >>'$LOG'"
touch "$GO"
e2e_wait_for cursor "Nom:" >/dev/null || e2e_fail "the entry form did not start"

# styles_seen: the cursor styles written so far, in order, e.g. "2 4 2".
styles_seen() { grep -ao $'\e\\[[0-9] q' "$LOG" 2>/dev/null | tr -dc '0-9\n' | tr '\n' ' ' | sed 's/ $//'; }
wait_styles() {
  local expected=$1 what=$2 deadline=$(($(e2e_now_ms) + E2E_TIMEOUT_MS))
  while [[ $(styles_seen) != "$expected" ]]; do
    if (($(e2e_now_ms) > deadline)); then
      e2e_fail "$what: styles '$(styles_seen)', expected '$expected'"
      return 1
    fi
    sleep 0.02
  done
  e2e_pass "$what"
}
wait_styles "2" "overwrite mode shows a block cursor"
e2e_expect_eq "cursor visible in the field" "$(e2e_tmux display -p -t cursor '#{cursor_flag} #{cursor_y} #{cursor_x}')" "1 5 21"
e2e_send cursor IC
wait_styles "2 4" "Ins: insert mode shows an underline cursor"
e2e_send cursor a b
e2e_send cursor Home
e2e_send cursor X
e2e_wait_for cursor "Nom:     Xab" >/dev/null && e2e_pass "insert mode inserts" ||
  e2e_fail "insert mode: '$(line cursor 5)'"
e2e_send cursor IC
wait_styles "2 4 2" "Ins again: back to the block"
e2e_send cursor Home
e2e_send cursor Y
e2e_wait_for cursor "Nom:     Yab" >/dev/null && e2e_pass "overwrite mode overwrites" ||
  e2e_fail "overwrite mode: '$(line cursor 5)'"
e2e_send cursor Escape
e2e_wait_for cursor "RESULT key=001b" >/dev/null && e2e_pass "Esc on the first field ends the form" ||
  e2e_fail "Esc did not end the entry form"
e2e_send cursor Enter
e2e_kill_session cursor

e2e_summary
