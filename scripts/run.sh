#!/usr/bin/env bash
# Installs what is missing, builds Melvanto and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release

# The windows do not exist yet: say what this build can run instead of pretending.
cat <<MSG

Built in build/release. Melvanto's windows are not part of this build yet; what exists is the
audio pipeline engine (src/engine), the WAV format (src/formats/wav), the tags (src/tags), the
MP3 output (src/formats/mp3) and the WMA and MP3 readers and WMA writer (src/formats/wm). You can run:
  bash scripts/test.sh                  the whole test suite, with sanitizer builds and fuzzing
  build/release/bench/engine_bench      the engine's throughput and latency benchmark
  build/release/bench/wav_vs_peers      WAV decoding and copying against sox and cp
  build/release/bench/mp3_vs_lame       WAV to MP3 against the lame tool
  build/release/bench/mp3_to_wav_vs_ffmpeg, wav_to_wma_vs_ffmpeg   against ffmpeg
MSG
