#!/usr/bin/env bash
# A throw-away PostgreSQL 15 cluster on 127.0.0.1, run as the postgres user
# (the server refuses to run as root).
#   pg_cluster.sh start DIR PORT [durable]   -- create (if needed) and start
#   pg_cluster.sh stop DIR
#   pg_cluster.sh immediate DIR    -- stop at once, as a power cut would: no
#                                     checkpoint, every session ended; the
#                                     next start recovers from the WAL
# Without "durable" the cluster skips WAL flushes (fast, for tests); with it,
# fsync, synchronous_commit and full_page_writes are on, as on a store's
# server, so every commit waits for its flush.
# The superuser postgres logs in without a password; every other role must
# give its password (scram-sha-256), so password handling is really tested.
set -euo pipefail

PGBIN=/usr/lib/postgresql/15/bin
cmd=$1
dir=$(realpath -m "$2")

as_postgres() {
  if [ "$(id -un)" = postgres ]; then "$@"; else runuser -u postgres -- "$@"; fi
}

case "$cmd" in
  start)
    port=$3
    if [ ! -f "$dir/PG_VERSION" ]; then
      mkdir -p "$dir"
      chown postgres:postgres "$dir"
      chmod 700 "$dir"
      as_postgres "$PGBIN/initdb" -D "$dir" -U postgres --auth=trust -E UTF8 --locale=C.UTF-8 >/dev/null
      cat > "$dir/pg_hba.conf" <<HBA
local all postgres trust
host  all postgres 127.0.0.1/32 trust
local all all scram-sha-256
host  all all 127.0.0.1/32 scram-sha-256
HBA
    fi
    if [ "${4:-}" = durable ]; then
      flush="-c fsync=on -c synchronous_commit=on -c full_page_writes=on"
    else
      flush="-c fsync=off -c synchronous_commit=off -c full_page_writes=off"
    fi
    as_postgres "$PGBIN/pg_ctl" -D "$dir" -w -t 60 -l "$dir/server.log" start \
      -o "-p $port -k $dir -c listen_addresses=127.0.0.1 $flush -c max_connections=300 -c password_encryption=scram-sha-256" >/dev/null
    ;;
  stop)
    if [ -f "$dir/postmaster.pid" ]; then
      as_postgres "$PGBIN/pg_ctl" -D "$dir" -m fast -w -t 60 stop >/dev/null || true
    fi
    ;;
  immediate)
    if [ -f "$dir/postmaster.pid" ]; then
      as_postgres "$PGBIN/pg_ctl" -D "$dir" -m immediate -w -t 60 stop >/dev/null
    fi
    ;;
  *)
    echo "usage: $0 start DIR PORT [durable] | stop DIR | immediate DIR" >&2
    exit 2
    ;;
esac
