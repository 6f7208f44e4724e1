#!/usr/bin/env bash
# Loads the store schema into the template databases the tests copy from.
#   load_templates.sh HOST PORT
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
host=$1
port=$2
psql_admin() { psql -X -q -v ON_ERROR_STOP=1 -h "$host" -p "$port" -U postgres "$@"; }

for kind in server terminal; do
  db="qs_tpl_$kind"
  psql_admin -d postgres -c "UPDATE pg_database SET datistemplate = false WHERE datname = '$db'" >/dev/null
  psql_admin -d postgres -c "DROP DATABASE IF EXISTS $db" >/dev/null
  psql_admin -d postgres -c "CREATE DATABASE $db" >/dev/null
  if [ -f "$here/store/$kind.sql" ]; then
    psql_admin -d "$db" -f "$here/store/$kind.sql" >/dev/null
  fi
  psql_admin -d postgres -c "ALTER DATABASE $db IS_TEMPLATE true" >/dev/null
done
