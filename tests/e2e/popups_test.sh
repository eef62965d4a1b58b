#!/usr/bin/env bash
# The calculator (Alt+X) and the calendar (Alt+C) in a real terminal (tmux),
# opened from the text field of formprobe's entry form: the box and its
# tape, the total typed into the field, the state kept between uses, the
# box sliding and wrapping, the calendar's months, marker and moves across
# years, the heading and the month names (in capitals) of each language,
# and the screen given back intact.
#
# usage: popups_test.sh PATH/TO/formprobe
set -u
export LC_ALL=C.UTF-8
source "$(dirname "$0")/lib.sh"
BIN=${1:?usage: popups_test.sh PATH/TO/formprobe}
e2e_require_tmux
e2e_start_server

line() { e2e_capture "$1" -N | sed -n "${2}p"; }
# Columns FROM..TO (1-based) of a row.
cols() { local l; l=$(line "$1" "$2"); echo "${l:$(($3 - 1)):$(($4 - $3 + 1))}"; }
colour_line() { e2e_capture "$1" -e | sed -n "${2}p"; }
# until SESSION ROW COLUMN... -- COMMAND: polls until COMMAND succeeds or the
# deadline passes (the screen is drawn when the program next waits).
until_true() {
  local deadline=$(($(e2e_now_ms) + E2E_TIMEOUT_MS))
  until "$@"; do
    (($(e2e_now_ms) > deadline)) && return 1
    sleep 0.02
  done
}
# The cell shows colour "u" (black on grey) of the default colour table.
is_marked() { [[ $(e2e_cell_colours "$(colour_line "$1" "$2")" "$3") == "30 47" ]]; }
marked() { until_true is_marked "$@"; }
cols_are() { [[ $(cols "$1" "$2" "$3" "$4") == "$5" ]]; }
# expect_cols WHAT SESSION ROW FROM TO TEXT: waits for the columns to show TEXT.
expect_cols() {
  local what=$1
  shift
  if until_true cols_are "$@"; then e2e_pass "$what"; else
    e2e_fail "$what: got '$(cols "$1" "$2" "$3" "$4")', expected '$5'"
  fi
}
# The field "Nom:" and its 20 characters.
field() { cols "$1" 6 13 41; }
field_is() { [[ $(field "$1") == "$(printf 'Nom:     %-20s' "$2")" ]]; }
expect_field() {
  if until_true field_is "$2" "$3"; then e2e_pass "$1"; else
    e2e_fail "$1: got '$(field "$2")'"
  fi
}
start() {
  local session=$1
  shift
  e2e_run "$session" 80 25 tmux-256color "'$BIN' --form entry $*" "KELTMP=$E2E_DIR"
  e2e_wait_for "$session" "Nom:" >/dev/null || e2e_fail "formprobe $* did not start"
}

TOP="┌────────────────────────┐"
MIDDLE="├────────────────────────┤"
BOTTOM="└────────────────────────┘"

# --- The calculator -----------------------------------------------------------
start calc
before=$(e2e_capture calc)
e2e_send calc M-x
e2e_wait_for calc "$BOTTOM" >/dev/null && e2e_pass "Alt+X opens the calculator" ||
  e2e_fail "Alt+X: no calculator"
e2e_expect_eq "the box at columns 1 to 26" "$(cols calc 25 1 26)" "$BOTTOM"
e2e_send calc 1 2 . 5 + 3 =
e2e_wait_for calc "│                  15'5  │" >/dev/null || e2e_fail "no total"
e2e_expect_eq "top of the tape" "$(cols calc 19 1 26)" "$TOP"
e2e_expect_eq "first operand" "$(cols calc 20 1 26)" "│                  12'5 +│"
e2e_expect_eq "second operand" "$(cols calc 21 1 26)" "│                     3 =│"
e2e_expect_eq "total line" "$(cols calc 22 1 26)" "│                  15'5  │"
e2e_expect_eq "under the tape" "$(cols calc 23 1 26)" "$MIDDLE"
e2e_expect_eq "entry line" "$(cols calc 24 1 26)" "│                  15'5  │"
e2e_send calc M-x  # inside: no second calculator
e2e_send calc F
expect_field "F types 1550 into the field" calc "1550"
e2e_expect_eq "the screen beneath is given back" "$(e2e_capture calc | sed 6d)" "$(echo "$before" | sed 6d)"

e2e_send calc M-x
e2e_wait_for calc "│                  12'5 +│" >/dev/null &&
  e2e_pass "the tape is still there when reopened" || e2e_fail "the tape was lost"
e2e_send calc Left
e2e_wait_for calc "$(printf '%54s' '')$BOTTOM" >/dev/null &&
  e2e_pass "Left at column 1 moves the box to column 55" || e2e_fail "Left did not wrap"
e2e_send calc Right
expect_cols "Right at the edge wraps back to column 1" calc 25 1 26 "$BOTTOM"
e2e_send calc c
e2e_wait_for calc "│                     0  │" >/dev/null || e2e_fail "C did not clear"
e2e_expect_eq "the first C keeps the tape" "$(cols calc 20 1 26)" "│                  12'5 +│"
e2e_send calc c
expect_cols "C again empties the tape" calc 23 1 26 "$TOP"
e2e_expect_eq "the tape's rows show the form again" "$(cols calc 20 1 26)" "$(printf '%26s' '')"
e2e_send calc 7 Escape
expect_cols "Esc closes the calculator" calc 25 1 26 "$(printf '%26s' '')"
expect_field "Esc types nothing" calc "1550"
e2e_send calc Escape
e2e_wait_for calc "RESULT key=001b" >/dev/null && e2e_pass "Esc then ends the form as usual" ||
  e2e_fail "the form did not end"
e2e_send calc Enter
e2e_kill_session calc
state=$(head -c 6 "$E2E_DIR/KELCALC.TMP" 2>/dev/null)
e2e_expect_eq "the state file was written" "$state" "1,23,7"

# --- The calendar -------------------------------------------------------------
start cal --date 20241231
before=$(e2e_capture cal)
e2e_send cal M-c
e2e_wait_for cal "─ 2024 ─" >/dev/null && e2e_pass "Alt+C opens the calendar" ||
  e2e_fail "Alt+C: no calendar"
e2e_expect_eq "the frame at columns 59 to 80" "$(cols cal 1 59 80)" "┌─────── 2024 ───────┐"
e2e_expect_eq "the heading" "$(cols cal 2 59 80)" "│DL DT DC DJ DV DS DG│"
e2e_expect_eq "the quarter's first month" "$(cols cal 3 59 80)" "│OCTUBRE             │"
e2e_expect_eq "the last row of the frame" "$(cols cal 24 59 80)" "└────────────────────┘"
marked cal 23 63 && e2e_pass "the marker on 31 December (a Tuesday)" ||
  e2e_fail "marker: '$(colour_line cal 23)'"
e2e_send cal M-c  # inside: no second calendar
e2e_send cal Right
e2e_wait_for cal "─ 2025 ─" >/dev/null && e2e_pass "Right from 31 December moves into 2025" ||
  e2e_fail "Right did not cross the year"
e2e_expect_eq "January first" "$(cols cal 3 59 80)" "│GENER               │"
e2e_send cal Left
e2e_wait_for cal "─ 2024 ─" >/dev/null && e2e_pass "Left from 1 January goes back to 2024" ||
  e2e_fail "Left did not cross the year back"
e2e_send cal Home PgDn
e2e_wait_for cal "│ABRIL" >/dev/null && e2e_pass "PgDn from 31 January shows April" ||
  e2e_fail "PgDn did not move a quarter"
marked cal 8 63 && e2e_pass "the marker on 30 April" || e2e_fail "marker: '$(colour_line cal 8)'"
e2e_send cal Enter  # does nothing
e2e_send cal f
expect_field "f types the date" cal "30/4/2024"
e2e_expect_eq "the screen beneath is given back" "$(e2e_capture cal | sed 6d)" "$(echo "$before" | sed 6d)"
e2e_send cal M-c
for _ in $(seq 40); do e2e_send cal PgDn; done
e2e_wait_for cal "─ 2034 ─" >/dev/null && e2e_pass "forty quarters on: 2034" ||
  e2e_fail "forty quarters on"
e2e_send cal Escape
expect_cols "Esc closes the calendar" cal 1 59 80 "$(printf '%22s' '')"
expect_field "Esc types nothing" cal "30/4/2024"
e2e_send cal Escape
e2e_send cal Enter
e2e_kill_session cal

# --- 29 February and the headings of the other languages ----------------------
start leap --date 20240228 --language OCI
e2e_send leap M-c Right
e2e_wait_for leap "─ 2024 ─" >/dev/null
e2e_expect_eq "Aranese heading" "$(cols leap 2 59 80)" "│DL DT DC DJ DD DS DG│"
e2e_expect_eq "Aranese January in capitals, accent kept" "$(cols leap 3 59 80)" "│GÈR                 │"
e2e_expect_eq "Aranese March in capitals" "$(cols leap 17 59 80)" "│MARÇ                │"
marked leap 15 69 && e2e_pass "29 February 2024 (a Thursday)" ||
  e2e_fail "no 29 February 2024: '$(cols leap 15 59 80)'"
e2e_send leap Escape Escape Enter
e2e_kill_session leap
for language in SPA GLG; do
  start "h$language" --date 21000228 --language $language
  e2e_send "h$language" M-c
  e2e_wait_for "h$language" "─ 2100 ─" >/dev/null
  e2e_expect_eq "$language heading" "$(cols "h$language" 2 59 80)" "│ L  M  X  J  V  S  D│"
  march="│MARZO               │"
  [[ $language == GLG ]] && march="│MARÇO               │"
  e2e_expect_eq "$language March in capitals" "$(cols "h$language" 17 59 80)" "$march"
  e2e_send "h$language" Right
  marked "h$language" 18 60 && e2e_pass "$language: 1 March 2100 follows 28 February" ||
    e2e_fail "$language: not on 1 March 2100"
  e2e_send "h$language" Escape Escape Enter
  e2e_kill_session "h$language"
done

e2e_summary
