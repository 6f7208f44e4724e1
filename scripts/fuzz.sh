#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each one for a
# bounded time; stops at the first crash or hang, naming the input that
# caused it. Inputs that found new paths are kept in build-fuzz/corpus/ for
# the next run.
#   fuzz.sh [SECONDS]      seconds per target (QS_FUZZ_SECONDS, 60)
# Replay a finding:  build-fuzz/<target> build-fuzz/findings/<target>/<file>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${QS_FUZZ_SECONDS:-60}}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "fuzz.sh takes whole seconds" >&2
  exit 2
fi
build=$root/build-fuzz
targets=(ini_file_fuzzer named_params_fuzzer)

cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

# Both targets at once, each on its own core and for its full time.
run_target() {
  local target=$1
  local corpus=$build/corpus/$target findings=$build/findings/$target
  mkdir -p "$corpus" "$findings"
  # -timeout makes a hang a finding; timeout(1) bounds the run itself.
  timeout -k 10 $((seconds + 120)) "$build/$target" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -dict="$root/fuzz/$target.dict" -artifact_prefix="$findings/" -print_final_stats=1 \
    "$corpus" "$root/fuzz/seeds/$target" >"$build/$target.log" 2>&1
}

pids=()
for target in "${targets[@]}"; do
  echo "==> $target for $seconds s"
  run_target "$target" &
  pids+=($!)
done

status=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  if ! wait "${pids[$i]}"; then
    tail -n 40 "$build/$target.log"
    echo "$target found a crash or a hang: see $build/findings/$target/ and $build/$target.log" >&2
    status=1
  else
    echo "==> $target"
    grep -E '^stat::number_of_executed_units|^Done' "$build/$target.log" | sed 's/^/    /' || true
  fi
done
exit "$status"
