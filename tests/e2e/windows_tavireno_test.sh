#!/usr/bin/env bash
# The Windows program (tavireno.exe) under wine, in a tmux pane of 80 x 25,
# on a sample installation written by mkinstall.exe with drive-letter paths
# (KELROOT=Z:\...\, KELTMP=Z:\...\TERM01): the form with the selector,
# Left/Right and an initial, F1 starting the help launcher through COMSPEC,
# the calculator (Alt+X) and the calendar (Alt+C), Enter converting every
# record, the closing message in the new language and the key that ends
# (exit code 0); Esc changing nothing; /AUTO and /AUTO /TAULES with their
# output redirected (code page 850 lines ended by CR LF). With the Linux
# programs' folder as fifth argument, an installation written on Linux is
# converted by the Windows program and read back on Linux.
#
# Where wine differs from Windows the test uses what both share: Enter of
# the main keyboard (wine reports the keypad's Enter as Ctrl+Enter, which
# Windows gives as character 10); Esc is recognised by its virtual key (wine
# gives it without its character 27).
#
# usage: windows_tavireno_test.sh TAVIRENO.EXE MKINSTALL.EXE CONVERSION_CHECK.EXE WINE_RUN
#                                 [LINUX_BIN_DIR]
set -u
export LC_ALL=C.UTF-8
source "$(dirname "$0")/lib.sh"
BIN=${1:?usage: windows_tavireno_test.sh TAVIRENO.EXE MKINSTALL.EXE CONVERSION_CHECK.EXE WINE_RUN}
MKINSTALL=${2:?}
CHECK=${3:?}
WINE_RUN=${4:?}
LINUX_BIN=${5:-}
e2e_require_tmux
if ! "$WINE_RUN" --version >/dev/null 2>&1 && ! command -v wine64 >/dev/null &&
  [[ ! -x /usr/lib/wine/wine64 ]]; then
  echo "SKIP: wine64 is not installed (scripts/deps.sh installs it)."
  exit 77
fi
e2e_start_server
SLOW=120000

# A Unix path as wine's drive Z: names it, with Windows separators.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

ROOT=$E2E_DIR/inst
"$WINE_RUN" "$MKINSTALL" "$(winpath "$ROOT")" --records 400 >/dev/null 2>"$E2E_DIR/mkinstall.err" ||
  { e2e_fail "mkinstall.exe: $(cat "$E2E_DIR/mkinstall.err")"; e2e_summary; exit 1; }
KELROOT="$(winpath "$ROOT")\\"
KELTMP="$(winpath "$ROOT")\\TERM01"
ENVS=("KELROOT=$KELROOT" "KELTMP=$KELTMP")
NURI=$ROOT/Nuri.ini
TERMINI=$ROOT/TERM01/NuriTerm.ini
RUN="'$WINE_RUN' '$BIN'"

line() { e2e_capture "$1" | sed -n "${2}p" | sed 's/ *$//'; }
language_line() { grep -a '^Idioma=' "$1" | tr -d '\r'; }
set_language() { sed -i "s/^Idioma=.*\r\$/Idioma=$2\r/" "$1"; }
crlf_only() {  # every line of the file ends in CR LF
  [[ -z $(grep -a -n -v $'\r$' "$1") ]]
}
expect_check() {  # expect_check WHAT LANGUAGE [ARGS...]
  if "$WINE_RUN" "$CHECK" "Z:$ROOT/" "${@:2}" >"$E2E_DIR/check" 2>&1; then e2e_pass "$1"; else
    e2e_fail "$1"
    cat "$E2E_DIR/check"
  fi
}

# The help launcher: F1 runs COMSPEC /C VOPRUN AJUDA\topic.HTM in the
# installation folder; this stand-in notes what it was asked for.
printf '@echo %%1>VOPRUN.OUT\r\n' >"$ROOT/VOPRUN.CMD"

# --- The interactive change, Catalan to Spanish -------------------------------
e2e_run change 80 25 tmux-256color "$RUN" "${ENVS[@]}"
if ! e2e_wait_for change "Idioma per defecte: ◄Català" 60000; then
  e2e_fail "the form did not show"
  e2e_summary
  exit 1
fi
e2e_expect_eq "title on row 1" "$(line change 1)" \
  "$(printf '%26s' '')Localització aplicacions KEL"
e2e_expect_eq "first label" "$(line change 3)" \
  "    Aquest programa canvia l'idioma per defecte de la instal·lació:"
e2e_expect_eq "selector with its triangles" "$(line change 16)" \
  "    Idioma per defecte: ◄Català          ►"
e2e_send change Right
e2e_wait_for change "◄Castellà        ►" >/dev/null && e2e_pass "Right picks Castellà" ||
  e2e_fail "Right picks Castellà"
e2e_send change g
e2e_wait_for change "◄Galego-portuguès►" >/dev/null && e2e_pass "an initial picks Galego" ||
  e2e_fail "an initial picks Galego"
e2e_send change Left
e2e_wait_for change "◄Castellà        ►" >/dev/null && e2e_pass "Left goes back" ||
  e2e_fail "Left goes back"

# F1: the launcher runs (and is waited for); the form stays.
e2e_send change F1
deadline=$(($(e2e_now_ms) + 30000))
while [[ ! -s $ROOT/VOPRUN.OUT ]] && (($(e2e_now_ms) < deadline)); do sleep 0.05; done
if grep -aq '^AJUDA\\.*\.HTM' "$ROOT/VOPRUN.OUT" 2>/dev/null; then
  e2e_pass "F1 starts COMSPEC /C VOPRUN $(tr -d '\r\n' <"$ROOT/VOPRUN.OUT")"
else
  e2e_fail "F1 did not start the help launcher"
fi
e2e_wait_for change "◄Castellà        ►" >/dev/null && e2e_pass "the form after F1" ||
  e2e_fail "the form after F1"

# Alt+X and Alt+C: the pop-ups over the form; Esc closes them.
e2e_send change M-x
e2e_wait_for change "┌────────────────────────┐" >/dev/null && e2e_pass "Alt+X opens the calculator" ||
  e2e_fail "Alt+X opens the calculator"
e2e_send change Escape
sleep 0.3
e2e_send change M-c
e2e_wait_for change "└────────────────────┘" >/dev/null && e2e_pass "Alt+C opens the calendar" ||
  e2e_fail "Alt+C opens the calendar"
e2e_send change Escape
deadline=$(($(e2e_now_ms) + 5000))
while e2e_capture change | grep -qF "└────────────────────┘" && (($(e2e_now_ms) < deadline)); do
  sleep 0.05
done
e2e_expect_eq "Esc closes the calendar, the language stays" "$(line change 16)" \
  "    Idioma per defecte: ◄Castellà        ►"

e2e_send change Enter
if e2e_wait_for change "│ SE HA CAMBIADO EL IDIOMA POR DEFECTO A SPA │" "$SLOW"; then
  e2e_pass "closing message in Spanish"
else
  e2e_fail "closing message in Spanish"
fi
e2e_expect_eq "title refreshed from the menu file" "$(line change 1)" \
  "$(printf '%26s' '')Localización aplicaciones KEL"
e2e_expect_eq "still waiting for the key" "$(e2e_exit_status change 300)" running
e2e_send change x
e2e_expect_eq "interactive change: exit code 0" "$(e2e_exit_status change "$SLOW")" 0
e2e_kill_session change
e2e_expect_eq "Nuri.ini records SPA" "$(language_line "$NURI")" "Idioma=SPA"
e2e_expect_eq "NuriTerm.ini records SPA" "$(language_line "$TERMINI")" "Idioma=SPA"
crlf_only "$NURI" && e2e_pass "Nuri.ini keeps CR LF" || e2e_fail "Nuri.ini keeps CR LF"
crlf_only "$TERMINI" && e2e_pass "NuriTerm.ini keeps CR LF" || e2e_fail "NuriTerm.ini keeps CR LF"
expect_check "every record in Spanish" SPA

# --- Esc: nothing changes --------------------------------------------------------
before=$(md5sum "$NURI" "$TERMINI" "$ROOT"/menu.dat "$ROOT"/TAULES/*.dat | md5sum)
e2e_run esc 80 25 tmux-256color "$RUN" "${ENVS[@]}"
e2e_wait_for esc "Idioma por defecto: ◄Castellano" 60000 >/dev/null ||
  e2e_fail "Esc: the form in Spanish"
e2e_send esc Escape
e2e_expect_eq "Esc: exit code 0" "$(e2e_exit_status esc "$SLOW")" 0
e2e_kill_session esc
e2e_expect_eq "Esc: configuration and data untouched" \
  "$(md5sum "$NURI" "$TERMINI" "$ROOT"/menu.dat "$ROOT"/TAULES/*.dat | md5sum)" "$before"

# --- /AUTO with its output redirected ---------------------------------------
set_language "$TERMINI" GLG
KELROOT=$KELROOT KELTMP=$KELTMP "$WINE_RUN" "$BIN" /AUTO >"$E2E_DIR/auto.out" 2>"$E2E_DIR/auto.err"
e2e_expect_eq "/AUTO redirected: exit code 0" "$?" 0
if [[ $(head -c 2 "$E2E_DIR/auto.out" | od -An -tx1 | tr -d ' \n') == 0d0a ]] &&
  grep -aq $'^TAVIRENO versom 1.01\r$' "$E2E_DIR/auto.out"; then
  e2e_pass "/AUTO banner in GLG after an empty line"
else
  e2e_fail "/AUTO banner: $(od -c "$E2E_DIR/auto.out" | head -5)"
fi
grep -aqF "$KELROOT"$'\r' "$E2E_DIR/auto.out" && e2e_pass "/AUTO names the installation" ||
  e2e_fail "/AUTO names the installation"
grep -aq $'^Idioma que se aplica: GLG\r$' "$E2E_DIR/auto.out" &&
  e2e_pass "/AUTO output: the language, a line ended by CR LF" ||
  e2e_fail "/AUTO output: $(od -c "$E2E_DIR/auto.out" | head -12)"
if LC_ALL=C grep -aq $'\xc3' "$E2E_DIR/auto.out"; then
  e2e_fail "/AUTO output holds UTF-8, not code page 850"
else
  e2e_pass "/AUTO output in code page 850"
fi
expect_check "/AUTO: every record in Galician-Portuguese" GLG
e2e_expect_eq "/AUTO: Nuri.ini" "$(language_line "$NURI")" "Idioma=GLG"

set_language "$TERMINI" OCI
KELROOT=$KELROOT KELTMP=$KELTMP "$WINE_RUN" "$BIN" /auto /taules >/dev/null 2>&1
e2e_expect_eq "/AUTO /TAULES: exit code 0" "$?" 0
expect_check "/AUTO /TAULES: tables in Aranese, data files as they were" OCI --data GLG

# --- A console control event during a conversion: the run ends in order -----------
# tmux cannot send Ctrl+Break; under wine, Ctrl+C typed in a Unix terminal
# arrives as the console's Ctrl+C event even while the program reads keys
# (on Windows it is then a key), and ends the run the same way.
STOP=$E2E_DIR/stop
"$WINE_RUN" "$MKINSTALL" "$(winpath "$STOP")" --records 6000 >/dev/null 2>&1
cp -a "$STOP" "$E2E_DIR/stop-original"
set_language "$STOP/TERM01/NuriTerm.ini" SPA
stop_nuri=$(md5sum <"$STOP/Nuri.ini")
e2e_run stop 80 25 tmux-256color "$RUN /AUTO" "KELROOT=$(winpath "$STOP")\\" \
  "KELTMP=$(winpath "$STOP")\\TERM01"
if e2e_wait_for stop "Idioma que se aplica: SPA" 60000 >/dev/null; then
  sleep 0.5
  e2e_send stop C-c
  e2e_expect_eq "Ctrl+C during /AUTO: exit code 130" "$(e2e_exit_status stop "$SLOW")" 130
  e2e_wait_for_joined stop "detenido por Ctrl+C" >/dev/null && e2e_pass "the run says why it stopped" ||
    e2e_fail "the run says why it stopped"
  if "$WINE_RUN" "$CHECK" "Z:$STOP/" SPA --partial --original "Z:$E2E_DIR/stop-original/" \
    >"$E2E_DIR/stop.check" 2>&1; then
    e2e_pass "stopped run: every record whole, as installed or converted"
  else
    e2e_fail "stopped run"
    cat "$E2E_DIR/stop.check"
  fi
  e2e_expect_eq "stopped run: Nuri.ini not recorded" "$(md5sum <"$STOP/Nuri.ini")" "$stop_nuri"
else
  e2e_fail "/AUTO in the console did not start"
fi
e2e_kill_session stop

# --- Two stations converting one installation at once -----------------------------
TWO=$E2E_DIR/two
"$WINE_RUN" "$MKINSTALL" "$(winpath "$TWO")" --records 1500 >/dev/null 2>&1
cp -a "$TWO/TERM01" "$TWO/TERM02"
sed -i 's/TERM01\r$/TERM02\r/' "$TWO/TERM02/Sessio.ini"
# Stations that have run before, with identities of their own (two first
# runs in the same hundredth of a second would draw the same one).
printf '\x11\x00\x00\x00%-15s' STATION1 >"$TWO/TERM01/LOCKS.TMP"
printf '\x22\x00\x00\x00%-15s' STATION2 >"$TWO/TERM02/LOCKS.TMP"
for t in TERM01 TERM02; do set_language "$TWO/$t/NuriTerm.ini" SPA; done
cp -a "$TWO" "$E2E_DIR/two-original"
KELROOT="$(winpath "$TWO")\\" KELTMP="$(winpath "$TWO")\\TERM01" \
  "$WINE_RUN" "$BIN" /AUTO </dev/null >"$E2E_DIR/two1.out" 2>&1 &
p1=$!
KELROOT="$(winpath "$TWO")\\" KELTMP="$(winpath "$TWO")\\TERM02" \
  "$WINE_RUN" "$BIN" /AUTO </dev/null >"$E2E_DIR/two2.out" 2>&1 &
p2=$!
wait "$p1"
rc1=$?
wait "$p2"
rc2=$?
e2e_expect_eq "two stations at once: station 1 ends with 0" "$rc1" 0
e2e_expect_eq "two stations at once: station 2 ends with 0" "$rc2" 0
if "$WINE_RUN" "$CHECK" "Z:$TWO/" SPA --original "Z:$E2E_DIR/two-original/" >"$E2E_DIR/two.check" 2>&1; then
  e2e_pass "two stations at once: every record whole and in Spanish"
else
  e2e_fail "two stations at once"
  cat "$E2E_DIR/two.check"
fi
total=$(awk '{n += $4} END {print n}' "$E2E_DIR/two.check")
e2e_expect_eq "two stations at once: every record rewritten by both" \
  "$(wc -l <"$TWO/db.log")" $((2 * total))

# --- An installation written on Linux, converted on Windows, read on Linux ------
if [[ -n $LINUX_BIN && -x $LINUX_BIN/mkinstall && -x $LINUX_BIN/conversion_check ]]; then
  LROOT=$E2E_DIR/linux
  "$LINUX_BIN/mkinstall" "$LROOT" --records 300 >/dev/null 2>&1
  cp -r "$LROOT" "$E2E_DIR/linux-original"
  set_language "$LROOT/TERM01/NuriTerm.ini" OCI
  KELROOT="$(winpath "$LROOT")\\" KELTMP="$(winpath "$LROOT")\\TERM01" \
    "$WINE_RUN" "$BIN" /AUTO >/dev/null 2>&1
  e2e_expect_eq "Linux installation, /AUTO on Windows: exit code 0" "$?" 0
  if "$LINUX_BIN/conversion_check" "$LROOT" OCI --original "$E2E_DIR/linux-original" \
    >"$E2E_DIR/lcheck" 2>&1; then
    e2e_pass "read back on Linux: every record in Aranese, nothing else changed"
  else
    e2e_fail "read back on Linux"
    cat "$E2E_DIR/lcheck"
  fi
  e2e_expect_eq "read back on Linux: NuriTerm.ini" \
    "$(language_line "$LROOT/TERM01/NuriTerm.ini")" "Idioma=OCI"
else
  echo "note: no Linux programs given: the Linux-to-Windows round is left out"
fi

e2e_summary
