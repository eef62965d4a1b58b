#!/usr/bin/env bash
# The unattended path: with standard output redirected to a file nothing
# hangs, the file holds plain text lines (no terminal control sequences), the
# message box text is among them, and a wait for a key ends the run with a
# clear message and exit status 66. Needs no terminal.
#
#   plain_output_test.sh PATH/TO/keyprobe
set -u
BIN=${1:?usage: plain_output_test.sh PATH/TO/keyprobe}
source "$(dirname "$0")/lib.sh"
export LC_ALL=C.UTF-8

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

check_run() {
  local what=$1 stdin=$2
  timeout 20 "$BIN" <"$stdin" >"$dir/out" 2>"$dir/err"
  local status=$?
  if ((status == 124)); then
    e2e_fail "$what: still running after 20 seconds"
    return
  fi
  e2e_expect_eq "$what: exit status" "$status" 66
  if grep -qF "KEYPROBE NEEDS A TERMINAL TO READ KEYS FROM" "$dir/out"; then
    e2e_pass "$what: the message box text is a line of the output"
  else
    e2e_fail "$what: message box text missing from: $(cat "$dir/out")"
  fi
  if grep -qF "standard output is not a terminal, so no key can come" "$dir/out"; then
    e2e_pass "$what: says why it stopped"
  else
    e2e_fail "$what: no stop message in: $(cat "$dir/out")"
  fi
  if LC_ALL=C grep -q $'[\x01-\x08\x0b-\x1f\x7f]' "$dir/out"; then
    e2e_fail "$what: control characters in the output: $(od -c "$dir/out" | head)"
  else
    e2e_pass "$what: plain text only"
  fi
  if grep -qF "exit code 66" "$dir/err"; then
    e2e_pass "$what: the stop message also reaches standard error"
  else
    e2e_fail "$what: standard error holds: $(cat "$dir/err")"
  fi
}

check_run "stdin from /dev/null" /dev/null
# A terminal on standard input does not change it: no screen, no keyboard.
if [[ -t 0 ]]; then check_run "stdin a terminal" /dev/stdin; fi
e2e_summary
