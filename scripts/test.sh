#!/usr/bin/env bash
# Installs what is missing, builds Melvanto and runs every test: a plain build, a
# ThreadSanitizer build of the threaded engine, and an AddressSanitizer +
# UndefinedBehaviorSanitizer build of everything (with clang, so both compilers see the code).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
jobs=$(nproc)

# Dependencies point one way between the libraries; checked before anything is built.
python3 scripts/check_layers.py

# A target list chooses what a sanitizer build runs.
build_and_test() {  # build dir, targets ("" for all), cmake arguments...
  local dir=$1 targets=$2
  shift 2
  echo "== $dir =="
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$@"
  local skip=()
  if [ -n "$targets" ]; then
    cmake --build "$dir" -j "$jobs" --target $targets
    skip=(-E '_NOT_BUILT$')  # the placeholders of the programs not built here
  else
    cmake --build "$dir" -j "$jobs"
  fi
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${skip[@]}"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
# The packages are installed above: an interop test without its tool is a failure here.
export MELVANTO_REQUIRE_TOOLS=1

build_and_test build/debug ""
build_and_test build/tsan "engine_tests wav_tests mp3_tests wmf_tests wm_tests app_tests melvanto-cli cli_tests" -DMELVANTO_SANITIZE=thread -DMELVANTO_BUILD_BENCH=OFF
build_and_test build/asan "" "-DMELVANTO_SANITIZE=address;undefined" -DMELVANTO_BUILD_BENCH=OFF \
  -DCMAKE_CXX_COMPILER=clang++
# Every parser and decoder survives a short fuzz run from its seed corpus, and replays the
# inputs that once crashed it.
echo "== build/fuzz =="
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  "-DMELVANTO_SANITIZE=address;undefined" -DMELVANTO_BUILD_FUZZ=ON -DMELVANTO_BUILD_TESTS=OFF -DMELVANTO_BUILD_GUI=OFF \
  -DMELVANTO_BUILD_BENCH=OFF
cmake --build build/fuzz -j "$jobs"
for target in $(find build/fuzz/fuzz -maxdepth 1 -type f -executable -name '*_fuzz' | sort); do
  name=$(basename "$target" _fuzz)
  if [ -d "fuzz/regressions/$name" ]; then
    "$target" -runs=0 "fuzz/regressions/$name"
  fi
  work=$(mktemp -d)
  cp -r "fuzz/corpus/$name/." "$work/" 2>/dev/null || true
  "$target" "$work" -max_total_time="${FUZZ_SECONDS:-60}" -rss_limit_mb=2048 -print_final_stats=0
  rm -rf "$work"
done
echo "All tests passed."
