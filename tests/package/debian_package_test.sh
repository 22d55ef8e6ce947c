#!/usr/bin/env bash
# cpack -G DEB from the build tree: the package's name, control fields and files, and that its
# Depends names the packages holding the libraries the programs load by name at run time,
# and Recommends the one that opens folders.
# With MELVANTO_DEB_INSTALL_TEST=1 the package is also unpacked into a scratch root and its
# melvanto-cli run from there.
# Usage: debian_package_test.sh BUILD_DIR VERSION
set -euo pipefail

build=$(cd "$1" && pwd)
version=$2
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
skip() {
  [ "${MELVANTO_REQUIRE_TOOLS:-0}" = 1 ] && fail "$*"
  echo "SKIP: $*"
  exit 77
}

for program in src/gui/melvanto src/cli/melvanto-cli; do
  # A build of some targets only (the sanitizer builds) has nothing to package.
  [ -x "$build/$program" ] || { echo "SKIP: $build/$program is not built"; exit 77; }
done
for tool in cpack dpkg-deb dpkg-shlibdeps dpkg; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is missing (scripts/deps.sh installs it)"
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out") >"$tmp/cpack.log" 2>&1 || {
  cat "$tmp/cpack.log" >&2
  fail "cpack -G DEB"
}
arch=$(dpkg --print-architecture)
deb=$tmp/out/melvanto_${version}_${arch}.deb
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$tmp/out")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = melvanto ] || fail "Package is $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version is $(field Version), not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is $(field Architecture)"
[ "$(field Section)" = sound ] || fail "Section is $(field Section)"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer is not 'Name <address>': $(field Maintainer)"
[ -n "$(field Description)" ] || fail "no Description"
[ "$(field Description | wc -l)" -gt 2 ] || fail "the Description has no long text"

# Depends: one package per entry, with the linked libraries' packages from dpkg-shlibdeps.
depends=$(field Depends | tr ',' '\n' | sed -E 's/^ +//; s/ .*//')
has_depend() { grep -qxF "$1" <<<"$depends"; }
for linked in libc6 libstdc++6 libqt6widgets6 libqt6core6; do
  has_depend "$linked" || fail "Depends lacks $linked: $(field Depends)"
done
grep -qE '^libavcodec[0-9]+$' <<<"$depends" || fail "Depends lacks libavcodec: $(field Depends)"

# The libraries loaded by name: every soname the programs hold as text must be provided by a
# package in Depends (so a renamed library or package shows here, not on a user's machine).
sonames=$(grep -aohE 'lib[a-z0-9_]+\.so\.[0-9]+' "$build/src/cli/melvanto-cli" "$build/src/gui/melvanto" |
  sort -u | grep -vE '^lib(c|m|stdc\+\+|gcc_s)\.so' || true)
grep -qx 'libmp3lame.so.0' <<<"$sonames" || fail "libmp3lame.so.0 not found in melvanto-cli: $sonames"
grep -qx 'libtag_c.so.0' <<<"$sonames" || fail "libtag_c.so.0 not found in melvanto-cli: $sonames"
for soname in $sonames; do
  owner=$(dpkg -S "*/$soname" 2>/dev/null | head -n 1 | cut -d: -f1) || true
  [ -n "$owner" ] || fail "no installed package provides $soname"
  has_depend "$owner" || fail "$soname comes from $owner, which Depends lacks: $(field Depends)"
done

# Folders and links open through xdg-open, not in a minimal system.
field Recommends | tr ',' '\n' | sed -E 's/^ +//; s/ .*//' | grep -qxF xdg-utils ||
  fail "Recommends lacks xdg-utils: $(field Recommends)"

# The files.
files=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|')
for file in /usr/bin/melvanto /usr/bin/melvanto-cli \
  /usr/share/man/man1/melvanto.1.gz /usr/share/man/man1/melvanto-cli.1.gz \
  /usr/share/bash-completion/completions/melvanto /usr/share/bash-completion/completions/melvanto-cli \
  /usr/share/applications/melvanto.desktop /usr/share/icons/hicolor/scalable/apps/melvanto.svg \
  /usr/share/melvanto/options.ini /usr/share/doc/melvanto/copyright; do
  grep -qxF "$file" <<<"$files" || fail "the package lacks $file"
done
[ -z "$(grep -vE '^/usr/' <<<"$files")" ] || fail "files outside /usr: $(grep -vE '^/usr/' <<<"$files")"
dpkg-deb -c "$deb" | grep -E ' \./usr/bin/melvanto(-cli)?$' | grep -q '^-rwxr-xr-x' ||
  fail "the programs are not executable"

if [ "${MELVANTO_DEB_INSTALL_TEST:-0}" = 1 ]; then
  root=$tmp/root
  dpkg -x "$deb" "$root"
  "$root/usr/bin/melvanto-cli" --version | tee "$tmp/version.txt"
  grep -qE "^melvanto-cli $version \(built [0-9]{8}\)$" <(head -n 1 "$tmp/version.txt") || fail "--version from the package"
  grep -q "not found" "$tmp/version.txt" && fail "a library is not found by the unpacked program"
  if command -v sox >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1; then
    export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config
    mkdir -p "$HOME" "$tmp/music"
    sox -n -r 44100 -c 2 -b 16 "$tmp/music/tone.wav" synth 1 sine 440
    "$root/usr/bin/melvanto-cli" convert wav-mp3 -q -o "$tmp/music" "$tmp/music/tone.wav" || fail "convert from the package"
    [ "$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$tmp/music/tone.mp3")" = mp3 ] ||
      fail "the unpacked program's MP3 is not one to ffprobe"
    # The seed comes from the package's share folder beside its bin.
    cmp -s "$XDG_CONFIG_HOME/Quorvane/Melvanto/options.ini" "$root/usr/share/melvanto/options.ini" ||
      fail "the unpacked program did not copy the packaged seed settings"
  fi
  echo "unpacked and ran: $root"
fi
echo "package checked: $(basename "$deb"), Depends: $(field Depends)"
