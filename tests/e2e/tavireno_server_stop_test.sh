#!/usr/bin/env bash
# The server of an installation stops while the program rewrites its
# records: the run must end with a non-zero exit code of its own (not a
# crash, not a hang) and a message, never 0. A server of its own (started
# and stopped here with pg_server.sh), so the other tests keep theirs; the
# shared test server's KEL_TEST_PG only says whether servers can be used.
#
# usage: tavireno_server_stop_test.sh TAVIRENO MKINSTALL RECUTIL PG_SERVER_SH [--records N]
set -u
export LC_ALL=C.UTF-8
source "$(dirname "$0")/lib.sh"
BIN=${1:?usage: tavireno_server_stop_test.sh TAVIRENO MKINSTALL RECUTIL PG_SERVER_SH}
MKINSTALL=${2:?}
RECUTIL=${3:?}
PG_SERVER=${4:?}
RECORDS=3000
[[ ${5:-} == --records ]] && RECORDS=${6:?}
if [[ -z ${KEL_TEST_PG:-} ]]; then
  echo "SKIP: the record manager has no server engine or PostgreSQL is missing (KEL_TEST_PG is empty)"
  exit 77
fi
source "$(dirname "$0")/server_lib.sh"
WORK=$(mktemp -d)
# Short, and outside WORK: the server runs as another user under root.
PGDIR="/tmp/kelpgstop-$$"
trap 'bash "$PG_SERVER" stop "$PGDIR" >/dev/null 2>&1; rm -rf "$WORK"' EXIT

bash "$PG_SERVER" start "$PGDIR" >"$WORK/pg.out" 2>&1
rc=$?
if ((rc == 77)); then
  cat "$WORK/pg.out"
  exit 77
elif ((rc != 0)); then
  e2e_fail "the server did not start: $(cat "$WORK/pg.out")"
  e2e_summary
  exit
fi
PG=$(bash "$PG_SERVER" conninfo "$PGDIR")
eval "$("$MKINSTALL" "$WORK/inst" --records "$RECORDS" 2>/dev/null)"
if ! server_load "$KELROOT" "$PG" kel >"$WORK/load" 2>&1; then
  e2e_fail "loading the installation"
  cat "$WORK/load"
fi
sed -i "s/^Idioma=.*\r\$/Idioma=SPA\r/" "$KELROOT/TERM01/NuriTerm.ini"

KELTMP="$KELROOT/TERM01" timeout 300 "$BIN" /AUTO </dev/null >"$WORK/out" 2>"$WORK/err" &
pid=$!
# Stopped once the conversion is under way: the operation log has lines.
for _ in $(seq 1 600); do
  [[ -s $KELROOT/db.log ]] && break
  sleep 0.05
done
bash "$PG_SERVER" stop "$PGDIR" >/dev/null 2>&1
wait "$pid"
RC=$?
# 124: the timeout ended a hang; above 128: a signal (a crash).
if ((RC != 0 && RC != 124 && RC < 128)); then
  e2e_pass "server stopped mid-run: exit code $RC"
else
  e2e_fail "server stopped mid-run: exit code $RC"
fi
# The open failure (in Spanish, the language being applied) or the
# incomplete conversion.
if grep -qE "NO SE PUEDE ACCEDER AL FICHERO .* \([0-9]+\)" "$WORK/out" ||
  grep -q "la conversión no está completa" "$WORK/err"; then
  e2e_pass "server stopped mid-run: a message: $(grep -h "FICHERO\|tavireno:" "$WORK/out" "$WORK/err")"
else
  e2e_fail "server stopped mid-run: no message"
  cat "$WORK/out" "$WORK/err"
fi
e2e_summary
