#!/usr/bin/env bash
# Help pages and lookup lists in a real terminal (tmux, 80 x 25) on a
# generated installation:
# - F1 on the program's form: the page of AJUDA\TAVIRENO.HLP in its double
#   frame at rows 4 to 22, text from row 5 column 3, highlighted words in
#   their colour without shifting the line; Down, Up, PgDn, PgUp, End, Home;
#   F1 into the general page once (not again from inside it); Esc back, Esc
#   again restoring the form cell for cell; a page shorter than the window;
#   a missing page.
# - F3 on a field whose form names a list (the form file is given one): the
#   list's window with its title on the frame, empty with this program's
#   procedures; Right and Left turning the title's left end into the
#   triangle and back; Esc restoring the form, Browse.tmp gone, the same
#   field edited again.
# - listprobe over the countries: the page in key order, Down and Enter
#   loading the chosen record, Browse.tmp gone; opened with F3 from a field
#   after a selection form, F3 into its second list, a choice there calling
#   the follow-up hook with the field the list was opened from.
#
# usage: help_and_lists_test.sh TAVIRENO MKINSTALL LISTPROBE
set -u
export LC_ALL=C.UTF-8  # character counts below, not bytes
source "$(dirname "$0")/lib.sh"
BIN=${1:?usage: help_and_lists_test.sh TAVIRENO MKINSTALL LISTPROBE}
MKINSTALL=${2:?}
LISTPROBE=${3:?}
SOURCES="$(cd "$(dirname "$0")/../../data/sample/tree/AJUDA" && pwd)"
e2e_require_tmux
e2e_start_server

eval "$("$MKINSTALL" "$E2E_DIR/inst" 2>/dev/null)"
ENVS=("KELROOT=$KELROOT" "KELTMP=$KELTMP")
HELP="$KELROOT/AJUDA"

line() { e2e_capture "$1" -N | sed -n "${2}p"; }
colour_line() { e2e_capture "$1" -e | sed -n "${2}p"; }
# The text of screen row ROW from column 3, trailing blanks removed.
shown() { local l; l=$(line "$1" "$2"); l=${l:2:76}; echo "${l%"${l##*[! ]}"}"; }
# Line N of a help page's source, without its style marks.
page_line() {
  local l
  l=$(sed -n "${2}p" "$SOURCES/$1.HLP" | sed 's/{[hur]}//g')
  echo "${l%"${l##*[! ]}"}"
}
page_lines() { wc -l <"$SOURCES/$1.HLP"; }
# expect_page SESSION TOPIC FIRST WHAT: rows 5..21 show lines FIRST.. of TOPIC.
expect_page() {
  local session=$1 topic=$2 first=$3 what=$4 r n bad=""
  for ((r = 5; r <= 21; r++)); do
    n=$((first + r - 5))
    if [[ $(shown "$session" $r) != "$(page_line "$topic" $n)" ]]; then bad="row $r"; break; fi
  done
  if [[ -z $bad ]]; then e2e_pass "$what"; else
    e2e_fail "$what: $bad is '$(shown "$session" $r)', expected '$(page_line "$topic" $n)'"
  fi
}
# Waits until row ROW starts with TEXT at column 3.
wait_row() {
  local session=$1 row=$2 text=$3 deadline=$(($(e2e_now_ms) + E2E_TIMEOUT_MS))
  while [[ $(shown "$session" "$row") != "$text"* ]]; do
    if (($(e2e_now_ms) > deadline)); then
      e2e_capture "$session"
      return 1
    fi
    sleep 0.02
  done
}
# Waits until the whole screen, with colours, equals FILE.
wait_screen() {
  local session=$1 file=$2 deadline=$(($(e2e_now_ms) + E2E_TIMEOUT_MS))
  while ! e2e_capture "$session" -e | cmp -s - "$file"; do
    if (($(e2e_now_ms) > deadline)); then
      diff <(e2e_capture "$session" -e | cat -v) <(cat -v "$file") | head -20
      return 1
    fi
    sleep 0.02
  done
}
start_form() {
  e2e_run "$1" 80 25 tmux-256color "'$BIN'" "${ENVS[@]}"
  if ! e2e_wait_for "$1" "Idioma per defecte: ◄Català"; then
    e2e_fail "the form did not show"
    e2e_summary
    exit 1
  fi
  sleep 0.2  # the form is complete once the selector shows; let it settle
  e2e_capture "$1" -e >"$E2E_DIR/$1.form"
  e2e_capture "$1" -N >"$E2E_DIR/$1.text"
}
# Columns FROM..TO (1-based) of screen row ROW, by characters.
cells() { local l; l=$(line "$1" "$2"); echo "${l:$(($3 - 1)):$(($4 - $3 + 1))}"; }

# --- The program's help page ---------------------------------------------------
start_form help
TOP=$(page_line TAVIRENO 1)
LINES=$(page_lines TAVIRENO)
e2e_send help F1
if wait_row help 5 "$TOP"; then e2e_pass "F1 shows the program's page"; else
  e2e_fail "F1 shows the program's page"
fi
e2e_expect_eq "top frame on row 4" "$(line help 4)" "╔$(printf '═%.0s' {1..78})╗"
e2e_expect_eq "bottom frame on row 22" "$(line help 22)" "╚$(printf '═%.0s' {1..78})╝"
e2e_expect_eq "rows above and below the window untouched" "$(line help 3)|$(line help 23)" \
  "$(sed -n 3p "$E2E_DIR/help.text")|$(sed -n 23p "$E2E_DIR/help.text")"
row5=$(line help 5)
e2e_expect_eq "first line at column 3" "${row5:0:11}" "║ TAVIRENO "
expect_page help TAVIRENO 1 "the first 17 lines"
# The colours come from the installation's colour table: the highlighted
# word differs from the text after it, which has the colour of plain lines.
word=$(e2e_cell_colours "$(colour_line help 5)" 3)
after=$(e2e_cell_colours "$(colour_line help 5)" 12)
plain=$(e2e_cell_colours "$(colour_line help 7)" 3)
[[ $word != "$after" && $word != none ]] && e2e_pass "a highlighted word ($word)" ||
  e2e_fail "a highlighted word: $word, the text after it $after"
e2e_expect_eq "the text after it in the plain colour" "$after" "$plain"
e2e_send help Down
wait_row help 21 "$(page_line TAVIRENO 18)" && expect_page help TAVIRENO 2 "Down scrolls one line" ||
  e2e_fail "Down scrolls one line"
e2e_send help Up
wait_row help 5 "$TOP" && expect_page help TAVIRENO 1 "Up scrolls back" || e2e_fail "Up scrolls back"
e2e_send help End
LAST_FIRST=$((LINES - 16))
wait_row help 21 "$(page_line TAVIRENO "$LINES")" &&
  expect_page help TAVIRENO $LAST_FIRST "End shows the last lines" || e2e_fail "End"
e2e_send help Down
sleep 0.2
expect_page help TAVIRENO $LAST_FIRST "Down at the end does nothing"
e2e_send help Home
wait_row help 5 "$TOP" && expect_page help TAVIRENO 1 "Home" || e2e_fail "Home"
e2e_send help NPage
wait_row help 21 "$(page_line TAVIRENO "$LINES")" &&
  expect_page help TAVIRENO $LAST_FIRST "PgDn not past the last line" || e2e_fail "PgDn"
e2e_send help PPage
wait_row help 5 "$TOP" && expect_page help TAVIRENO 1 "PgUp not before line 1" || e2e_fail "PgUp"

# F1 into the general page, F1 again inside it, Esc back, Esc out.
e2e_send help F1
wait_row help 5 "$(page_line MORLEPAN 1)" && expect_page help MORLEPAN 1 "F1 opens the general page" ||
  e2e_fail "F1 opens the general page"
e2e_send help F1 Escape
wait_row help 5 "$TOP" && e2e_pass "F1 inside the general page opens nothing; Esc goes back" ||
  e2e_fail "Esc from the general page"
e2e_send help Escape
wait_screen help "$E2E_DIR/help.form" && e2e_pass "Esc restores the form cell for cell" ||
  e2e_fail "Esc restores the form cell for cell"
e2e_send help Right
e2e_wait_for help "◄Castellà" >/dev/null && e2e_pass "the field is edited again after help" ||
  e2e_fail "the field is edited again after help"
e2e_send help Escape
e2e_expect_eq "the program ends" "$(e2e_exit_status help)" 0
e2e_kill_session help

# --- A page shorter than the window, and a missing page ------------------------
mv "$HELP/TAVIRENO.HLP" "$E2E_DIR/TAVIRENO.HLP"
for i in 1 2 3 4 5; do printf '%-80s' "SHORT $i"; done >"$HELP/TAVIRENO.HLP"
start_form short
e2e_send short F1
wait_row short 5 "SHORT 1" && e2e_pass "a short page shows" || e2e_fail "a short page shows"
e2e_send short Down NPage
sleep 0.3
e2e_expect_eq "Down and PgDn do nothing on a short page" "$(shown short 5)|$(shown short 9)|$(shown short 10)" \
  "SHORT 1|SHORT 5|"
e2e_send short Escape
wait_screen short "$E2E_DIR/short.form" && e2e_pass "Esc after the short page" || e2e_fail "Esc after the short page"
rm "$HELP/TAVIRENO.HLP"
e2e_send short F1
if e2e_wait_for short "╔$(printf '═%.0s' {1..78})╗" >/dev/null && [[ $(shown short 5) == "" ]]; then
  e2e_pass "a missing page opens an empty window"
else
  e2e_fail "a missing page opens an empty window"
fi
e2e_send short Escape
wait_screen short "$E2E_DIR/short.form" && e2e_pass "Esc closes the empty window" ||
  e2e_fail "Esc closes the empty window"
e2e_send short Escape
e2e_expect_eq "the program ends after the missing page" "$(e2e_exit_status short)" 0
e2e_kill_session short
mv "$E2E_DIR/TAVIRENO.HLP" "$HELP/TAVIRENO.HLP"

# --- F3 on a field that names a list ------------------------------------------
# The language field gets list 1 (the menu file, rows 5..15, columns 20..60)
# and its form takes F3 (3e00).
JPN="$KELROOT/FORMS/TAVIRENO.JPN"
sed -i -e 's/^"d,1b,4800,5000,4900,5100",9,0/"d,1b,4800,5000,4900,5100,3e00",9,0/' \
  -e 's/defecte:  ",3,0,0,0,0,0,/defecte:  ",3,0,0,0,0,1,/' \
  -e 's/^0\r$/1\r\n33,0,5,20,15,60,0," LLISTA_DE_PROVA ",0\r/' "$JPN"
start_form list
e2e_send list F3
TITLE="╔═LLISTA DE PROVA$(printf '═%.0s' {1..23})╗"
if e2e_wait_for list "$TITLE" >/dev/null; then e2e_pass "F3 opens the list with its title"; else
  e2e_fail "F3 opens the list with its title: row 5 is '$(line list 5)'"
fi
e2e_expect_eq "the title on the frame, at column 20" "$(cells list 5 20 60)" "$TITLE"
e2e_expect_eq "the list is empty" "$(cells list 6 20 60)" "║$(printf ' %.0s' {1..39})║"
[[ -e $KELTMP/Browse.tmp ]] && e2e_pass "Browse.tmp while the list is open" ||
  e2e_fail "Browse.tmp while the list is open"
e2e_send list Right
# Offset 9 of " LLISTA_DE_PROVA ".
e2e_wait_for list "◄DE PROVA═" >/dev/null && e2e_pass "Right: the left end becomes ◄" ||
  e2e_fail "Right: the left end becomes ◄"
e2e_send list Left
e2e_wait_for list "$TITLE" >/dev/null && e2e_pass "Left: the frame corner is back" ||
  e2e_fail "Left: the frame corner is back"
e2e_send list Escape
wait_screen list "$E2E_DIR/list.form" && e2e_pass "Esc restores the form cell for cell" ||
  e2e_fail "Esc restores the form after the list"
[[ ! -e $KELTMP/Browse.tmp ]] && e2e_pass "Browse.tmp is deleted" || e2e_fail "Browse.tmp is deleted"
e2e_send list Right
e2e_wait_for list "◄Castellà" >/dev/null && e2e_pass "the same field is edited again" ||
  e2e_fail "the same field is edited again"
e2e_send list Escape
e2e_expect_eq "the program ends after the list" "$(e2e_exit_status list)" 0
e2e_kill_session list

# --- listprobe over the countries ---------------------------------------------
e2e_run probe 80 25 tmux-256color "'$LISTPROBE'" "${ENVS[@]}"
if e2e_wait_for probe "╔═PAÏSOS PER CODI" >/dev/null; then e2e_pass "listprobe shows the countries"; else
  e2e_fail "listprobe shows the countries"
fi
e2e_expect_eq "the first country in key order" "$(cells probe 4 5 16)" "AD  Andorra "
e2e_send probe Down Down Enter
if e2e_wait_for probe "RESULT result=0 line=[AT  Àustria" >/dev/null; then
  e2e_pass "Enter loads the chosen record by its position"
else
  e2e_fail "Enter loads the chosen record: row 25 is '$(line probe 25)'"
fi
[[ ! -e $KELTMP/Browse.tmp ]] && e2e_pass "listprobe leaves no Browse.tmp" ||
  e2e_fail "listprobe leaves no Browse.tmp"
e2e_send probe x
e2e_expect_eq "listprobe ends" "$(e2e_exit_status probe)" 0
e2e_kill_session probe

# --- A list opened from a field, after a selection form, and its second list ---
# The selection form clears the field in progress when it ends; the second
# list's follow-up hook still gets the field the list was opened from.
e2e_run pick 80 25 tmux-256color "'$LISTPROBE' --selection --second" "${ENVS[@]}"
e2e_wait_for pick "Codi:" >/dev/null || e2e_fail "listprobe --selection did not start"
e2e_send pick F3
e2e_wait_for pick "Des de:" >/dev/null && e2e_pass "F3 on the field runs the selection form first" ||
  e2e_fail "F3 on the field runs the selection form first"
e2e_send pick Enter
e2e_wait_for pick "╔═PAÏSOS PER CODI" >/dev/null && e2e_pass "Enter in the selection form opens the list" ||
  e2e_fail "Enter in the selection form opens the list"
e2e_send pick F3
e2e_wait_for pick "╔═SEGONA LLISTA" >/dev/null && e2e_pass "F3 in the list opens the second list" ||
  e2e_fail "F3 in the list opens the second list"
e2e_send pick Down Enter
if e2e_wait_for pick "FOLLOW-UP list=1 form=1 field=1" >/dev/null; then
  e2e_pass "the follow-up hook gets the field that opened the list"
else
  e2e_fail "the follow-up hook: row 24 is '$(line pick 24)'"
fi
e2e_send pick Escape
e2e_wait_for pick "RESULT result=-1" >/dev/null && e2e_pass "Esc leaves the form" || e2e_fail "Esc leaves the form"
e2e_send pick x
e2e_expect_eq "listprobe --selection ends" "$(e2e_exit_status pick)" 0
e2e_kill_session pick

e2e_summary
