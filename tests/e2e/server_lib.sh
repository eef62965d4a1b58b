# Helpers for the end-to-end tests of installations on a PostgreSQL server:
# loading an installation's data files into a schema, reading them back into
# SQLite files (where conversion_check and recutil save can look at them),
# and dropping the test's schemas at the end. Needs RECUTIL (the binary).

SERVER_SCHEMAS=()
SERVER_SCHEMA_CONNINFO=()

# server_schema NAME: a schema name of this test run, dropped at the end.
server_schema() {
  local schema="e2e_${1}_$$"
  SERVER_SCHEMAS+=("$schema")
  echo "$schema"
}

# data_files ROOT: the data files under ROOT, as paths relative to it.
data_files() { (cd "$1" && find . -type f -iname '*.dat' | sed 's|^\./||' | sort); }

# server_load ROOT CONNINFO SCHEMA: copies ROOT's data files into SCHEMA,
# points ROOT's Nuri.ini at the server and removes the SQLite files, so that
# nothing can use them by mistake.
server_load() {
  local root=$1 conninfo=$2 schema=$3
  "$RECUTIL" --server "$conninfo" --schema "$schema" --root "$root" copy to-server --replace ||
    return 1
  printf '[Dades]\r\nServidor=%s\r\nEsquema=%s\r\n' "$conninfo" "$schema" >>"$root/Nuri.ini"
  find "$root" -type f \( -iname '*.dat' -o -iname '*.dat-*' \) -delete
  SERVER_SCHEMA_CONNINFO+=("$conninfo")
}

# server_pull ROOT DEST CONNINFO SCHEMA LIST: the files named in LIST (paths
# relative to a root) from SCHEMA into SQLite files under DEST.
server_pull() {
  local dest=$2 conninfo=$3 schema=$4 list=$5
  local files=() f
  while read -r f; do
    mkdir -p "$(dirname "$dest/$f")"
    files+=("$dest/$f")
  done <"$list"
  "$RECUTIL" --server "$conninfo" --schema "$schema" --root "$dest" copy to-files --replace \
    "${files[@]}"
}

# records_of FILE: every record of a data file in physical order, as the
# sequential format gives them (byte for byte).
records_of() {
  local out
  out=$(mktemp)
  KELDB= "$RECUTIL" --server '' save "$1" "$out" >/dev/null 2>&1 && cat "$out"
  rm -f "$out"
}

# Drops the schemas of this run (psql, when installed).
server_cleanup() {
  command -v psql >/dev/null 2>&1 || return 0
  local schema
  for schema in "${SERVER_SCHEMAS[@]}"; do
    psql -q "$KEL_TEST_PG" -c "DROP SCHEMA IF EXISTS \"$schema\" CASCADE" >/dev/null 2>&1 || true
  done
}
