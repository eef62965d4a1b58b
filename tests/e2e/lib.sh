# Helpers for end-to-end tests that drive a program in a real terminal: a
# private tmux server per test script, panes of a chosen size and terminal
# type, waiting for text (never sleeping a fixed time), sending keys and raw
# input, reading the screen with or without its colours, and the exit status.
#
# Use from a test script:
#
#   source "$(dirname "$0")/lib.sh"
#   e2e_require_tmux                 # exits 77 (CTest: skipped) without tmux
#   e2e_start_server
#   e2e_run app 80 25 tmux-256color "$BIN"
#   e2e_wait_for app "Ready." || e2e_fail "keyprobe did not start"
#   e2e_send app F1
#   e2e_wait_for app "#1 key 3b00" && e2e_pass "F1" || e2e_fail "F1"
#   e2e_summary                      # prints "N passed, N failed"; exit status
#
# Every function that waits has a deadline (E2E_TIMEOUT_MS, default 5000);
# on timeout it prints the pane so the failure shows what was on the screen.

E2E_TIMEOUT_MS=${E2E_TIMEOUT_MS:-5000}
E2E_PASSED=0
E2E_FAILED=0
E2E_SOCKET="e2e-$$-${RANDOM}"

e2e_tmux() { tmux -L "$E2E_SOCKET" -f /dev/null "$@"; }

# Exits with 77 (the skip code registered with CTest) when tmux is missing.
e2e_require_tmux() {
  if ! command -v tmux >/dev/null 2>&1; then
    echo "SKIP: tmux is not installed; the terminal end-to-end tests need it (apt-get install tmux)."
    exit 77
  fi
}

e2e_now_ms() {
  local t=${EPOCHREALTIME/./}
  echo $((t / 1000))
}

# Starts the private server: no key delay of its own, panes kept after their
# program ends (so the last screen can be read), the server kept without
# sessions. Killed, and its files removed, when the script exits.
e2e_start_server() {
  E2E_DIR=$(mktemp -d)
  trap 'e2e_tmux kill-server >/dev/null 2>&1; rm -rf "$E2E_DIR"' EXIT
  e2e_tmux start-server \; set -s exit-empty off \; set -s escape-time 0 \
    \; set -wg remain-on-exit on \; set -g history-limit 200
}

# e2e_run SESSION COLS ROWS TERM COMMAND [NAME=VALUE...]: runs COMMAND (a
# shell command line; not "exec ...", so that its exit status can be kept)
# in a new detached pane of that size and terminal type, with LANG=C.UTF-8
# unless the extra variables say otherwise.
e2e_run() {
  local session=$1 cols=$2 rows=$3 term=$4 command=$5
  shift 5
  local envs=(-e LANG=C.UTF-8)
  local v
  for v in "$@"; do envs+=(-e "$v"); done
  rm -f "$E2E_DIR/$session.status"
  e2e_tmux set -g default-terminal "$term" \; \
    new-session -d -s "$session" -x "$cols" -y "$rows" "${envs[@]}" \
    "$command; echo \$? >'$E2E_DIR/$session.status'"
}

# The pane's text (e2e_capture SESSION), or with its colours as SGR
# sequences (e2e_capture SESSION -e).
e2e_capture() {
  local session=$1
  shift
  e2e_tmux capture-pane -p -t "$session" "$@"
}

# e2e_wait_for SESSION TEXT [TIMEOUT_MS]: polls the pane every 20 ms until
# TEXT (a fixed string) shows. On timeout prints the pane and returns 1.
e2e_wait_for() {
  local session=$1 text=$2 timeout=${3:-$E2E_TIMEOUT_MS}
  local deadline=$(($(e2e_now_ms) + timeout))
  while :; do
    if e2e_capture "$session" 2>/dev/null | grep -qF -- "$text"; then return 0; fi
    if (($(e2e_now_ms) > deadline)); then
      echo "--- timed out waiting for: $text"
      echo "--- pane $session:"
      e2e_capture "$session" 2>/dev/null
      echo "---"
      return 1
    fi
    sleep 0.02
  done
}

# e2e_wait_for_joined SESSION TEXT [TIMEOUT_MS]: as e2e_wait_for, but over
# the pane's whole text (history included) as one line, for messages that
# the terminal wrapped.
e2e_wait_for_joined() {
  local session=$1 text=$2 timeout=${3:-$E2E_TIMEOUT_MS}
  local deadline=$(($(e2e_now_ms) + timeout))
  while :; do
    if e2e_capture "$session" -J -S -200 2>/dev/null | tr -d '\n' | grep -qF -- "$text"; then
      return 0
    fi
    if (($(e2e_now_ms) > deadline)); then
      echo "--- timed out waiting for: $text"
      e2e_capture "$session" -J -S -200 2>/dev/null
      return 1
    fi
    sleep 0.02
  done
}

# e2e_send SESSION KEY...: tmux key names (F1, S-F1, C-Left, M-x, BSpace...).
e2e_send() {
  local session=$1
  shift
  e2e_tmux send-keys -t "$session" "$@"
}

# e2e_send_literal SESSION BYTES: raw input, for example a mouse report.
e2e_send_literal() { e2e_tmux send-keys -t "$1" -l "$2"; }

# The process id of the program in the pane: the child of the pane's shell.
e2e_pid() {
  local shell_pid stat rest
  shell_pid=$(e2e_tmux display -p -t "$1" '#{pane_pid}')
  for stat in /proc/[0-9]*/stat; do
    read -r stat_line <"$stat" 2>/dev/null || continue
    rest=${stat_line##*) }  # after the command name: state, ppid, ...
    set -- $rest
    if [[ $2 == "$shell_pid" ]]; then
      stat=${stat#/proc/}
      echo "${stat%/stat}"
      return 0
    fi
  done
  return 1
}

# e2e_exit_status SESSION [TIMEOUT_MS]: waits until the program has ended
# and prints its exit status (128 + N after signal N); prints "running" and
# returns 1 on timeout. (tmux's own #{pane_dead_status} is left alone: tmux
# 3.3 sometimes never fills it in for a program that ends at once.)
e2e_exit_status() {
  local session=$1 timeout=${2:-$E2E_TIMEOUT_MS}
  local deadline=$(($(e2e_now_ms) + timeout))
  local file="$E2E_DIR/$session.status"
  while :; do
    if [[ -s $file ]]; then
      cat "$file"
      return 0
    fi
    if (($(e2e_now_ms) > deadline)); then
      echo "running"
      return 1
    fi
    sleep 0.02
  done
}

e2e_kill_session() { e2e_tmux kill-session -t "$1" >/dev/null 2>&1 || true; }

e2e_pass() {
  E2E_PASSED=$((E2E_PASSED + 1))
  echo "ok: $*"
}

e2e_fail() {
  E2E_FAILED=$((E2E_FAILED + 1))
  echo "FAILED: $*"
}

# e2e_expect_eq WHAT ACTUAL EXPECTED
e2e_expect_eq() {
  if [[ "$2" == "$3" ]]; then e2e_pass "$1"; else e2e_fail "$1: got '$2', expected '$3'"; fi
}

# Prints the tally and returns non-zero when anything failed.
e2e_summary() {
  echo "$E2E_PASSED passed, $E2E_FAILED failed"
  ((E2E_FAILED == 0))
}

# e2e_cell_colours LINE COLUMN: the foreground and background SGR numbers in
# force at the 1-based visible COLUMN of a line captured with -e, as "fg bg"
# (39/49 for the terminal's defaults).
e2e_cell_colours() {
  local line=$1 column=$2
  local fg=39 bg=49 visible=0 i=0 n=${#1}
  local rest params p
  while ((i < n)); do
    if [[ ${line:i:1} == $'\e' ]]; then
      rest=${line:i}
      if [[ $rest =~ ^$'\e'\[([0-9\;]*)m ]]; then
        params=${BASH_REMATCH[1]}
        i=$((i + ${#BASH_REMATCH[0]}))
        [[ -z $params ]] && params=0
        IFS=';' read -ra ps <<<"$params"
        for p in "${ps[@]}"; do
          if ((p == 0)); then fg=39; bg=49
          elif ((p >= 30 && p <= 39)) || ((p >= 90 && p <= 97)); then fg=$p
          elif ((p >= 40 && p <= 49)) || ((p >= 100 && p <= 107)); then bg=$p
          fi
        done
        continue
      fi
    fi
    visible=$((visible + 1))
    if ((visible == column)); then
      echo "$fg $bg"
      return 0
    fi
    i=$((i + 1))
  done
  echo "none"
}
