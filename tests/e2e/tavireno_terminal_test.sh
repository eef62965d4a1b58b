#!/usr/bin/env bash
# The program in a real terminal (tmux, 80 x 25, tmux-256color) on a
# generated installation: the interactive change of language from the form
# to the closing message (the form, the selector, the progress window, the
# message in the new language and its colours, the beep, both configuration
# files and the data), Esc, the language already in force, /AUTO and
# /AUTO /TAULES; the language applied with keypad Enter; the last screen
# left standing after a run without arguments, a cleared one after a run
# with arguments; a server that cannot be reached, its reason under the
# message.
#
# usage: tavireno_terminal_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK
set -u
export LC_ALL=C.UTF-8  # character counts below, not bytes
source "$(dirname "$0")/lib.sh"
BIN=${1:?usage: tavireno_terminal_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK}
MKINSTALL=${2:?}
CHECK=${3:?}
e2e_require_tmux
e2e_start_server
SLOW=120000  # a conversion in a debug or sanitizer build

# Big enough for the progress window to stay up while the screen is read.
eval "$("$MKINSTALL" "$E2E_DIR/inst" --records 4000 2>/dev/null)"
ENVS=("KELROOT=$KELROOT" "KELTMP=$KELTMP")
NURI="$KELROOT/Nuri.ini"
TERMINI="$KELTMP/NuriTerm.ini"

line() { e2e_capture "$1" -N | sed -n "${2}p"; }
language_line() { grep -a '^Idioma=' "$1" | tr -d '\r'; }
set_language() { sed -i "s/^Idioma=.*\r\$/Idioma=$2\r/" "$1"; }
log_lines() { if [[ -e $KELROOT/db.log ]]; then wc -l <"$KELROOT/db.log"; else echo 0; fi; }

expect_check() {  # expect_check WHAT ARGS...
  if "$CHECK" "$KELROOT" "${@:2}" >"$E2E_DIR/check" 2>&1; then e2e_pass "$1"; else
    e2e_fail "$1"
    cat "$E2E_DIR/check"
  fi
}

# expect_last_screen SESSION WHAT TEXT: after the program has ended, its last
# screen is still on the terminal (it never used the alternate screen).
expect_last_screen() {
  if e2e_capture "$1" | grep -qF -- "$3"; then
    e2e_pass "$2: the last screen stays after the exit"
  else
    e2e_fail "$2: the last screen is gone after the exit: $(e2e_capture "$1")"
  fi
}

# expect_cleared_screen SESSION WHAT: nothing left on the terminal but the
# line tmux adds under a finished program.
expect_cleared_screen() {
  local left
  left=$(e2e_capture "$1" | grep -v '^Pane is dead' | tr -d ' \n')
  e2e_expect_eq "$2: the screen is cleared at the exit" "$left" ""
}

expect_exit() {  # expect_exit SESSION WHAT
  e2e_expect_eq "$2" "$(e2e_exit_status "$1" "$SLOW")" 0
  e2e_kill_session "$1"
}

# --- The interactive change, Catalan to Spanish -------------------------------
e2e_run change 80 25 tmux-256color "'$BIN'" "${ENVS[@]}"
if ! e2e_wait_for change "Idioma per defecte: ◄Català"; then
  e2e_fail "the form did not show"
  e2e_summary
  exit 1
fi
# The title from Sessio.ini centred on row 1 (30 characters from column 26),
# the labels, and the selector on row 16.
e2e_expect_eq "title on row 1" "$(line change 1 | sed 's/ *$//')" \
  "$(printf '%26s' '')Localització aplicacions KEL"
e2e_expect_eq "first label" "$(line change 3 | sed 's/ *$//')" \
  "    Aquest programa canvia l'idioma per defecte de la instal·lació:"
e2e_expect_eq "selector" "$(line change 16 | sed 's/ *$//')" \
  "    Idioma per defecte: ◄Català          ►"
e2e_send change Right
e2e_wait_for change "◄Castellà" >/dev/null && e2e_pass "Right picks Castellà" ||
  e2e_fail "Right picks Castellà"
# The keypad's Enter applies the language as Enter does.
e2e_send change KPEnter

# The progress window: a frame over rows 23 to 25, a file's label inside.
# The window is drawn afresh for each file, so a single look may fall between
# two files; one whole pane read must show the frame and the label together,
# before the closing message does.
LABELS='MENU|UPAISOS|UVIES|UCAE|UTERRITO|FAMOCOEF|FGRUBAL|NCRA|NMOTIUS|NTIPCONC|HCONCEPT|HDESPESA|HOPERACI|NCNVCONC|RCONCEPT|VCONCEPT|VDESGLOS|VDESPESA|VOPERACI'
FRAME="┌──────────────────────────────────────────────────────────────────────────────┐"
progress_seen=no row24="(never framed)"
deadline=$(($(e2e_now_ms) + SLOW))
while (($(e2e_now_ms) < deadline)); do
  pane=$(e2e_capture change -N 2>/dev/null)
  if [[ $(sed -n 23p <<<"$pane") == "$FRAME" ]]; then
    row24=$(sed -n 24p <<<"$pane")
    if [[ $row24 =~ ^│\ ($LABELS)\ +\ [^\ ] ]]; then progress_seen=yes; break; fi
  fi
  grep -qF "SE HA CAMBIADO EL IDIOMA" <<<"$pane" && break
  sleep 0.02
done
if [[ $progress_seen == yes ]]; then
  e2e_pass "progress window shows a label and a key"
else
  e2e_fail "progress window row 24: '$row24'"
fi

# The closing message, in Spanish now, over the form with the new title.
if e2e_wait_for change "│ SE HA CAMBIADO EL IDIOMA POR DEFECTO A SPA │" "$SLOW"; then
  e2e_pass "closing message in Spanish"
else
  e2e_fail "closing message in Spanish"
fi
e2e_expect_eq "title refreshed from the menu file" "$(line change 1 | sed 's/ *$//')" \
  "$(printf '%26s' '')Localización aplicaciones KEL"
msg_row=$(e2e_capture change -N | grep -n "SE HA CAMBIADO" | cut -d: -f1)
# Reverse video of colour set 1 (Col1: mode 2 is 00 on 03, black on cyan).
e2e_expect_eq "message colours" "$(e2e_cell_colours "$(e2e_capture change -e | sed -n "${msg_row}p")" 30)" \
  "30 46"
e2e_expect_eq "beep" "$(e2e_tmux display -p -t change '#{window_bell_flag}')" 1
e2e_expect_eq "still waiting for the key" "$(e2e_exit_status change 300)" running
e2e_send change Enter
e2e_expect_eq "interactive change: exit code 0" "$(e2e_exit_status change "$SLOW")" 0
expect_last_screen change "interactive change" "Idioma per defecte:  Castellà"
e2e_kill_session change
e2e_expect_eq "Nuri.ini records SPA" "$(language_line "$NURI")" "Idioma=SPA"
e2e_expect_eq "NuriTerm.ini records SPA" "$(language_line "$TERMINI")" "Idioma=SPA"
expect_check "every file in Spanish" SPA

# --- Esc, and the language already in force: nothing changes --------------------
for how in Escape Enter; do
  before="$(md5sum "$NURI" "$TERMINI" | cut -c1-32)$(log_lines)"
  e2e_run same 80 25 tmux-256color "'$BIN'" "${ENVS[@]}"
  # The session is Spanish now: the form's texts are translated.
  e2e_wait_for same "Idioma por defecto: ◄Castellano" >/dev/null ||
    e2e_fail "$how: the form in Spanish"
  e2e_send same "$how"
  e2e_expect_eq "$how: exit code 0" "$(e2e_exit_status same "$SLOW")" 0
  expect_last_screen same "$how" "Idioma por defecto:  Castellano"
  e2e_kill_session same
  e2e_expect_eq "$how: configuration and data untouched" \
    "$(md5sum "$NURI" "$TERMINI" | cut -c1-32)$(log_lines)" "$before"
done

# --- /AUTO: the banner in the session language, the progress, the data -------
set_language "$TERMINI" GLG
e2e_run auto 80 25 tmux-256color "'$BIN' /AUTO" "${ENVS[@]}"
e2e_wait_for auto "TAVIRENO versom 1.01" "$SLOW" >/dev/null && e2e_pass "/AUTO banner in GLG" ||
  e2e_fail "/AUTO banner in GLG"
e2e_wait_for auto "Idioma que se aplica: GLG" >/dev/null && e2e_pass "/AUTO notice: language" ||
  e2e_fail "/AUTO notice: language"
e2e_expect_eq "/AUTO exit code 0" "$(e2e_exit_status auto "$SLOW")" 0
expect_cleared_screen auto "/AUTO"
e2e_kill_session auto
expect_check "/AUTO: every file in Galician-Portuguese" GLG
e2e_expect_eq "/AUTO: Nuri.ini" "$(language_line "$NURI")" "Idioma=GLG"

# --- /AUTO /TAULES: the tables only --------------------------------------------
set_language "$TERMINI" OCI
e2e_run tables 80 25 tmux-256color "'$BIN' /auto /taules" "${ENVS[@]}"
expect_exit tables "/AUTO /TAULES exit code 0"
expect_check "/AUTO /TAULES: tables in Aranese, data files as they were" OCI --data GLG
e2e_expect_eq "/AUTO /TAULES: NuriTerm.ini" "$(language_line "$TERMINI")" "Idioma=OCI"

# --- A server that cannot be reached: the reason under the message ------------
# No server listens on port 1. The box keeps the message's words and shows
# the server's reason on the lines under it, in the session's language, and
# never the connection string's password; a key ends the run (exit code 3)
# and the shell keeps the message and the reason.
set_language "$TERMINI" GLG
e2e_run server 80 25 tmux-256color "'$BIN'" "${ENVS[@]}" \
  "KELDB=host=127.0.0.1 port=1 dbname=kel user=kel password=Hidden-42"
if e2e_wait_for server "NOM SE PODE ACEDER AO FICHEIRO ${KELROOT}menu (2)" >/dev/null; then
  e2e_pass "unreachable server: the message in its box"
else
  e2e_fail "unreachable server: the message in its box"
fi
row=$(e2e_capture server -N | grep -n "NOM SE PODE ACEDER AO FICHEIRO" | cut -d: -f1)
if [[ -n $row ]] && line server $((row + 1)) | grep -q "│ Nom se pode conectar com o servidor: connection to server"; then
  e2e_pass "unreachable server: the reason on the line under the message"
else
  e2e_fail "unreachable server: under the message: '$(line server $((${row:-0} + 1)))'"
fi
e2e_capture server | grep -q "Hidden-42" && e2e_fail "unreachable server: the password shows" ||
  e2e_pass "unreachable server: no password on the screen"
e2e_send server Enter
e2e_expect_eq "unreachable server: exit code 3" "$(e2e_exit_status server)" 3
if e2e_capture server -J | grep -q "^tavireno: Nom se pode conectar com o servidor: "; then
  e2e_pass "unreachable server: the shell keeps the reason"
else
  e2e_fail "unreachable server: after the exit: $(e2e_capture server -J)"
fi
e2e_kill_session server

e2e_summary
