#!/usr/bin/env bash
# Builds the fuzz targets (tests/fuzz, clang's libFuzzer with ASan and UBSan)
# and runs each for SECONDS (default 20), three at a time, from its committed
# seeds and the corpus earlier runs grew in build/fuzz/corpus. A crash, a
# leak, a hang or an overrun stops that target; its input is kept in
# build/fuzz/findings and the script fails.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
shift || true
jobs="${RZ_FUZZ_JOBS:-3}"

scripts/build.sh fuzz fuzz >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for seeds in tests/fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi
mkdir -p build/fuzz/findings build/fuzz/logs

run_one() {
  local target="$1" seconds="$2"
  local corpus="build/fuzz/corpus/$target" log="build/fuzz/logs/$target.log"
  mkdir -p "$corpus"
  # A length field may ask for gigabytes: allocations past 64 MiB fail as they
  # would on a machine without the memory, and the library's answer to that
  # is fuzzed too. The library's console lines go nowhere.
  if ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=64:detect_leaks=1 \
    "build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=65536 -timeout=20 -close_fd_mask=1 \
    -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$target-" \
    "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    local runs
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    echo "fuzz $target: ${runs:-?} inputs in ${seconds}s, nothing found"
  else
    echo "fuzz $target: FOUND something, see $log and build/fuzz/findings/"
    grep -m 3 -E 'ERROR|SUMMARY|Test unit written' "$log" || true
    return 1
  fi
}
export -f run_one

printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} "$seconds"
