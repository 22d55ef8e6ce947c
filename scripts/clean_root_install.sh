#!/usr/bin/env bash
# Installs the Debian package on a clean Debian 12 root (debootstrap, variant minbase) and uses
# it there as a plain user: a development machine already has every library, so only a clean
# root shows what the package's Depends forget. Needs root and Debian's archive; not part of
# the test suite.
#   MELVANTO_CLEAN_ROOT_CACHE  where the root's tarball is kept between runs
#                              (default /var/cache/melvanto-clean-root)
#   MELVANTO_DEBIAN_MIRROR     (default http://deb.debian.org/debian)
#   MELVANTO_KEEP_ROOT=1       leaves the root in place (its path is printed) to look around
#   MELVANTO_NO_RECOMMENDS=1   installs with --no-install-recommends: Depends alone must do
# Usage: sudo bash scripts/clean_root_install.sh
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
[ "$(id -u)" = 0 ] || fail "run as root (debootstrap and chroot need it)"
command -v debootstrap >/dev/null 2>&1 || fail "debootstrap is missing: apt-get install debootstrap"

mirror=${MELVANTO_DEBIAN_MIRROR:-http://deb.debian.org/debian}
cache=${MELVANTO_CLEAN_ROOT_CACHE:-/var/cache/melvanto-clean-root}
arch=$(dpkg --print-architecture)
tarball=$cache/bookworm-minbase-$arch.tgz

# The package, as README's install part makes it.
echo "== building the package (build/release), as README's install part does"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMELVANTO_BUILD_TESTS=OFF \
  -DMELVANTO_BUILD_BENCH=OFF >/dev/null
cmake --build build/release -j "${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
rm -f build/release/melvanto_*.deb
(cd build/release && cpack -G DEB >/dev/null)
deb=build/release/melvanto_${version}_${arch}.deb
[ -f "$deb" ] || fail "cpack made no $deb"
# The package's fields and files, against this machine's libraries.
bash tests/package/debian_package_test.sh build/release "$version"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
echo "Recommends: $(dpkg-deb -f "$deb" Recommends)"

scratch=$(mktemp -d /var/tmp/melvanto-clean-root.XXXXXX)
root=$scratch/root
mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -R "${mounted[i]}" || umount -R -l "${mounted[i]}" || true
  done
  # Never delete through a mount that is still there (the host's /dev or /proc).
  if findmnt -rno TARGET | grep -q "^$root/"; then
    echo "left $scratch: something is still mounted below it" >&2
  elif [ "${MELVANTO_KEEP_ROOT:-0}" = 1 ]; then
    echo "root kept: $root"
  else
    rm -rf --one-file-system "$scratch"
  fi
}
trap cleanup EXIT

echo "== a clean bookworm root (minbase) in $root"
if [ ! -s "$tarball" ]; then
  mkdir -p "$cache"
  echo "+ debootstrap --variant=minbase --make-tarball=$tarball bookworm ... $mirror"
  debootstrap --variant=minbase --make-tarball="$tarball.part" bookworm "$scratch/download" "$mirror"
  mv "$tarball.part" "$tarball"
  rm -rf "$scratch/download"
fi
echo "+ debootstrap --variant=minbase --unpack-tarball=$tarball bookworm $root"
debootstrap --variant=minbase --unpack-tarball="$(realpath "$tarball")" bookworm "$root" "$mirror" >"$scratch/debootstrap.log" 2>&1 || {
  tail -n 30 "$scratch/debootstrap.log" >&2
  fail "debootstrap"
}
security=${mirror%/debian}/debian-security
cat >"$root/etc/apt/sources.list" <<SOURCES
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
SOURCES
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc" && mounted+=("$root/proc")
# /dev with its /dev/pts (apt's log wants a terminal); slave, so nothing mounted below it
# reaches the host's.
mount --rbind /dev "$root/dev" && mounted+=("$root/dev")
mount --make-rslave "$root/dev"
# Downloaded packages are kept with the tarball, so a rerun fetches only what changed.
mkdir -p "$cache/archives/partial"
mount --bind "$cache/archives" "$root/var/cache/apt/archives" && mounted+=("$root/var/cache/apt/archives")
cp "$deb" "$root/tmp/"
chmod 644 "$root/tmp/$(basename "$deb")"

in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
echo "== in the root: $(cat "$root/etc/debian_version"), $(in_root dpkg-query -f '.' -W | wc -c) packages"
# apt's own progress is left out; what it installs is kept.
install="apt-get install -y -q"
[ "${MELVANTO_NO_RECOMMENDS:-0}" = 1 ] && install="$install --no-install-recommends"
echo "+ apt-get update && $install ./$(basename "$deb")"
# Only apt's summary and its complaints are shown.
in_root sh -c "apt-get update -q >/dev/null && cd /tmp && $install ./melvanto_*.deb" 2>&1 |
  grep -E '^([0-9]+ upgraded|Need to get|After this|Setting up melvanto|W:|E:)'
in_root dpkg-query -W melvanto
echo "+ useradd -m -s /bin/sh listener"
in_root useradd -m -s /bin/sh listener

# As the new user; every command is echoed (set -x) with its output.
cat >"$root/tmp/as_user.sh" <<'USER'
set -eu
cd "$HOME"
le() { # N as $2 little-endian bytes
  n=$1 i=0
  while [ "$i" -lt "$2" ]; do printf "\\$(printf %03o $((n % 256)))"; n=$((n / 256)); i=$((i + 1)); done
}
set -x
melvanto-cli --version >version.txt
cat version.txt
! grep 'not found' version.txt
set +x
echo '+ tone.wav: a 44-byte header by printf, then head -c 176400 /dev/urandom'
# One second of noise, 44.1 kHz 16-bit stereo.
bytes=176400
{ printf 'RIFF'; le $((bytes + 36)) 4; printf 'WAVEfmt '; le 16 4; le 1 2; le 2 2; le 44100 4
  le 176400 4; le 4 2; le 16 2; printf 'data'; le $bytes 4; head -c $bytes /dev/urandom; } >tone.wav
set -x
ls -l tone.wav
melvanto-cli info tone.wav
# The output folder does not exist yet: convert makes it.
melvanto-cli convert wav-mp3 -o ~/out/new/folder tone.wav
test -s ~/out/new/folder/tone.mp3
ls -l ~/out/new/folder
melvanto-cli info ~/out/new/folder/tone.mp3
if command -v man >/dev/null; then man -w melvanto-cli; else ls -l /usr/share/man/man1/melvanto-cli.1.gz; fi
status=0
QT_QPA_PLATFORM=offscreen timeout 5 melvanto || status=$?
echo "melvanto: status $status"
test "$status" = 124
command -v xdg-open || echo 'no xdg-open: Show Files and the web links will do nothing'
USER
echo "== as the user listener"
in_root chroot --userspec=listener:listener / env HOME=/home/listener sh /tmp/as_user.sh 2>&1 |
  sed 's/^/    /'
# pipefail: the user's script failing fails this one.

echo "== libraries of both programs (ldd)"
for program in melvanto melvanto-cli; do
  # ldd lives in libc-bin; the loader's trace does the same where it is missing.
  libs=$(in_root sh -c "command -v ldd >/dev/null && ldd /usr/bin/$program || LD_TRACE_LOADED_OBJECTS=1 /usr/bin/$program")
  echo "$program: $(wc -l <<<"$libs") libraries, among them:"
  grep -E 'libQt6|libav|libsw|libtag|libmp3lame' <<<"$libs" | sed 's/^\s*/    /'
  ! grep 'not found' <<<"$libs" || fail "$program: a library is not found"
done

echo "== removing"
echo "+ apt-get remove -y melvanto"
in_root apt-get remove -y -q melvanto | grep -E '^(Removing|The following)' || true
for program in melvanto melvanto-cli; do
  [ ! -e "$root/usr/bin/$program" ] || fail "/usr/bin/$program is still there"
done
state=$(in_root dpkg-query -W -f "\${db:Status-Abbrev}" melvanto 2>/dev/null || true)
[[ $state != ii* ]] || fail "melvanto is still installed"
echo "removed: /usr/bin/melvanto and /usr/bin/melvanto-cli are gone"
echo "PASS: the package installs, works and is removed on a clean Debian $(cat "$root/etc/debian_version")"
