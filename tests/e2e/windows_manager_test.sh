#!/usr/bin/env bash
# The Windows program (tavireno.exe) and recutil.exe under wine, on an
# installation whose data files the installed record manager keeps:
# "Nuri.ini" [Dades] Gestor names its DLL by a Windows path with a drive
# letter (Z:\...). The record manager is played by the stand-in kelbtrv.dll
# behind the counting library btrcount.dll, which passes every call on and
# writes one line per call (tests/e2e/tavireno_manager_test.sh does the same
# on Linux).
#
# The installation's data files are moved out of it, and the counting
# library sends every Open and Create of a path under the installation to
# that other place: a call that did not go through the loaded library would
# find no file there and leave one behind (a data file created from its
# dictionary), so "nothing under the installation" proves that every call
# went through the library. Then:
# - /AUTO, /AUTO /TAULES and an interactive change (tmux, 80 x 25) give the
#   same records, byte for byte, and the same operation log as the same runs
#   on our own files; Open, Close, Reset and every Update reach the library,
#   the Reset last;
# - a DLL that is missing (by path or by bare name), one without BTRCALL, one
#   built for the other processor width, and Gestor with Servidor: exit code 3, the open
#   failure's message, a line naming the DLL (or both keys) with the
#   system's reason and its number (FormatMessage), nothing written;
# - KELBTR over Gestor;
# - recutil.exe copy to-manager and from-manager: our files to the stand-in's
#   and back, the program converting in between, every record byte for byte.
#
# Where wine differs from Windows: the system's messages are wine's own words
# ("Module not found." where Windows says "The specified module could not be
# found."), so the test checks the error numbers, which are the same.
#
# usage: windows_manager_test.sh TAVIRENO.EXE MKINSTALL.EXE CONVERSION_CHECK.EXE RECUTIL.EXE
#                                KELBTRV.DLL BTRCOUNT.DLL PROBE.DLL WINE_RUN [OTHER_WIDTH.DLL]
# (OTHER_WIDTH.DLL: a DLL built for the other processor width.)
set -u
export LC_ALL=C.UTF-8
source "$(dirname "$0")/lib.sh"
USAGE="usage: windows_manager_test.sh TAVIRENO.EXE MKINSTALL.EXE CONVERSION_CHECK.EXE RECUTIL.EXE \
KELBTRV.DLL BTRCOUNT.DLL PROBE.DLL WINE_RUN [OTHER_WIDTH.DLL]"
BIN=${1:?$USAGE}
MKINSTALL=${2:?$USAGE}
CHECK=${3:?$USAGE}
RECUTIL=${4:?$USAGE}
STANDIN=${5:?$USAGE}
COUNTING=${6:?$USAGE}
PROBE=${7:?$USAGE}
WINE_RUN=${8:?$USAGE}
OTHER_WIDTH=${9:-}
e2e_require_tmux
if ! "$WINE_RUN" --version >/dev/null 2>&1 && ! command -v wine64 >/dev/null &&
  [[ ! -x /usr/lib/wine/wine64 ]]; then
  echo "SKIP: wine64 is not installed (scripts/deps.sh installs it)."
  exit 77
fi
e2e_start_server
WORK=$E2E_DIR
SLOW=120000
RECORDS=60  # every rewrite through the stand-in is a commit of its own
unset KELBTR KELDB KELBTR_NEXT KELBTR_COUNT KELBTR_MOVE

# A Unix path as wine's drive Z: names it, with Windows separators.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
W_STANDIN=$(winpath "$(realpath "$STANDIN")")
W_COUNTING=$(winpath "$(realpath "$COUNTING")")
W_PROBE=$(winpath "$(realpath "$PROBE")")

# install DIR: a sample installation (the same every time).
install() {
  rm -rf "$1"
  "$WINE_RUN" "$MKINSTALL" "$(winpath "$1")" --records "$RECORDS" >/dev/null 2>&1
}
set_language() { sed -i "s/^Idioma=.*\r\$/Idioma=$2\r/" "$1"; }
language_line() { grep -a '^Idioma=' "$1" | tr -d '\r'; }
add_dades() { printf '[Dades]\r\n%s' "$2" >>"$1/Nuri.ini"; }
data_files() { (cd "$1" && find . -name '*.dat' | sed 's|^\./||' | sort); }
# without_root FILE ROOT: the file's text with the root's Windows path as ROOT.
without_root() {
  local text root
  text=$(cat "$1")
  root=$(winpath "$2")
  printf '%s' "${text//"$root"/ROOT}"
}
tree_sum() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 md5sum); }

# records ROOT OUT [RECUTIL OPTIONS...]: every data file of ROOT saved in
# key order to OUT/NAME.seq by recutil.exe (our files unless the options
# name a record manager).
records() {
  local root=$1 out=$2 f
  shift 2
  (($#)) || set -- --no-manager
  rm -rf "$out"
  mkdir -p "$out"
  for f in $(data_files "$REF"); do
    mkdir -p "$out/$(dirname "$f")"
    "$WINE_RUN" "$RECUTIL" save "$(winpath "$root/$f")" "$(winpath "$out/$f.seq")" --key 0 "$@" \
      >/dev/null 2>"$out/errors" || echo "cannot save $f: $(cat "$out/errors")" >>"$out/failures"
  done
}
same_records() {  # same_records WHAT DIR_A DIR_B
  if diff -r "$2" "$3" >"$WORK/diff" 2>&1; then e2e_pass "$1"; else
    e2e_fail "$1"
    head -20 "$WORK/diff"
  fi
}

# through_library NAME: a fresh installation NAME whose data files are kept
# out of it, in NAME.files, reached only through the counting library named
# by Gestor. Sets ROOT, FILES, CALLS and LIBENV (the counting library's
# variables, with Windows paths).
through_library() {
  ROOT=$WORK/$1/
  FILES=$WORK/$1.files/
  CALLS=$WORK/$1.calls
  install "$ROOT"
  rm -rf "$FILES" "$CALLS"
  local f
  (cd "$ROOT" && find . -name '*.dat' -o -name '*.dat-locks') | while read -r f; do
    mkdir -p "$FILES/$(dirname "$f")"
    mv "$ROOT/$f" "$FILES/$f"
  done
  add_dades "$ROOT" "Gestor=$W_COUNTING"$'\r\n'
  LIBENV=("KELBTR_NEXT=$W_STANDIN" "KELBTR_COUNT=$(winpath "$CALLS")"
    "KELBTR_MOVE=$(winpath "$ROOT")=$(winpath "$FILES")")
}
# on_our_files NAME: a fresh installation NAME as delivered.
on_our_files() {
  ROOT=$WORK/$1/
  install "$ROOT"
}

# run ROOT ARGS... [with the variables of ENVS]: /AUTO runs with its output
# redirected; KELROOT and KELTMP are drive-letter paths.
run() {
  local root=$1
  shift
  env "${ENVS[@]}" KELROOT="$(winpath "$root")" KELTMP="$(winpath "$root")TERM01" \
    "$WINE_RUN" "$BIN" "$@" </dev/null >"$WORK/out" 2>"$WORK/err"
  RC=$?
}

# expect_every_call_through_the_library WHAT: nothing under the installation
# but what the program writes itself, and the library's tally.
expect_every_call_through_the_library() {
  local left
  left=$(cd "$ROOT" && find . -name '*.dat*' | sort | tr '\n' ' ')
  e2e_expect_eq "$1: no data file under the installation (every call went through the library)" \
    "$left" ""
  local opens closes resets updates last
  opens=$(grep -c '^0 ' "$CALLS")
  closes=$(grep -c '^1 ' "$CALLS")
  resets=$(grep -c '^28 ' "$CALLS")
  updates=$(grep -c '^3 ' "$CALLS")
  last=$(tail -1 "$CALLS")
  if ((opens >= 19)); then e2e_pass "$1: $opens Opens reached the library"; else
    e2e_fail "$1: $opens Opens reached the library"; fi
  e2e_expect_eq "$1: every file but the menu file closed through the library" "$closes" \
    "$((opens - 1))"
  e2e_expect_eq "$1: the Reset reached the library, last" "$resets $last" "1 28 0"
  e2e_expect_eq "$1: every Update reached the library" "$updates" \
    "$(wc -l <"$ROOT/db.log")"
  e2e_expect_eq "$1: every call answered" "$(awk '$2 != 0 && $2 != 9' "$CALLS" | sort | uniq -c |
    tr -s ' ')" ""
}

ENVS=()
REF=$WORK/ref/
install "$REF"
if [[ ! -f $REF/menu.dat ]]; then
  e2e_fail "mkinstall.exe made no installation"
  e2e_summary
  exit 1
fi

# --- /AUTO and then /AUTO /TAULES: our files, then through the library -------
on_our_files ours
set_language "$ROOT/TERM01/NuriTerm.ini" SPA
run "$ROOT" /AUTO
e2e_expect_eq "/AUTO on our files: exit code" "$RC" 0
cp "$WORK/out" "$WORK/ours.out"
records "$ROOT" "$WORK/ours.auto"
cp "$ROOT/db.log" "$WORK/ours.log"
set_language "$ROOT/TERM01/NuriTerm.ini" GLG
run "$ROOT" /AUTO /TAULES
e2e_expect_eq "/AUTO /TAULES on our files: exit code" "$RC" 0
records "$ROOT" "$WORK/ours.taules"
OURS=$ROOT

through_library lib
ENVS=("${LIBENV[@]}")
set_language "$ROOT/TERM01/NuriTerm.ini" SPA
run "$ROOT" /AUTO
e2e_expect_eq "/AUTO through the library: exit code" "$RC" 0
e2e_expect_eq "/AUTO through the library: the same lines" "$(without_root "$WORK/out" "$ROOT")" \
  "$(without_root "$WORK/ours.out" "$OURS")"
e2e_expect_eq "/AUTO through the library: nothing on stderr" "$(cat "$WORK/err")" ""
expect_every_call_through_the_library "/AUTO"
records "$FILES" "$WORK/lib.auto"
same_records "/AUTO through the library: the same records, byte for byte" "$WORK/ours.auto" \
  "$WORK/lib.auto"
if cmp -s "$ROOT/db.log" "$WORK/ours.log"; then e2e_pass "/AUTO: the same operation log"; else
  e2e_fail "/AUTO: the operation logs differ"; fi
e2e_expect_eq "/AUTO through the library: Nuri.ini" "$(language_line "$ROOT/Nuri.ini")" "Idioma=SPA"
if "$WINE_RUN" "$CHECK" "$(winpath "$FILES")" SPA >"$WORK/check" 2>&1; then
  e2e_pass "/AUTO: the library's files are sound and in SPA"
else
  e2e_fail "/AUTO: conversion_check"
  cat "$WORK/check"
fi

rm -f "$CALLS" "$ROOT/db.log"
set_language "$ROOT/TERM01/NuriTerm.ini" GLG
run "$ROOT" /AUTO /TAULES
e2e_expect_eq "/AUTO /TAULES through the library: exit code" "$RC" 0
expect_every_call_through_the_library "/AUTO /TAULES"
records "$FILES" "$WORK/lib.taules"
same_records "/AUTO /TAULES through the library: the same records, byte for byte" \
  "$WORK/ours.taules" "$WORK/lib.taules"
ENVS=()

# --- The interactive change, Catalan to Castilian, in the console -------------
# interactive ROOT SESSION VARIABLES...: Right, Enter, the closing message, a key.
interactive() {
  local root=$1 session=$2
  shift 2
  e2e_run "$session" 80 25 tmux-256color "'$WINE_RUN' '$BIN'" "KELROOT=$(winpath "$root")" \
    "KELTMP=$(winpath "$root")TERM01" "$@"
  if ! e2e_wait_for "$session" "Idioma per defecte: ◄Català" "$SLOW"; then
    e2e_fail "$session: the form did not show"
    return
  fi
  e2e_send "$session" Right
  e2e_wait_for "$session" "◄Castellà" >/dev/null || e2e_fail "$session: Right"
  e2e_send "$session" Enter
  if e2e_wait_for "$session" "SE HA CAMBIADO EL IDIOMA POR DEFECTO A SPA" "$SLOW"; then
    e2e_pass "$session: the closing message"
  else
    e2e_fail "$session: the closing message"
  fi
  e2e_send "$session" Enter
  e2e_expect_eq "$session: exit code" "$(e2e_exit_status "$session" "$SLOW")" 0
  e2e_kill_session "$session"
}
on_our_files ours-tty
interactive "$ROOT" ours-tty
records "$ROOT" "$WORK/ours.tty"
through_library lib-tty
interactive "$ROOT" lib-tty "${LIBENV[@]}"
expect_every_call_through_the_library "interactive change"
records "$FILES" "$WORK/lib.tty"
same_records "interactive change through the library: the same records, byte for byte" \
  "$WORK/ours.tty" "$WORK/lib.tty"
e2e_expect_eq "interactive change through the library: Nuri.ini" \
  "$(language_line "$ROOT/Nuri.ini")" "Idioma=SPA"

# --- No record manager to call: exit 3, named, nothing written ---------------
refused() {  # refused WHAT DADES-LINES EXPECTED-STDERR... [-- VARIABLES...]
  local what=$1 dades=$2
  shift 2
  local parts=() vars=()
  while (($#)) && [[ $1 != -- ]]; do
    parts+=("$1")
    shift
  done
  (($#)) && shift
  vars=("$@")
  on_our_files refused
  add_dades "$ROOT" "$dades"
  set_language "$ROOT/TERM01/NuriTerm.ini" SPA
  local before
  before=$(tree_sum "$ROOT")
  ENVS=("${vars[@]}")
  run "$ROOT" /AUTO
  ENVS=()
  e2e_expect_eq "$what: exit code" "$RC" 3
  if grep -qF "NO SE PUEDE ACCEDER AL FICHERO $(winpath "$ROOT")menu (20)" "$WORK/out"; then
    e2e_pass "$what: the open failure's message"
  else
    e2e_fail "$what: the open failure's message: $(cat "$WORK/out")"
  fi
  local part
  for part in "${parts[@]}"; do
    if grep -qF -- "$part" "$WORK/err"; then e2e_pass "$what: says '$part'"; else
      e2e_fail "$what: does not say '$part': $(cat "$WORK/err")"; fi
  done
  e2e_expect_eq "$what: nothing written" "$(tree_sum "$ROOT")" "$before"
}
# The reasons under the message, in the session's language (SPA here), with
# the system's error numbers: 126 the module not found, 127 the procedure
# not found, 193 not a program of this processor width.
refused "a missing DLL" $'Gestor=Z:\\nonexistent\\WBTRV32.DLL\r\n' \
  "No se puede cargar la biblioteca del gestor de registros ([Dades] Gestor) Z:\\nonexistent\\WBTRV32.DLL" \
  "(error 126)"
refused "a missing DLL by bare name" $'Gestor=WBTRV32.DLL\r\n' \
  "No se puede cargar la biblioteca del gestor de registros ([Dades] Gestor) WBTRV32.DLL" \
  "(error 126)"
refused "a DLL without BTRCALL" "Gestor=$W_PROBE"$'\r\n' \
  "no tiene el punto de entrada BTRCALL: $W_PROBE" "(error 127)"
if [[ -n $OTHER_WIDTH && -f $OTHER_WIDTH ]]; then
  refused "a DLL of the other processor width" "Gestor=$(winpath "$(realpath "$OTHER_WIDTH")")"$'\r\n' \
    "No se puede cargar la biblioteca del gestor de registros ([Dades] Gestor)" "(error 193)" \
    "-bit library, which only a "
fi
refused "Gestor with Servidor" "Gestor=$W_STANDIN"$'\r\nServidor=host=db1\r\n' \
  "indica a la vez un gestor de registros (Gestor o KELBTR) y un servidor (Servidor o KELDB)"
refused "KELDB with Gestor" "Gestor=$W_STANDIN"$'\r\n' "(Servidor o KELDB)" -- "KELDB=host=db1"

# KELBTR over a Gestor that would not load.
on_our_files kelbtr
add_dades "$ROOT" $'Gestor=Z:\\nonexistent\\WBTRV32.DLL\r\n'
set_language "$ROOT/TERM01/NuriTerm.ini" SPA
ENVS=("KELBTR=$W_STANDIN")
run "$ROOT" /AUTO
ENVS=()
e2e_expect_eq "KELBTR over Gestor: exit code" "$RC" 0

# --- recutil.exe: our files to the stand-in's and back, the program between ---
on_our_files moved
MOVED=$ROOT
W_MOVED=$(winpath "$MOVED")
records "$MOVED" "$WORK/moved.before"
"$WINE_RUN" "$RECUTIL" --root "$W_MOVED" --manager "$W_STANDIN" copy to-manager >"$WORK/copy" 2>&1
e2e_expect_eq "copy to-manager: exit code" "$?" 0
if grep -aq "^19 files, .* records moved to the installed record manager" "$WORK/copy"; then
  e2e_pass "copy to-manager: every data file"
else
  e2e_fail "copy to-manager: $(tail -3 "$WORK/copy")"
fi
records "$MOVED" "$WORK/moved.theirs" --manager "$W_STANDIN"
same_records "copy to-manager: the same records, byte for byte" "$WORK/moved.before" \
  "$WORK/moved.theirs"
add_dades "$MOVED" "Gestor=$W_STANDIN"$'\r\n'
set_language "$MOVED/TERM01/NuriTerm.ini" OCI
run "$MOVED" /AUTO
e2e_expect_eq "the program on the moved files: exit code" "$RC" 0
records "$MOVED" "$WORK/moved.converted" --manager "$W_STANDIN"
"$WINE_RUN" "$RECUTIL" --root "$W_MOVED" copy from-manager >"$WORK/copy" 2>&1
e2e_expect_eq "copy from-manager (the installation's Gestor): exit code" "$?" 0
if grep -aq "^19 files, .* records moved to SQLite files" "$WORK/copy"; then
  e2e_pass "copy from-manager: every data file"
else
  e2e_fail "copy from-manager: $(tail -3 "$WORK/copy")"
fi
records "$MOVED" "$WORK/moved.ours" --no-manager
same_records "copy from-manager: the same records, byte for byte" "$WORK/moved.converted" \
  "$WORK/moved.ours"
if "$WINE_RUN" "$CHECK" "$W_MOVED" OCI >"$WORK/check" 2>&1; then
  e2e_pass "back on our files: sound and in OCI"
else
  e2e_fail "back on our files: conversion_check"
  cat "$WORK/check"
fi
e2e_expect_eq "every file kept under both backup names" \
  "$( (cd "$MOVED" && find . -name '*.dat.kel' | wc -l) | tr -d ' ') $( (cd "$MOVED" && find . -name '*.dat.gestor' | wc -l) | tr -d ' ')" \
  "19 19"

e2e_summary
