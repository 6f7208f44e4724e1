#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite against a
# throw-away PostgreSQL cluster on 127.0.0.1 that is stopped again at the end,
# also on failure. With CI=true (or QS_SANITIZE=1) the suite runs a second
# time, built with AddressSanitizer and UndefinedBehaviorSanitizer. With
# CI=true the .deb is also built, installed and started (package_check.sh),
# and the fuzzers run for a bounded time (fuzz.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Each stage's time, so a slow CI run shows where its minutes went.
stage_start=$SECONDS
stage_name=""
stage() {
  if [ -n "$stage_name" ]; then
    printf '==> stage %-22s %4d s\n' "$stage_name" $((SECONDS - stage_start))
  fi
  stage_name=$1
  stage_start=$SECONDS
}

stage setup
"$root/scripts/setup.sh"

# The compiler cache is kept between runs on this machine; paths inside the
# tree are hashed relative to it, so a fresh clone elsewhere still hits.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true

stage build
jobs=$(nproc)
build="$root/build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"

stage cluster
pgdir=$(mktemp -d /tmp/quiborsync-test-pg.XXXXXX)
chmod 755 "$pgdir"
cleanup() {
  "$root/scripts/pg_cluster.sh" stop "$pgdir/data" || true
  rm -rf "$pgdir"
}
trap cleanup EXIT INT TERM

port=54329
while (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
  port=$((port + 1))
done
"$root/scripts/pg_cluster.sh" start "$pgdir/data" "$port"
"$root/scripts/load_templates.sh" 127.0.0.1 "$port"

export QS_TEST_PGHOST=127.0.0.1 QS_TEST_PGPORT=$port QS_TEST_PGUSER=postgres QS_TEST_PGPASSWORD=
export QT_QPA_PLATFORM=offscreen

run_suite() {
  (cd "$1" && ctest --output-on-failure --timeout 300 -j"$jobs")
}

stage suite
run_suite "$build"

if [ "${CI:-}" = "true" ]; then
  # The .deb, installed with apt-get and started from /opt/quiborsync.
  stage package
  "$root/scripts/package_check.sh" "$build" 127.0.0.1 "$port"
  # The parsers of outside text under libFuzzer, about a minute each.
  stage fuzz
  "$root/scripts/fuzz.sh" "${QS_FUZZ_SECONDS:-60}"
fi

if [ "${CI:-}" = "true" ] || [ "${QS_SANITIZE:-}" = "1" ]; then
  # -O1 keeps every sanitizer check and runs the suite's real-time waits
  # far faster than -O0 on a busy machine. Clang builds this tree in well
  # under half the time GCC takes with the sanitizers on, and a second
  # compiler's warnings come with it; the main tree stays on GCC. Line
  # tables are all a sanitizer's report needs. (Built beside the suite at
  # the lowest priority, it slowed the suite by as much as it gained.)
  stage sanitizer-build
  asan="$root/build-asan"
  # A tree configured earlier for another compiler cannot be switched in place.
  if [ -f "$asan/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' "$asan/CMakeCache.txt"; then
    rm -rf "$asan"
  fi
  cmake -S "$root" -B "$asan" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-gline-tables-only -O1" \
    -DQS_SANITIZE=ON -DQS_BENCH=OFF >/dev/null
  cmake --build "$asan" -j"$jobs"
  stage sanitizer-suite
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite "$asan"
fi
stage done
echo "All tests passed."
