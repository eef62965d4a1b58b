#!/usr/bin/env bash
# The program on an installation whose data files live on a PostgreSQL
# server ("Nuri.ini" [Dades] Servidor and Esquema), beside a twin
# installation on SQLite files that gets the same runs:
#  1. recutil copy to-server and back gives every file byte for byte;
#  2. /AUTO, /AUTO /TAULES and an interactive change (tmux) leave the same
#     records, in the same order, as on the SQLite files;
#     /INFORME /CSV gives the same figures on both and changes nothing;
#  3. SIGKILL at random moments: afterwards every file opens exclusively
#     (the killed station left no lock) and every record is whole; a rerun
#     finishes.
# The server's files are read back into SQLite files with recutil copy
# to-files and checked there with conversion_check.
#
# usage: tavireno_server_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK RECUTIL
#                                [--records N] [--rounds N]
# The server: KEL_TEST_PG (a libpq connection string); without it, skipped.
set -u
export LC_ALL=C.UTF-8
source "$(dirname "$0")/lib.sh"
BIN=${1:?usage: tavireno_server_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK RECUTIL}
MKINSTALL=${2:?}
CHECK=${3:?}
RECUTIL=${4:?}  # server_lib.sh runs it
shift 4
RECORDS=300
ROUNDS=4
while (($#)); do
  case $1 in
    --records) RECORDS=$2; shift 2 ;;
    --rounds) ROUNDS=$2; shift 2 ;;
    *) echo "unknown argument $1"; exit 2 ;;
  esac
done
if [[ -z ${KEL_TEST_PG:-} ]]; then
  echo "SKIP: no PostgreSQL server for the tests (KEL_TEST_PG is empty)"
  exit 77
fi
source "$(dirname "$0")/server_lib.sh"
e2e_require_tmux
e2e_start_server
WORK=$E2E_DIR
SLOW=180000
trap 'server_cleanup; e2e_tmux kill-server >/dev/null 2>&1; rm -rf "$WORK"' EXIT

# Both installations, made alike; the server one has no SQLite files left.
mkinstall_to() { eval "$("$MKINSTALL" "$1" --records "$RECORDS" 2>/dev/null)"; }
mkinstall_to "$WORK/twin"
TWIN=$KELROOT
mkinstall_to "$WORK/srv"
SRV=$KELROOT
SCHEMA=$(server_schema main)
data_files "$SRV" >"$WORK/files"
if server_load "$SRV" "$KEL_TEST_PG" "$SCHEMA" >"$WORK/load" 2>&1; then
  e2e_pass "recutil copy to-server: $(tail -1 "$WORK/load")"
else
  e2e_fail "recutil copy to-server"
  cat "$WORK/load"
fi
if grep -q "records copied to the server" "$WORK/load"; then
  e2e_pass "a final count per file"
else
  e2e_fail "no count per file"
fi

# same WHAT: the server's files, read back, equal the twin's in every byte.
same() {
  rm -rf "$WORK/back"
  if ! server_pull "$SRV" "$WORK/back" "$KEL_TEST_PG" "$SCHEMA" "$WORK/files" >"$WORK/pull" 2>&1; then
    e2e_fail "$1: copy to-files"
    cat "$WORK/pull"
    return
  fi
  local differ=""
  while read -r f; do
    cmp -s <(records_of "$TWIN/$f") <(records_of "$WORK/back/$f") || differ+=" $f"
  done <"$WORK/files"
  if [[ -z $differ ]]; then
    e2e_pass "$1: every record of the $(wc -l <"$WORK/files") files as on SQLite files"
  else
    e2e_fail "$1: differ:$differ"
  fi
}
same "copy to the server and back"

language_line() { grep -a '^Idioma=' "$1" | tr -d '\r'; }
set_language() { sed -i "s/^Idioma=.*\r\$/Idioma=$2\r/" "$1/TERM01/NuriTerm.ini"; }
run_auto() {  # run_auto ROOT ARGS...: RC, $WORK/out, $WORK/err
  local root=$1
  shift
  KELROOT=$root KELTMP="$root/TERM01" "$BIN" "$@" </dev/null >"$WORK/out" 2>"$WORK/err"
  RC=$?
}

# --- /AUTO and /AUTO /TAULES ----------------------------------------------------
for root in "$TWIN" "$SRV"; do set_language "$root" SPA; done
run_auto "$TWIN" /AUTO
run_auto "$SRV" /AUTO
e2e_expect_eq "/AUTO on the server: exit code" "$RC" 0
[[ -s $WORK/err ]] && cat "$WORK/err"
e2e_expect_eq "/AUTO on the server: log lines" "$(wc -l <"$SRV/db.log")" "$(wc -l <"$TWIN/db.log")"
e2e_expect_eq "/AUTO on the server: Nuri.ini" "$(language_line "$SRV/Nuri.ini")" "Idioma=SPA"
same "/AUTO"
for root in "$TWIN" "$SRV"; do set_language "$root" GLG; done
run_auto "$TWIN" /AUTO /TAULES
run_auto "$SRV" /AUTO /TAULES
e2e_expect_eq "/AUTO /TAULES on the server: exit code" "$RC" 0
same "/AUTO /TAULES"

# --- The census reads the server's tables as it reads the SQLite files -----------
run_auto "$TWIN" /INFORME /CSV
cp "$WORK/out" "$WORK/census_twin"
run_auto "$SRV" /INFORME /CSV
e2e_expect_eq "/INFORME /CSV on the server: exit code" "$RC" 0
if cmp -s "$WORK/out" "$WORK/census_twin"; then
  e2e_pass "/INFORME /CSV on the server: the same figures as on SQLite files"
else
  e2e_fail "/INFORME /CSV on the server differs"
  diff "$WORK/census_twin" "$WORK/out"
fi
same "/INFORME"

# --- Interactively, in a terminal: Catalan to Spanish -----------------------------
for root in "$TWIN" "$SRV"; do
  set_language "$root" CAT
  name=$(basename "$root")
  e2e_run "$name" 80 25 tmux-256color "'$BIN'" "KELROOT=$root" "KELTMP=$root/TERM01"
  if e2e_wait_for "$name" "Idioma per defecte: ◄Català" >/dev/null; then
    e2e_send "$name" Right
    e2e_wait_for "$name" "◄Castellà" >/dev/null
    e2e_send "$name" Enter
    if e2e_wait_for "$name" "SE HA CAMBIADO EL IDIOMA POR DEFECTO A SPA" "$SLOW" >/dev/null; then
      e2e_pass "interactive change on $name: the closing message"
    else
      e2e_fail "interactive change on $name: no closing message"
    fi
    e2e_send "$name" Enter
    e2e_expect_eq "interactive change on $name: exit code" "$(e2e_exit_status "$name" "$SLOW")" 0
  else
    e2e_fail "interactive change on $name: the form did not show"
  fi
  e2e_kill_session "$name"
done
same "the interactive change"

# --- SIGKILL at random moments ---------------------------------------------------
rm -rf "$WORK/original"
cp -a "$TWIN" "$WORK/original"  # the records as the last run left them
set_language "$SRV" OCI
start=$(e2e_now_ms)
run_auto "$SRV" /AUTO
span=$(($(e2e_now_ms) - start))
e2e_expect_eq "a timed run: exit code" "$RC" 0
echo "a whole run on the server takes ${span} ms; killing $ROUNDS times within it"
server_pull "$SRV" "$WORK/original" "$KEL_TEST_PG" "$SCHEMA" "$WORK/files" >/dev/null 2>&1
LANGUAGES=(SPA GLG CAT OCI)
for ((round = 1; round <= ROUNDS; round++)); do
  language=${LANGUAGES[round % 4]}
  set_language "$SRV" "$language"
  KELROOT=$SRV KELTMP="$SRV/TERM01" "$BIN" /AUTO </dev/null >/dev/null 2>&1 &
  pid=$!
  delay=$((RANDOM * span / 32767))
  sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  rm -rf "$WORK/back"
  # The copy opens every file exclusively: a lock left by the killed
  # station would make it fail with 85.
  if server_pull "$SRV" "$WORK/back" "$KEL_TEST_PG" "$SCHEMA" "$WORK/files" >"$WORK/pull" 2>&1; then
    e2e_pass "round $round (killed after ${delay} ms): every file opens exclusively"
  else
    e2e_fail "round $round (killed after ${delay} ms): a file is held"
    cat "$WORK/pull"
    continue
  fi
  if "$CHECK" "$WORK/back" "$language" --original "$WORK/original" --partial >"$WORK/check" 2>&1; then
    e2e_pass "round $round: every record whole"
  else
    e2e_fail "round $round: records"
    cat "$WORK/check"
  fi
done
set_language "$SRV" SPA
run_auto "$SRV" /AUTO
e2e_expect_eq "the rerun after the kills ends with 0" "$RC" 0
rm -rf "$WORK/back"
server_pull "$SRV" "$WORK/back" "$KEL_TEST_PG" "$SCHEMA" "$WORK/files" >/dev/null 2>&1
if "$CHECK" "$WORK/back" SPA --original "$WORK/original" >"$WORK/check" 2>&1; then
  e2e_pass "the rerun converted every record"
else
  e2e_fail "the rerun"
  cat "$WORK/check"
fi

e2e_summary
