#!/usr/bin/env bash
# Peak resident memory of melvanto-cli on MPEG Layer-3 inside WAV: `info` and `convert wav-wav`
# (to PCM) of one hour of 128 kb/s stereo, and of a 5 MB file of 8 kHz mono frames whose
# header claims 48 kHz stereo. Usage: bench/wav_mp3_memory.sh [CLI...] (default: the release
# build's); several CLIs are measured side by side, e.g. an older build against this one.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
clis=("$@")
[ ${#clis[@]} -gt 0 ] || clis=("$here/build/release/src/cli/melvanto-cli")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=3600" -ac 2 -ar 44100 \
  -c:a libmp3lame -b:a 128k -f wav "$work/hour.wav"
ffmpeg -nostdin -v error -f lavfi -i "anoisesrc=d=5000:r=8000:a=0.3" -ac 1 -ar 8000 \
  -c:a libmp3lame -b:a 8k -f wav "$work/claim.wav"
# The same frames under a header that says 48 kHz stereo.
python3 - "$work/claim.wav" <<'PY'
import struct, sys
d = bytearray(open(sys.argv[1], 'rb').read())
i = d.find(b'fmt ')
d[i + 10:i + 12] = struct.pack('<H', 2)
d[i + 12:i + 16] = struct.pack('<I', 48000)
open(sys.argv[1], 'wb').write(d)
PY

peak() {  # peak resident set in MB of the command given
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ {printf "%.0f", $2 / 1024}'
}

printf '%-60s %10s %10s %12s %12s\n' cli "info 1 h" "conv 1 h" "info claim" "conv claim"
for cli in "${clis[@]}"; do
  row=()
  for f in hour claim; do
    row+=("$(peak "$cli" info "$work/$f.wav")")
    mkdir -p "$work/out"
    row+=("$(peak "$cli" convert wav-wav --wav-type pcm -q --overwrite -j 1 -o "$work/out" "$work/$f.wav")")
    rm -rf "$work/out"
  done
  printf '%-60s %8s MB %8s MB %10s MB %10s MB\n' "$cli" "${row[0]}" "${row[1]}" "${row[2]}" "${row[3]}"
done
