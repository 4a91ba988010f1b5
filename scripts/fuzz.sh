#!/usr/bin/env bash
# The bounded fuzz run of the test command: builds the libFuzzer targets of
# fuzz/ with clang (ASan and UBSan) in build-fuzz/ and runs each for a fixed
# time, starting from its corpus in fuzz/corpus/<target> (read only: new
# inputs go to a scratch folder). An input that crashes, breaks a target's
# property, takes longer than 10 s or needs more than 2 GiB fails the run;
# it is kept in build-fuzz/artifacts/ and named in the output.
#
#   bash scripts/fuzz.sh                      # every target, 20 s each
#   FUZZ_SECONDS=300 bash scripts/fuzz.sh order_page http_answer
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-20}"
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DAUTODELIVER_FUZZ=ON -DAUTODELIVER_BUILD_GUI=OFF -DAUTODELIVER_BUILD_TESTS=OFF \
  -DAUTODELIVER_BUILD_BENCH=OFF -DAUTODELIVER_BUILD_TOOLS=OFF "${launcher[@]}" >/dev/null

# The longest input of each target: a page, a table file and card.mdb need
# room; texts and answers less.
declare -A max_len=(
  [table_file]=65536 [order_page]=65536 [service_answer]=8192 [ini_file]=16384
  [card_import]=8192 [card_mdb]=131072 [http_answer]=16384
)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=(table_file order_page service_answer ini_file card_import card_mdb http_answer); fi

cmake --build build-fuzz -j2 --target "${targets[@]/#/fuzz_}"

artifacts="$PWD/build-fuzz/artifacts"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$artifacts"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
for t in "${targets[@]}"; do
  mkdir -p "$scratch/$t"
  log="$scratch/$t.log"
  start=$(date +%s)
  status=0
  "build-fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="${max_len[$t]:-4096}" -print_final_stats=1 -artifact_prefix="$artifacts/$t-" \
    "$scratch/$t" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
  echo "fuzz $t: ${runs} inputs in $(($(date +%s) - start)) s, ${cov:-cov: ?}, exit $status"
  if [ "$status" -ne 0 ]; then
    failed+=("$t")
    grep -E 'ERROR|SUMMARY|fuzz property broken|Test unit written' "$log" | head -20 || true
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $artifacts)"
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets, ${seconds} s each, no fault found"
