#!/usr/bin/env bash
# The test command: installs what is missing, builds everything and runs
# every test with CTest under a private X server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
cd build
# Window and IM tests need a display; xvfb-run gives each run its own.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" ctest --output-on-failure -j2
