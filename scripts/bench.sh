#!/usr/bin/env bash
# Runs one benchmark (a file name in bench/ without .cpp) against a
# throw-away PostgreSQL cluster on 127.0.0.1.
#   scripts/bench.sh db_insert_bench [benchmark flags]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
name=$1
shift
"$root/scripts/setup.sh"
build="$root/build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target "$name"

pgdir=$(mktemp -d /tmp/quiborsync-bench-pg.XXXXXX)
chmod 755 "$pgdir"
cleanup() {
  "$root/scripts/pg_cluster.sh" stop "$pgdir/data" || true
  rm -rf "$pgdir"
}
trap cleanup EXIT INT TERM
port=54400
while (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
"$root/scripts/pg_cluster.sh" start "$pgdir/data" "$port"
"$root/scripts/load_templates.sh" 127.0.0.1 "$port"
export QS_TEST_PGHOST=127.0.0.1 QS_TEST_PGPORT=$port QS_TEST_PGUSER=postgres QT_QPA_PLATFORM=offscreen
"$build/bench/$name" "$@"
