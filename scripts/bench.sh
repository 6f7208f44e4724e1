#!/usr/bin/env bash
# Runs one benchmark (a file name in bench/ without .cpp) against two
# throw-away PostgreSQL clusters on 127.0.0.1, started for the run:
#   fast     fsync, synchronous_commit and full_page_writes off, as the tests run
#   durable  all three on, as a store's server runs: every commit waits for its flush
# Their ports go to the benchmark as QS_TEST_PGPORT and QS_DURABLE_PGPORT;
# each benchmark measures both, side by side.
#   scripts/bench.sh db_insert_bench [benchmark flags]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
name=$1
shift
"$root/scripts/setup.sh"
build="$root/build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=("$name")
# The whole-program benchmark starts the executable.
[ "$name" = sales_program_bench ] && targets+=(quiborsync)
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

pgdir=$(mktemp -d /tmp/quiborsync-bench-pg.XXXXXX)
chmod 755 "$pgdir"
cleanup() {
  for mode in fast durable; do
    "$root/scripts/pg_cluster.sh" stop "$pgdir/$mode" || true
  done
  rm -rf "$pgdir"
}
trap cleanup EXIT INT TERM

# Starts the cluster of `mode` on the first port from `from` that nobody
# listens on and that the server can bind (a port still held by a closing
# client connection cannot be); prints the port.
start_cluster() {
  local mode=$1 port=$2 tries=0
  local flag=""
  [ "$mode" = durable ] && flag=durable
  while :; do
    if ! (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null \
      && "$root/scripts/pg_cluster.sh" start "$pgdir/$mode" "$port" $flag >&2; then
      echo "$port"
      return
    fi
    port=$((port + 1))
    tries=$((tries + 1))
    if [ "$tries" -ge 50 ]; then
      echo "no free port for the $mode cluster" >&2
      exit 1
    fi
  done
}

fast_port=$(start_cluster fast 54400)
durable_port=$(start_cluster durable $((fast_port + 1)))
for port in "$fast_port" "$durable_port"; do
  "$root/scripts/load_templates.sh" 127.0.0.1 "$port"
done
echo "clusters: fast on port $fast_port, durable on port $durable_port" \
  "($(psql -X -At -h 127.0.0.1 -p "$durable_port" -U postgres -d postgres \
    -c "SELECT string_agg(name || '=' || setting, ' ' ORDER BY name) FROM pg_settings
        WHERE name IN ('fsync', 'synchronous_commit', 'full_page_writes')"))"
export QS_TEST_PGHOST=127.0.0.1 QS_TEST_PGPORT=$fast_port QS_DURABLE_PGPORT=$durable_port
export QS_TEST_PGUSER=postgres QT_QPA_PLATFORM=offscreen
"$build/bench/$name" "$@"
