#!/usr/bin/env bash
# Installs what is missing, builds Melvanto and runs it: until the windows exist, a real
# conversion of a generated sample through melvanto-cli.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release

cli=build/release/src/cli/melvanto-cli
sample=build/sample
mkdir -p "$sample"
# Five seconds of a plucked fifth (one note per channel), 44.1 kHz 16-bit stereo.
sox -n -r 44100 -c 2 -b 16 "$sample/sample.wav" synth 5 pluck C3 pluck G3 fade q 0.05 5 1 norm -3

"$cli" convert wav-mp3 -j 2 --overwrite -o "$sample" --artist "Melvanto" --album "Samples" \
  --genre Ambient "$sample/sample.wav"
"$cli" convert wav-wma -j 2 --overwrite -o "$sample" --artist "Melvanto" --album "Samples" \
  --genre Ambient "$sample/sample.wav"
"$cli" info "$sample/sample.mp3" "$sample/sample.wma"

cat <<MSG

Built in build/release. The windows are not part of this build yet; the command-line
converter is. Above, it turned $sample/sample.wav into $sample/sample.mp3 and
$sample/sample.wma (with tags) and showed what the readers see in them.

Use it yourself:
  $cli --help
  $cli convert wav-mp3 -o ~/Music song.wav        (also wav-wma mp3-wav wma-wav mp3-wma wma-mp3 wav-wav)
  $cli info song.mp3
  $cli codecs
Tests and benchmarks:
  bash scripts/test.sh                           the whole test suite, with sanitizer builds and fuzzing
  build/release/bench/cli_batch_vs_lame          a batch through melvanto-cli against the lame tool
  build/release/bench/mp3_vs_lame, engine_bench, wav_vs_peers, mp3_to_wav_vs_ffmpeg, wav_to_wma_vs_ffmpeg
MSG
