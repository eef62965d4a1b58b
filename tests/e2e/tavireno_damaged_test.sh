#!/usr/bin/env bash
# A data file damaged on the disk, as an administrator meets it: bytes
# flipped in the pages of an index or of the records of a converted file
# ("TAULES/UCae.dat", "DADES/HConcept.dat"), several seeds, on generated
# installations.
#  1. Every unattended run ends (a timeout of the harness, not a measure of
#     speed) with a non-zero exit code, and its output names the file; a run
#     that exits 0 must have rewritten every record of the file (damage that
#     the conversion never meets, such as a stored key that no index entry
#     uses, is for recutil check to find).
#  2. recutil check fails on the file and says what is damaged.
#  3. recutil check --repair leaves a file that recutil check accepts, with
#     every record a read by position could still get from the damaged one,
#     and the rerun of /AUTO converts it completely.
#
# usage: tavireno_damaged_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK RECUTIL
set -u
export LC_ALL=C.UTF-8
source "$(dirname "$0")/lib.sh"
BIN=${1:?usage: tavireno_damaged_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK RECUTIL}
MKINSTALL=${2:?}
CHECK=${3:?}
RECUTIL=${4:?}
if ! command -v sqlite3 >/dev/null 2>&1; then
  echo "SKIP: the sqlite3 shell is not installed (scripts/deps.sh installs it)."
  exit 77
fi
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# Each run gets this long before the harness stops it: far beyond what a run
# of these installations takes, far below a run that never ends.
LIMIT=60

setup() {  # a fresh installation of 200 records a file, Spanish configured
  rm -rf "$WORK/inst"
  if [[ ! -d $WORK/pristine ]]; then
    "$MKINSTALL" "$WORK/pristine" --records 200 >/dev/null 2>&1
  fi
  cp -a "$WORK/pristine" "$WORK/inst"
  export KELROOT="$WORK/inst/" KELTMP="$WORK/inst/TERM01"
  sed -i 's/^Idioma=.*\r$/Idioma=SPA\r/' "$KELTMP/NuriTerm.ini"
}

# flip FILE BTREE COUNT SEED: COUNT bytes flipped inside the pages of one
# b-tree of the file ("kel_records", "kel_key0", "kel_key1").
flip() {
  local file=$1 btree=$2 count=$3 seed=$4 i page offset byte mask
  local -a pages
  mapfile -t pages < <(sqlite3 -readonly "$file" "select pageno from dbstat where name = '$btree'")
  ((${#pages[@]} > 0)) || return 1
  RANDOM=$seed
  for ((i = 0; i < count; i++)); do
    page=${pages[RANDOM % ${#pages[@]}]}
    offset=$(((page - 1) * 4096 + RANDOM % 4096))
    # RANDOM is drawn here, never inside $(...): a subshell reseeds it, and
    # the damage would then differ from run to run.
    mask=$((1 + RANDOM % 255))
    byte=$(od -An -tu1 -j "$offset" -N1 "$file" | tr -d ' ')
    printf "\\x$(printf %02x $((byte ^ mask)))" |
      dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
  done
}

# The records a read by position still gets from a SQLite file: "id|hex".
readable() {
  local id
  for ((id = 1; id <= 200; id++)); do
    echo "select id || '|' || hex(data) from kel_records where id = $id and" \
      "length(data) = (select record_length from kel_file);"
  done | sqlite3 -readonly "$1" 2>/dev/null
}

# not_converted FILE CURRENT WIDTH OTHER: the records whose CurrentText (at
# 0-based offset CURRENT) is not the Spanish column (at OTHER).
not_converted() {
  local sql="select count(*) from kel_records where"
  sql+=" substr(data, $(($2 + 1)), $3) <> substr(data, $(($4 + 1)), $3)"
  sqlite3 -readonly "$1" "$sql" 2>&1
}

runs=0
# Each file: its path, and the offsets of CurrentText, its width and the
# Spanish column (the converters' table).
for spec in 'TAULES/UCae 11 250 1011' 'DADES/HConcept 3 20 67'; do
  read -r target current width other <<<"$spec"
  logical=${target//\//\\}
  for btree in kel_key0 kel_key1 kel_records; do
    for seed in 1 2 3; do
      what="$target $btree seed $seed"
      setup
      file="$KELROOT$target.dat"
      if ! flip "$file" "$btree" 40 "$seed"; then
        e2e_fail "$what: no pages to damage"
        continue
      fi
      timeout "$LIMIT" "$BIN" /AUTO </dev/null >"$WORK/out" 2>"$WORK/err"
      rc=$?
      ((runs++))
      if ((rc == 124)); then
        e2e_fail "$what: the run did not end within ${LIMIT} s ($(wc -l <"$KELROOT/db.log") log lines)"
        continue
      fi
      if ((rc == 0)); then
        # The damage touched nothing the conversion needs: every record must
        # then hold the new text, or a success was reported falsely.
        left=$(not_converted "$file" "$current" "$width" "$other")
        total=$(sqlite3 -readonly "$file" "select count(*) from kel_records" 2>&1)
        if [[ $left == 0 && $total == 200 ]]; then
          e2e_pass "$what: exit 0, and every record holds the new text"
        else
          e2e_fail "$what: exit 0 with $left of $total records not converted"
        fi
        continue
      fi
      if grep -qF "$logical" "$WORK/out" && grep -qF "$logical" "$WORK/err"; then
        e2e_pass "$what: exit $rc, the file named"
      else
        e2e_fail "$what: exit $rc without the file named"
        cat "$WORK/out" "$WORK/err"
      fi
      if ((rc == 75)) && ! grep -qF "recutil check" "$WORK/err"; then
        e2e_fail "$what: the message does not point to recutil check"
        cat "$WORK/err"
      fi
      # Check and repair it as the administrator would.
      if "$RECUTIL" check "$file" >"$WORK/rcheck" 2>&1; then
        e2e_fail "$what: recutil check accepts the damaged file"
        continue
      fi
      grep -q "damaged: " "$WORK/rcheck" || grep -q "cannot open" "$WORK/rcheck" ||
        e2e_fail "$what: recutil check does not say what is damaged"
      readable "$file" >"$WORK/before"
      "$RECUTIL" check --repair "$file" >"$WORK/repair" 2>&1
      repair_rc=$?
      if grep -q "its own description cannot be read" "$WORK/repair"; then
        e2e_pass "$what: the file's description is gone; the repair says so"
        continue
      fi
      if "$RECUTIL" check "$file" >/dev/null 2>&1; then
        e2e_pass "$what: the repaired file passes recutil check (repair exit $repair_rc)"
      else
        e2e_fail "$what: the repaired file fails recutil check"
        cat "$WORK/repair"
        continue
      fi
      readable "$file" >"$WORK/after"
      refused="$file.refused"
      lost=$(comm -23 <(sort "$WORK/before") <(sort "$WORK/after") | wc -l)
      if ((lost == 0)) || [[ -f $refused ]]; then
        e2e_pass "$what: every readable record kept (or handed back in FILE.refused)"
      else
        e2e_fail "$what: $lost readable records missing after the repair"
        cat "$WORK/repair"
      fi
      timeout "$LIMIT" "$BIN" /AUTO </dev/null >"$WORK/out2" 2>"$WORK/err2"
      e2e_expect_eq "$what: /AUTO after the repair" "$?" 0
    done
  done
done
e2e_expect_eq "every damaged installation was run" "$runs" 18
e2e_summary
