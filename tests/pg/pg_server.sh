#!/usr/bin/env bash
# A private PostgreSQL server for the tests: one cluster in DIR, reachable
# only through the Unix socket in DIR (no TCP port), trusted local logins.
#
#   pg_server.sh start DIR   initdb when needed, start, wait until it answers
#   pg_server.sh stop DIR    stop it and remove DIR (nothing to do when absent)
#   pg_server.sh conninfo DIR
#                            the libpq connection string of that server
#
# The server refuses to run as root: under root DIR belongs to the postgres
# user and the server runs as postgres (runuser). Keep DIR short, a Unix
# socket path holds at most about 107 bytes. Without PostgreSQL's server
# programs the script exits with 77 (skipped) and says why.
# KEL_PG_OPTIONS adds server settings ("-c name=value ..."); the tests run
# without fsync by default (a crash of this machine is not what they test).
set -euo pipefail

usage() { echo "usage: $0 start|stop|conninfo DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
action=$1
dir=$2
case "$dir" in /*) ;; *) dir="$PWD/$dir" ;; esac
port=5432
user=kel

conninfo() { echo "host=$dir port=$port dbname=postgres user=$user"; }

# The newest installed server's programs.
find_bindir() {
  local d best=""
  if [ -n "${KEL_PG_BINDIR:-}" ]; then echo "$KEL_PG_BINDIR"; return; fi
  for d in /usr/lib/postgresql/*/bin; do
    [ -x "$d/initdb" ] && best=$d
  done
  if [ -z "$best" ] && command -v initdb >/dev/null 2>&1; then
    best=$(dirname "$(command -v initdb)")
  fi
  echo "$best"
}

# Runs a server program as the owner of the cluster.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

start() {
  cd /  # the server's user may not enter the caller's folder
  local bindir
  bindir=$(find_bindir)
  if [ -z "$bindir" ]; then
    echo "PostgreSQL's server programs (initdb, pg_ctl) are not installed:" \
         "the tests against a server are skipped (scripts/deps.sh installs them)"
    exit 77
  fi
  if [ "$(id -u)" -eq 0 ] && ! id postgres >/dev/null 2>&1; then
    echo "running as root and there is no postgres user to run the server as" >&2
    exit 1
  fi
  mkdir -p "$dir"
  [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
  chmod 700 "$dir"
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    rm -rf "$dir/data"
    as_owner "$bindir/initdb" -D "$dir/data" -U "$user" -A trust --no-locale -E UTF8 \
      >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
  fi
  if as_owner "$bindir/pg_ctl" -D "$dir/data" status >/dev/null 2>&1; then
    echo "server already running: $(conninfo)"
    return
  fi
  # shellcheck disable=SC2086
  as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses='' -c unix_socket_directories='$dir' -p $port \
        -c fsync=off -c full_page_writes=off -c max_connections=200 ${KEL_PG_OPTIONS:-}" \
    start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
  local i
  for i in $(seq 1 100); do
    if "$bindir/pg_isready" -q -h "$dir" -p "$port" -U "$user" -d postgres; then
      echo "server running: $(conninfo)"
      return
    fi
    sleep 0.1
  done
  echo "the server in $dir does not answer" >&2
  cat "$dir/server.log" >&2
  exit 1
}

stop() {
  local bindir
  bindir=$(find_bindir)
  if [ -n "$bindir" ] && [ -f "$dir/data/PG_VERSION" ]; then
    as_owner "$bindir/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}

case "$action" in
  start) start ;;
  stop) stop ;;
  conninfo) conninfo ;;
  *) usage ;;
esac
