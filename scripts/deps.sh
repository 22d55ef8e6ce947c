#!/usr/bin/env bash
# The one list of Debian packages Melvanto needs to build, test and run.
# Installs the ones that are missing; does nothing when all are there.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config            # build
  libgtest-dev libgmock-dev libbenchmark-dev  # tests and benchmarks
  clang libclang-rt-14-dev                    # sanitizer and fuzzer runtimes
  libavcodec-dev libavformat-dev libswresample-dev libavutil-dev  # the media backend
  libmp3lame0 libmp3lame-dev                  # LAME: loaded at run time
  libtagc0-dev libtag1-dev                    # TagLib: loaded at run time, linked by interop tests
  sox ffmpeg lame                             # other tools' readers and writers, for interop tests
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins    # the windows (Widgets, Network, Test; SVG images; X11 and offscreen platforms)
  qt6-wayland                                 # the windows on a Wayland desktop without X
  fonts-dejavu-core                           # a font for windows drawn without a display
  desktop-file-utils                          # checks the installed menu entry (desktop-file-validate)
  python3                                     # the layer check (scripts/check_layers.py)
  time                                        # peak memory in bench/wav_mp3_memory.sh
  python3-mutagen                             # an independent tag reader (APIC, WM/Picture, LIST/INFO) for interop tests
  groff-base man-db                           # checks the manual pages (groff -ww, man -l)
  bash-completion                             # the completion test calls ours through its helpers
  dpkg-dev file                               # the Debian package: cpack -G DEB runs dpkg-shlibdeps, which needs file
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]} > 0)); then
  echo "Installing: ${missing[*]}"
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
