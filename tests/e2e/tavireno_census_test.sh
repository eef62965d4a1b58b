#!/usr/bin/env bash
# The census ("/INFORME") and the command line's help of the real binary.
#  1. Blank columns placed at random (census_fixture, from the sample
#     layouts): the CSV is byte for byte what the fixture computed, and the
#     text report's totals and per-language lines agree with it, in Catalan
#     and in Galician-Portuguese; the installation (data files, dictionaries,
#     configuration, language file, db.log) is unchanged and holds no new
#     file after /INFORME, /INFORME /CSV, /INFORME /TAULES, the help and the
#     version.
#  2. A station converting while the census runs, over and over: every
#     census and the conversion end with 0, the conversion is complete and
#     every record whole, and each census read every record of every file.
#  3. Another station's whole-file lock: the census says the file was being
#     converted, and leaves the lock file alone.
#  4. A missing data file: reported, not created.
#  5. In a terminal (tmux): the report stays on the screen after the program
#     ends with 0; --help likewise.
#
# usage: tavireno_census_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK CENSUS_FIXTURE [--records N]
set -u
export LC_ALL=C.UTF-8
source "$(dirname "$0")/lib.sh"
BIN=${1:?usage: tavireno_census_test.sh TAVIRENO MKINSTALL CONVERSION_CHECK CENSUS_FIXTURE [--records N]}
MKINSTALL=${2:?}
CHECK=${3:?}
FIXTURE=${4:?}
RECORDS=1000
[[ ${5:-} == --records ]] && RECORDS=${6:?}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

fresh() {
  rm -rf "$WORK/inst"
  eval "$("$MKINSTALL" "$WORK/inst" --records "$RECORDS" 2>/dev/null)"
  export KELROOT KELTMP
}
set_language() { sed -i "s/^Idioma=.*\r\$/Idioma=$2\r/" "$1"; }
# Every file and directory of the installation, with the checksum of each
# file: "nothing written" is the same listing before and after.
tree_sum() {
  (cd "$KELROOT" && find . -printf '%y %p\n' | sort && find . -type f -print0 | sort -z |
    xargs -0 md5sum)
}
run() {  # run ARGS...: no terminal; RC, $WORK/out, $WORK/err
  "$BIN" "$@" </dev/null >"$WORK/out" 2>"$WORK/err"
  RC=$?
}

# The per-language lines of the report, from the CSV's blanc_ columns:
# expected_lines CSV "CAT" words or "GLG" words.
expected_lines() {
  awk -F, -v lang="$2" 'NR > 1 {
      for (i = 9; i <= 12; i++) { t[i] += $i; if ($i > 0) f[i]++ }
    }
    END {
      split("CAT SPA GLG OCI", code, " ")
      for (i = 9; i <= 12; i++) {
        n = t[i]; m = f[i] + 0; c = code[i - 8]
        if (lang == "CAT") {
          if (n == 0) print c ": cap text no quedaria en blanc."
          else if (n == 1) print c ": 1 text quedaria en blanc, en 1 fitxer."
          else if (m == 1) print c ": " n " textos quedarien en blanc, en 1 fitxer."
          else print c ": " n " textos quedarien en blanc, en " m " fitxers."
        } else {
          if (n == 0) print c ": nengum texto ficaria em branco."
          else if (n == 1) print c ": 1 texto ficaria em branco, em 1 ficheiro."
          else if (m == 1) print c ": " n " textos ficariam em branco, em 1 ficheiro."
          else print c ": " n " textos ficariam em branco, em " m " ficheiros."
        }
      }
    }' "$1"
}

# --- 1. Exact figures, and nothing written ------------------------------------
fresh
"$FIXTURE" "$KELROOT" 42 >"$WORK/expected.csv" || e2e_fail "the fixture failed"
before=$(tree_sum)
run /INFORME /CSV
e2e_expect_eq "/INFORME /CSV exit code" "$RC" 0
if cmp -s "$WORK/out" "$WORK/expected.csv"; then
  e2e_pass "the CSV holds the exact figures of every file"
else
  e2e_fail "the CSV differs from the fixture's figures"
  diff <(tr -d '\r' <"$WORK/expected.csv") <(tr -d '\r' <"$WORK/out")
fi
e2e_expect_eq "/INFORME /CSV writes nothing to stderr" "$(cat "$WORK/err")" ""
blanks=$(awk -F, 'NR > 1 {n += $11} END {print n}' "$WORK/expected.csv")
((blanks > 1)) && e2e_pass "the fixture left $blanks Galician texts blank" ||
  e2e_fail "the fixture left no blanks to count"

run /informe
e2e_expect_eq "/INFORME exit code" "$RC" 0
e2e_expect_eq "/INFORME writes nothing to stderr" "$(cat "$WORK/err")" ""
e2e_expect_eq "the banner of the unattended runs" "$(sed -n 2,3p "$WORK/out")" \
  "$(printf 'TAVIRENO versió 1.01\nLocalització aplicacions KEL')"
total=$(awk -F, 'NR > 1 {n += $3} END {print n}' "$WORK/expected.csv")
e2e_expect_eq "the total" "$(grep '^TOTAL' "$WORK/out")" "TOTAL, 19 fitxers: $total registres"
e2e_expect_eq "one line per language (Catalan)" "$(tail -4 "$WORK/out")" \
  "$(expected_lines "$WORK/expected.csv" CAT)"
e2e_expect_eq "nothing in the installation changed" "$(tree_sum)" "$before"
set_language "$KELTMP/NuriTerm.ini" GLG
before=$(tree_sum)
run /INFORME
e2e_expect_eq "one line per language (Galician-Portuguese)" "$(tail -4 "$WORK/out")" \
  "$(expected_lines "$WORK/expected.csv" GLG)"
grep -q '^Idioma atual: GLG$' "$WORK/out" && e2e_pass "the session's language in the banner" ||
  e2e_fail "no 'Idioma atual: GLG' in the report"
run /INFORME /TAULES /CSV
e2e_expect_eq "/TAULES: the menu and the nine tables" "$(wc -l <"$WORK/out")" 11
for args in "--help" "/?" "-h" "--version" "/AUTO --help"; do
  run $args
  e2e_expect_eq "'$args' exit code" "$RC" 0
done
run --version
grep -q '^TAVIRENO versom 1.01$' "$WORK/out" && e2e_pass "--version in Galician-Portuguese" ||
  e2e_fail "--version: $(cat "$WORK/out")"
grep -q '^Compilaçom: 1.01 (' "$WORK/out" && e2e_pass "--version gives the build's version" ||
  e2e_fail "--version: $(cat "$WORK/out")"
run /AUTO --help
grep -q '/INFORME' "$WORK/out" && e2e_pass "a help word wins over /AUTO" || e2e_fail "/AUTO --help"
e2e_expect_eq "nothing changed by the census in GLG, /TAULES, the help" "$(tree_sum)" "$before"

# Without the language file, the help stays in Catalan and creates nothing.
mv "$KELROOT/LOCALE/TAVIRENO.LNG" "$WORK/TAVIRENO.LNG"
run --help
grep -q '^Variables d.entorn:$' "$WORK/out" && e2e_pass "help without a language file" ||
  e2e_fail "help without a language file"
run /INFORME
e2e_expect_eq "census without a language file" "$RC" 0
e2e_expect_eq "no language file created" "$(ls "$KELROOT/LOCALE")" ""
mv "$WORK/TAVIRENO.LNG" "$KELROOT/LOCALE/TAVIRENO.LNG"

# --- 2. A station converting while the census runs ----------------------------
fresh
cp -a "$KELROOT/TERM01" "$KELROOT/TERM02"
sed -i 's/TERM01\r$/TERM02\r/' "$KELROOT/TERM02/Sessio.ini"
printf '\x11\x00\x00\x00%-15s' "$(hostname | cut -c1-15)" >"$KELROOT/TERM01/LOCKS.TMP"
cp -a "$WORK/inst" "$WORK/original"
set_language "$KELROOT/TERM01/NuriTerm.ini" SPA
KELTMP="$KELROOT/TERM01" "$BIN" /AUTO </dev/null >"$WORK/conversion" 2>&1 &
converter=$!
censuses=0
census_failures=0
while kill -0 "$converter" 2>/dev/null; do
  KELTMP="$KELROOT/TERM02" "$BIN" /INFORME /CSV </dev/null >"$WORK/census" 2>&1
  rc=$?
  censuses=$((censuses + 1))
  # Every file read to its end, with all its records.
  short=$(awk -F, -v n="$RECORDS" 'NR > 1 && ($3 != n || $13 != "complet")' "$WORK/census")
  if ((rc != 0)) || [[ -n $short ]]; then
    census_failures=$((census_failures + 1))
    echo "census $censuses: exit $rc"
    echo "$short"
    head -3 "$WORK/census"
  fi
done
wait "$converter"
e2e_expect_eq "the conversion ends with 0" "$?" 0
((censuses > 0)) && e2e_pass "$censuses censuses ran during the conversion" ||
  e2e_fail "no census ran during the conversion"
e2e_expect_eq "every census ended with 0 and read every record" "$census_failures" 0
if "$CHECK" "$KELROOT" SPA --original "$WORK/original" >"$WORK/check" 2>&1; then
  e2e_pass "the conversion lost nothing: every record whole and in Spanish"
else
  e2e_fail "records after the conversion with censuses"
  cat "$WORK/check"
fi
e2e_expect_eq "the census station made no identity" "$(ls "$KELROOT/TERM02")" \
  "$(printf 'NuriTerm.ini\nSessio.ini')"

# --- 3. Another station's whole-file lock --------------------------------------
offset=$(date +%z)
offset_s=$((10#${offset:1:2} * 3600 + 10#${offset:3:2} * 60))
[[ ${offset:0:1} == - ]] && offset_s=$((-offset_s))
now=$((($(date +%s) + offset_s) / 60))
mkdir -p "$KELROOT/LOCKS"
printf '%-15s%-11s%-8sF0 %-40s0 %-40s\r\n' PC-ALTRE 4711 "$now" "" "" >"$KELROOT/LOCKS/HConcept.lck"
lock_before=$(md5sum <"$KELROOT/LOCKS/HConcept.lck")
KELTMP="$KELROOT/TERM02" run /INFORME /CSV
e2e_expect_eq "census of a file being converted: exit code" "$RC" 0
e2e_expect_eq "the CSV names the converting station" \
  "$(grep -a '^HCONCEPT,' "$WORK/out" | tr -d '\r' | cut -d, -f13-)" "complet,0,PC-ALTRE"
KELTMP="$KELROOT/TERM02" run /INFORME
grep -q "^  El terminal PC-ALTRE l'estava convertint en aquell moment.$" "$WORK/out" &&
  e2e_pass "the report says the file was being converted" || e2e_fail "no converting note"
e2e_expect_eq "the lock file is left alone" "$(md5sum <"$KELROOT/LOCKS/HConcept.lck")" "$lock_before"

# --- 4. A missing data file -----------------------------------------------------
rm -f "$KELROOT/DADES/VDesglos.dat"
run /INFORME /CSV
e2e_expect_eq "a missing file: exit code" "$RC" 0
e2e_expect_eq "a missing file in the CSV" "$(grep -a '^VDESGLOS,' "$WORK/out" | tr -d '\r')" \
  'VDESGLOS,DADES\VDesglos,0,0,0,0,0,0,0,0,0,0,absent,12,'
[[ -e $KELROOT/DADES/VDesglos.dat ]] && e2e_fail "the missing file was created" ||
  e2e_pass "the missing file was not created"

# --- 5. In a terminal -------------------------------------------------------------
e2e_require_tmux
e2e_start_server
e2e_run census 80 25 tmux-256color "$BIN /INFORME" "KELROOT=$KELROOT" "KELTMP=$KELROOT/TERM02"
e2e_wait_for census "OCI: " && e2e_pass "the report in a terminal" || e2e_fail "no report on screen"
e2e_expect_eq "in a terminal: exit code" "$(e2e_exit_status census)" 0
e2e_capture census | grep -q "^TOTAL, 19 fitxers: " && e2e_pass "the totals stay on the screen" ||
  e2e_fail "the totals are not on the screen"
e2e_run help 80 25 tmux-256color "$BIN --help" "KELROOT=$KELROOT" "KELTMP=$KELROOT/TERM02"
e2e_wait_for help "Documentació: README.md" && e2e_pass "--help in a terminal" ||
  e2e_fail "--help in a terminal"
e2e_expect_eq "--help in a terminal: exit code" "$(e2e_exit_status help)" 0
e2e_summary
