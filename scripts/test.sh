#!/usr/bin/env bash
# The test command: installs what is missing, checks the formatting of the
# sources and the include layers, builds everything and runs every test with
# CTest under a private X server, then builds the core and its tests with the
# sanitizers and the strict warnings and runs them (scripts/sanitize.sh), and
# fuzzes every fuzz target for a bounded time (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# Formatting, checked before the build so that it fails fast: every tracked
# C++ source must be as clang-format (.clang-format at the root) leaves it.
git ls-files -z -- '*.cpp' '*.h' '*.hpp' '*.cc' | xargs -0 -r clang-format --dry-run --Werror

# The include check, also before the build: no file under src/ includes a
# header of a folder above its own (src/layers.txt).
bash scripts/check-layers.sh

# Every warning of the build is an error: a new one fails the test command.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAUTODELIVER_WERROR=ON
cmake --build build -j2
cd build
# Window and IM tests need a display; xvfb-run gives each run its own.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" ctest --output-on-failure -j2
cd ..

# ---- guard builds: the core tests under ASan+UBSan (with the strict
# warnings and the lock annotations as errors) and under TSan ----
bash scripts/sanitize.sh

# ---- fuzzing: the libFuzzer targets of fuzz/, clang with ASan and UBSan,
# 20 s each from their corpora (the corpora also run above as tests) ----
bash scripts/fuzz.sh
# ---- end of fuzzing ----
