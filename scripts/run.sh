#!/usr/bin/env bash
# Installs what is missing, builds Melvanto (Release) and starts it. Without a display it
# says how to get one, and shows the converter at work through melvanto-cli instead.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release

program=build/release/src/gui/melvanto
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "Starting $program"
  exec "$program"
fi

cli=build/release/src/cli/melvanto-cli
cat <<MSG

No display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open.
Ways to see Melvanto anyway:
  xvfb-run -a $program                 a virtual display (package xvfb)
  bash scripts/screenshots.sh                     pictures of every window, drawn offscreen
  $cli --help          the same converter on the command line

Meanwhile, the command-line converter at work:
MSG

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

Above, melvanto-cli turned $sample/sample.wav into $sample/sample.mp3 and
$sample/sample.wma (with tags) and showed what the readers see in them.

Use it yourself:
  $cli convert wav-mp3 -o ~/Music song.wav        (also wav-wma mp3-wav wma-wav mp3-wma wma-mp3 wav-wav)
  $cli info song.mp3
  $cli codecs
Install the program for your desktop (menu entry, icon, both programs, manual pages, completion):
  cmake --install build/release --prefix ~/.local      (then ~/.local/bin on your PATH)
or as a Debian package:
  (cd build/release && cpack -G DEB) && sudo apt-get install ./build/release/melvanto_*.deb
Tests and benchmarks:
  bash scripts/test.sh                           the whole test suite, with sanitizer builds and fuzzing
  build/release/bench/cli_batch_vs_lame          a batch through melvanto-cli against the lame tool
MSG
