#!/usr/bin/env bash
# Draws every window (offscreen, no display needed) and saves the pictures as PNG files:
# builds the window tests and runs only the one that takes the screenshots.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/debug}
bash scripts/deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j "$(nproc)" --target gui_tests
QT_QPA_PLATFORM=offscreen "$build/tests/gui/gui_tests" --gtest_filter='Screenshots.*'

echo
echo "Screenshots in $(cd "$build/screenshots" && pwd):"
ls -1 "$build/screenshots"/*.png
