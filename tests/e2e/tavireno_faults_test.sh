#!/usr/bin/env bash
# Faults of data and locks, on generated installations:
#  1. A full disk under one file (every write to "TAULES/UPaisos.dat-wal"
#     fails, through a preloaded library): the run ends with 75, names the
#     file with the number of records that really do not hold the new text,
#     says that a new run finishes the job, and still records the language.
#     Then with many records a file (the failure in mid-file), and a rerun
#     without the fault finishes the job.
#  2. A directory where "LOCKS/RConcept.lck" should be: RConcept is not
#     rewritten, the message names the lock file and the reason, exit 75.
#  3. SIGTERM and SIGINT while a locked data file is converted, with a second
#     station converting the same installation at once: an orderly end within
#     seconds with 128 + the signal's number, the lock freed, every record
#     whole, the second station finishing the job.
#  4. SIGTERM and SIGHUP while the form waits for a key in a terminal: 143
#     and 129, and the message after the terminal is given back.
#  5. A calling program's window stack ("WinPush.tmp" with one record)
#     survives a run byte for byte.
#
# usage: tavireno_faults_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK SHIM
set -u
export LC_ALL=C.UTF-8
source "$(dirname "$0")/lib.sh"
BIN=${1:?usage: tavireno_faults_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK SHIM}
MKINSTALL=${2:?}
CHECK=${3:?}
SHIM=${4:?}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# A sanitizer build needs its runtime first among the preloaded libraries.
ASAN_RUNTIME=$(ldd "$BIN" 2>/dev/null | awk '/libasan/ {print $3; exit}')
PRELOAD="${ASAN_RUNTIME:+$ASAN_RUNTIME:}$SHIM"

setup() {  # setup RECORDS: a fresh installation, Spanish configured
  rm -rf "$WORK/inst" "$WORK/original"
  eval "$("$MKINSTALL" "$WORK/inst" --records "$1" 2>/dev/null)"
  export KELROOT KELTMP
  sed -i 's/^Idioma=.*\r$/Idioma=SPA\r/' "$KELTMP/NuriTerm.ini"
  cp -a "$WORK/inst" "$WORK/original"
}
# The line of conversion_check for one file: "records N converted M".
file_counts() { awk -v n="$2" '$1 == n {print $4, $6}' "$1"; }
now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }

# --- 1. Full disk under one file -------------------------------------------------------
for records in 300 1500; do
  setup "$records"
  LD_PRELOAD="$PRELOAD" KEL_TEST_FULL_FILE="UPaisos.dat-wal" "$BIN" /AUTO </dev/null \
    >"$WORK/out" 2>"$WORK/err"
  rc=$?
  e2e_expect_eq "full disk ($records records): exit 75" "$rc" 75
  "$CHECK" "$KELROOT" SPA --partial >"$WORK/check" 2>&1
  read -r total converted <<<"$(file_counts "$WORK/check" 'TAULES\UPaisos')"
  missing=$((total - converted))
  if ((missing > 0)) &&
    grep -qF "TAULES\\UPaisos: $missing de $total registros no tienen el texto nuevo" "$WORK/err"; then
    e2e_pass "full disk ($records records): the true count, $missing of $total, is named"
  else
    e2e_fail "full disk ($records records): $missing of $total not converted; the program said:"
    cat "$WORK/err"
  fi
  if grep -qF "NO SE HA CONVERTIDO DEL TODO: TAULES\\UPaisos ($missing de $total registros)" "$WORK/out" &&
    grep -q "UNA NUEVA EJECUCI" "$WORK/out" && grep -q "Una nueva ejecución acaba el trabajo" "$WORK/err"; then
    e2e_pass "full disk ($records records): the output names the file and says to run again"
  else
    e2e_fail "full disk ($records records): output"
    cat "$WORK/out"
  fi
  e2e_expect_eq "full disk ($records records): Idioma still written" \
    "$(grep -ac '^Idioma=SPA'$'\r''$' "$KELROOT/Nuri.ini")" 1
done
"$BIN" /AUTO </dev/null >/dev/null 2>&1
e2e_expect_eq "the rerun without the fault ends with 0" "$?" 0
"$CHECK" "$KELROOT" SPA --original "$WORK/original" >"$WORK/check" 2>&1
e2e_expect_eq "the rerun finishes the job" "$?" 0

# --- 2. A lock file that cannot be opened ------------------------------------------------
setup 300
mkdir -p "$KELROOT/LOCKS/RConcept.lck"
"$CHECK" "$KELROOT" SPA --partial >"$WORK/before" 2>&1
"$BIN" /AUTO </dev/null >"$WORK/out" 2>"$WORK/err"
e2e_expect_eq "lock file is a directory: exit 75" "$?" 75
"$CHECK" "$KELROOT" SPA --partial >"$WORK/check" 2>&1
e2e_expect_eq "RConcept not rewritten" "$(file_counts "$WORK/check" 'DADES\RConcept')" \
  "$(file_counts "$WORK/before" 'DADES\RConcept')"
e2e_expect_eq "the next locked file converted" \
  "$(file_counts "$WORK/check" 'DADES\VConcept' | awk '{print ($1 == $2)}')" 1
if grep -qF 'LOCKS\RConcept.lck: a directory stands in its place' "$WORK/err"; then
  e2e_pass "the message names the lock file and the reason"
else
  e2e_fail "lock file message"
  cat "$WORK/err"
fi

# --- 3. Signals while a locked file is converted, a second station at once --------------
lock_held() {  # any lock file with a whole-file record taken
  local f
  for f in "$KELROOT"/LOCKS/*.lck; do
    [[ -f $f ]] || continue
    [[ $(dd if="$f" bs=1 skip=34 count=1 2>/dev/null) == F ]] && return 0
  done
  return 1
}
all_locks_free() {
  local f
  for f in "$KELROOT"/LOCKS/*.lck; do
    [[ -f $f ]] || continue
    if [[ $(dd if="$f" bs=1 skip=34 count=1 2>/dev/null) == F ]]; then return 1; fi
  done
  return 0
}
for signal in TERM INT; do
  setup 2000
  cp -a "$KELROOT/TERM01" "$KELROOT/TERM02"
  sed -i 's/TERM01\r$/TERM02\r/' "$KELROOT/TERM02/Sessio.ini"
  printf '\x11\x00\x00\x00%-15s' "$(hostname | cut -c1-15)" >"$KELROOT/TERM01/LOCKS.TMP"
  printf '\x22\x00\x00\x00%-15s' "$(hostname | cut -c1-15)" >"$KELROOT/TERM02/LOCKS.TMP"
  # Started from a script, a background job ignores SIGINT: give it the
  # default back so that the program sees the signal as from a terminal.
  (trap - INT; exec env KELTMP="$KELROOT/TERM01" "$BIN" /AUTO </dev/null >"$WORK/out1" 2>&1) &
  p1=$!
  deadline=$(($(now_ms) + 60000))
  until lock_held || (($(now_ms) > deadline)) || ! kill -0 "$p1" 2>/dev/null; do sleep 0.005; done
  KELTMP="$KELROOT/TERM02" "$BIN" /AUTO </dev/null >"$WORK/out2" 2>&1 &
  p2=$!
  sent=$(now_ms)
  kill -"$signal" "$p1"
  wait "$p1"
  rc1=$?
  took=$(($(now_ms) - sent))
  wait "$p2"
  rc2=$?
  expected=$((128 + $(kill -l "$signal")))
  e2e_expect_eq "SIG$signal: station 1 ends with $expected" "$rc1" "$expected"
  if ((took < 5000)); then
    e2e_pass "SIG$signal: station 1 ended ${took} ms after the signal"
  else
    e2e_fail "SIG$signal: station 1 took ${took} ms"
  fi
  grep -q "detenido por SIG$signal" "$WORK/out1" && e2e_pass "SIG$signal: station 1 says so" ||
    e2e_fail "SIG$signal: station 1's output: $(cat "$WORK/out1")"
  e2e_expect_eq "SIG$signal: station 2 ends with 0" "$rc2" 0
  if all_locks_free; then e2e_pass "SIG$signal: every lock free"; else e2e_fail "SIG$signal: a lock left"; fi
  if "$CHECK" "$KELROOT" SPA --original "$WORK/original" >"$WORK/check" 2>&1; then
    e2e_pass "SIG$signal: every record whole and converted"
  else
    e2e_fail "SIG$signal: records"
    cat "$WORK/check"
  fi
done

# --- 4. A signal while the form waits for a key --------------------------------------------
if command -v tmux >/dev/null 2>&1; then
  e2e_start_server
  trap 'e2e_tmux kill-server >/dev/null 2>&1; rm -rf "$E2E_DIR" "$WORK"' EXIT
  for signal in TERM HUP; do
    setup 50
    expected=$((128 + $(kill -l "$signal")))
    e2e_run "app$signal" 80 25 tmux-256color "KELROOT='$KELROOT' KELTMP='$KELTMP' '$BIN'"
    if e2e_wait_for "app$signal" "Castell"; then
      kill -"$signal" "$(e2e_pid "app$signal")"
      e2e_expect_eq "SIG$signal at the form: exit $expected" "$(e2e_exit_status "app$signal")" \
        "$expected"
      e2e_wait_for_joined "app$signal" "detenido por SIG$signal" &&
        e2e_pass "SIG$signal: the message after the terminal is back" || e2e_fail "no message"
    else
      e2e_fail "the form did not show"
    fi
    e2e_kill_session "app$signal"
  done
else
  echo "skipped the terminal case: tmux is not installed"
fi

# --- 5. A calling program's window stack -----------------------------------------------------
setup 50
# One record of a 1 x 1 window at row 2, column 2: 27 bytes, pointer 32.
printf '\x20\x00\x00\x0003040000000002020202Q\x1e00027' >"$KELTMP/WinPush.tmp"
cp "$KELTMP/WinPush.tmp" "$WORK/stack"
"$BIN" /AUTO </dev/null >/dev/null 2>&1
e2e_expect_eq "run with a caller's window stack ends with 0" "$?" 0
if cmp -s "$KELTMP/WinPush.tmp" "$WORK/stack" ||
  { [[ -f $KELTMP/WinPush.tmp ]] && cmp -s -n 31 "$KELTMP/WinPush.tmp" "$WORK/stack"; }; then
  e2e_pass "the caller's window stack is still there, pointer and record unchanged"
else
  e2e_fail "the caller's window stack: $(od -c "$KELTMP/WinPush.tmp" 2>&1 | head -3)"
fi

e2e_summary
