#!/usr/bin/env bash
# The guard builds of the test command: the core, the local imitations its
# tests start and the core's tests (no window, no benches) built with clang
# in two folders of their own, and every test run there.
#   build-asan/  AddressSanitizer and UndefinedBehaviorSanitizer, and the
#                strict warning set as errors (-Wshadow -Wnon-virtual-dtor
#                -Wold-style-cast -Wthread-safety -Werror), so this build
#                also checks every lock against its annotations
#   build-tsan/  ThreadSanitizer
# A sanitizer's report fails its test, and so the run.
#
#   bash scripts/sanitize.sh              # both
#   bash scripts/sanitize.sh asan         # one of them
set -euo pipefail
cd "$(dirname "$0")/.."

kinds=("$@")
if [ ${#kinds[@]} -eq 0 ]; then kinds=(asan tsan); fi

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# What TSan leaves alone, and why, is written in scripts/tsan.supp.
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp}"

tests=(support_test base_test text_test io_test tables_test store_test import_test export_test jet4_test http_test market_test
  delivery_test im_test service_test alerts_test)

for kind in "${kinds[@]}"; do
  case "$kind" in
    asan) sanitize="address,undefined" strict=ON ;;
    tsan) sanitize="thread" strict=OFF ;;
    *) echo "sanitize: unknown build '$kind' (asan or tsan)" >&2; exit 2 ;;
  esac
  start=$(date +%s)
  # -O1 keeps the stacks readable and the build short.
  cmake -S . -B "build-$kind" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
    -DCMAKE_CXX_COMPILER=clang++-14 \
    -DAUTODELIVER_SANITIZE="$sanitize" -DAUTODELIVER_STRICT="$strict" \
    -DAUTODELIVER_BUILD_GUI=OFF -DAUTODELIVER_BUILD_BENCH=OFF \
    "${launcher[@]}" >/dev/null
  # The core's test programs; their local imitations come in as
  # dependencies.
  cmake --build "build-$kind" -j2 --target "${tests[@]}"
  built=$(date +%s)
  # The IM tests need a display, as in the main run.
  (cd "build-$kind" && xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" ctest --output-on-failure -j2)
  echo "sanitize $kind: built in $((built - start)) s, tests in $(($(date +%s) - built)) s"
done
