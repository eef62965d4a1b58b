#!/usr/bin/env bash
# Two stations (two terminal directories, one installation whose data files
# live on a PostgreSQL server) run /AUTO at the same moment.
#  1. Same language: both finish with 0, every record is whole and holds
#     its new text, every record was rewritten twice (nothing lost).
#  2. Different languages: each of the seven files under a whole-file lock
#     ends wholly in one station's language (one station at a time).
# The server's files are read back into SQLite files with recutil copy
# to-files and checked there with conversion_check.
#
# usage: tavireno_server_two_stations_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK RECUTIL
#                                             [--records N]
# The server: KEL_TEST_PG (a libpq connection string); without it, skipped.
set -u
export LC_ALL=C.UTF-8
source "$(dirname "$0")/lib.sh"
BIN=${1:?usage: tavireno_server_two_stations_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK RECUTIL}
MKINSTALL=${2:?}
CHECK=${3:?}
RECUTIL=${4:?}  # server_lib.sh runs it
RECORDS=300
[[ ${5:-} == --records ]] && RECORDS=${6:?}
if [[ -z ${KEL_TEST_PG:-} ]]; then
  echo "SKIP: no PostgreSQL server for the tests (KEL_TEST_PG is empty)"
  exit 77
fi
source "$(dirname "$0")/server_lib.sh"
WORK=$(mktemp -d)
trap 'server_cleanup; rm -rf "$WORK"' EXIT

LOCKED="DADES\\\\(HConcept|HDespesa|NCnvConc|RConcept|VConcept|VDesglos|VDespesa)"

setup() {  # setup CASE: a fresh installation on the server, two stations
  rm -rf "$WORK/inst" "$WORK/original"
  eval "$("$MKINSTALL" "$WORK/inst" --records "$RECORDS" 2>/dev/null)"
  cp -a "$KELROOT/TERM01" "$KELROOT/TERM02"
  sed -i 's/TERM01\r$/TERM02\r/' "$KELROOT/TERM02/Sessio.ini"
  # Station identities made beforehand, as after earlier runs.
  printf '\x11\x00\x00\x00%-15s' "$(hostname | cut -c1-15)" >"$KELROOT/TERM01/LOCKS.TMP"
  printf '\x22\x00\x00\x00%-15s' "$(hostname | cut -c1-15)" >"$KELROOT/TERM02/LOCKS.TMP"
  cp -a "$WORK/inst" "$WORK/original"
  data_files "$KELROOT" >"$WORK/files"
  SCHEMA=$(server_schema "two_$1")
  server_load "$KELROOT" "$KEL_TEST_PG" "$SCHEMA" >"$WORK/load" 2>&1 ||
    { e2e_fail "loading the installation"; cat "$WORK/load"; }
}
set_language() { sed -i "s/^Idioma=.*\r\$/Idioma=$2\r/" "$KELROOT/$1/NuriTerm.ini"; }

run_both() {  # both stations at once; RC1 and RC2
  KELTMP="$KELROOT/TERM01" "$BIN" /AUTO </dev/null >"$WORK/out1" 2>&1 &
  local p1=$!
  KELTMP="$KELROOT/TERM02" "$BIN" /AUTO </dev/null >"$WORK/out2" 2>&1 &
  local p2=$!
  wait "$p1"
  RC1=$?
  wait "$p2"
  RC2=$?
}

pull() {  # the server's files into $WORK/back
  rm -rf "$WORK/back"
  server_pull "$KELROOT" "$WORK/back" "$KEL_TEST_PG" "$SCHEMA" "$WORK/files" >"$WORK/pull" 2>&1 ||
    { e2e_fail "reading the files back"; cat "$WORK/pull"; }
}

waits() { grep -c "FITXER BLOQUEJAT\|FICHERO BLOQUEADO\|FICHEIRO BLOQUEADO" "$1"; }

# --- 1. Same language ----------------------------------------------------------
setup same
set_language TERM01 SPA
set_language TERM02 SPA
run_both
e2e_expect_eq "station 1 ends with 0" "$RC1" 0
e2e_expect_eq "station 2 ends with 0" "$RC2" 0
pull
if "$CHECK" "$WORK/back" SPA --original "$WORK/original" >"$WORK/check" 2>&1; then
  e2e_pass "every record whole and in Spanish"
else
  e2e_fail "records after two stations"
  cat "$WORK/check"
fi
total=$(awk '{n += $4} END {print n}' "$WORK/check")
e2e_expect_eq "every record rewritten by both stations" "$(wc -l <"$KELROOT/db.log")" $((2 * total))
echo "lock waits: station 1 $(waits "$WORK/out1"), station 2 $(waits "$WORK/out2")"

# --- 2. Different languages ----------------------------------------------------------
setup mixed
set_language TERM01 SPA
set_language TERM02 GLG
run_both
echo "exit codes with two languages: $RC1 $RC2 (75: records the other station rewrote meanwhile)"
pull
"$CHECK" "$WORK/back" SPA --partial >"$WORK/spa" 2>&1
spa_rc=$?
"$CHECK" "$WORK/back" GLG --partial >"$WORK/glg" 2>&1
e2e_expect_eq "every file valid" "$spa_rc" 0
uniform=0
while read -r name _ _ records _ spanish; do
  galician=$(awk -v n="$name" '$1 == n {print $6}' "$WORK/glg")
  if [[ $name =~ ^$LOCKED$ ]]; then
    if ((spanish == records || galician == records)); then
      uniform=$((uniform + 1))
    else
      e2e_fail "$name is mixed: $spanish Spanish, $galician Galician of $records"
    fi
  fi
done <"$WORK/spa"
e2e_expect_eq "the seven locked files each in one language" "$uniform" 7
echo "lock waits: station 1 $(waits "$WORK/out1"), station 2 $(waits "$WORK/out2")"
e2e_summary
