#!/usr/bin/env bash
# Kills an unattended conversion with SIGKILL at random moments, round after
# round, on one installation, each round to another language. After every
# kill each data file must pass the record manager's integrity check and
# every record must be whole: the record as installed, or the same record
# with the text of one of its languages, nothing else. The configuration
# files must be whole too. A last /AUTO run must then finish the job.
#
# usage: tavireno_kill_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK
#                              [--rounds N] [--records N]
set -u
export LC_ALL=C.UTF-8
source "$(dirname "$0")/lib.sh"
BIN=${1:?usage: tavireno_kill_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK [--rounds N] [--records N]}
MKINSTALL=${2:?}
CHECK=${3:?}
shift 3
ROUNDS=20
RECORDS=2000
while (($#)); do
  case $1 in
    --rounds) ROUNDS=$2; shift 2 ;;
    --records) RECORDS=$2; shift 2 ;;
    *) echo "unknown argument $1"; exit 2 ;;
  esac
done
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

eval "$("$MKINSTALL" "$WORK/inst" --records "$RECORDS" 2>/dev/null)"
export KELROOT KELTMP
sed -i 's/^Idioma=.*\r$/Idioma=SPA\r/' "$KELTMP/NuriTerm.ini"
cp -a "$WORK/inst" "$WORK/original"

now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }

# How long a whole run takes, on a copy: the kills fall inside that span.
cp -a "$WORK/inst" "$WORK/timing"
start=$(now_ms)
KELROOT="$WORK/timing/" KELTMP="$WORK/timing/TERM01" "$BIN" /AUTO </dev/null >/dev/null 2>&1
span=$(($(now_ms) - start))
rm -rf "$WORK/timing"
echo "a whole run takes ${span} ms; killing $ROUNDS times within it"

whole_ini() {  # the file has its header lines and exactly one Idioma of a known code
  local f=$1
  [[ $(grep -ac '^Idioma=\(CAT\|SPA\|GLG\|OCI\)'$'\r''$' "$f") == 1 ]] && grep -aq '^\[' "$f"
}
LANGUAGES=(SPA GLG OCI CAT)

converted_total=()
for ((round = 1; round <= ROUNDS; round++)); do
  language=${LANGUAGES[round % 4]}
  sed -i "s/^Idioma=.*\r\$/Idioma=$language\r/" "$KELTMP/NuriTerm.ini"
  "$BIN" /AUTO </dev/null >/dev/null 2>&1 &
  pid=$!
  delay=$((RANDOM * span / 32767))
  sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  if "$CHECK" "$KELROOT" "$language" --original "$WORK/original" --partial >"$WORK/check" 2>&1; then
    e2e_pass "round $round ($language, killed after ${delay} ms): every file valid, every record whole"
  else
    e2e_fail "round $round ($language, killed after ${delay} ms)"
    cat "$WORK/check"
  fi
  converted_total+=("$(awk '{n += $6} END {print n}' "$WORK/check")")
  if whole_ini "$KELROOT/Nuri.ini" && whole_ini "$KELTMP/NuriTerm.ini"; then
    e2e_pass "round $round: configuration files whole"
  else
    e2e_fail "round $round: configuration files"
  fi
done
echo "records holding the round's language after each kill: ${converted_total[*]}"
echo "stray temporary files: $(find "$KELROOT" -name '*.tmp' ! -name 'WinPush.tmp' | wc -l)"

sed -i "s/^Idioma=.*\r\$/Idioma=SPA\r/" "$KELTMP/NuriTerm.ini"
"$BIN" /AUTO </dev/null >/dev/null 2>&1
e2e_expect_eq "the rerun of /AUTO ends with 0" "$?" 0
if "$CHECK" "$KELROOT" SPA --original "$WORK/original" >"$WORK/check" 2>&1; then
  e2e_pass "after the rerun every record holds its Spanish text and nothing else changed"
else
  e2e_fail "after the rerun"
  cat "$WORK/check"
fi
e2e_expect_eq "Nuri.ini after the rerun" "$(grep -a '^Idioma=' "$KELROOT/Nuri.ini" | tr -d '\r')" \
  "Idioma=SPA"
e2e_summary
