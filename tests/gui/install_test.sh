#!/usr/bin/env bash
# cmake --install into a temporary prefix, then checks what a desktop and a new user see: the
# programs in bin, the menu entry, the icon, the seed settings, and that the installed
# programs copy the seed for a new user and write into the user's music folder, never beside
# themselves. Usage: install_test.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

for program in src/gui/melvanto src/cli/melvanto-cli; do
  if [ ! -x "$build/$program" ]; then
    # A build of some targets only (the sanitizer builds) has nothing to install.
    echo "SKIP: $build/$program is not built"
    exit 77
  fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || {
  cat "$tmp/install.log" >&2
  fail "cmake --install"
}

# The files, where the freedesktop conventions put them.
for file in bin/melvanto bin/melvanto-cli; do
  [ -x "$prefix/$file" ] || fail "$file is not an installed program"
done
desktop=$prefix/share/applications/melvanto.desktop
icon=$prefix/share/icons/hicolor/scalable/apps/melvanto.svg
seed=$prefix/share/melvanto/options.ini
for file in "$desktop" "$icon" "$seed"; do
  [ -s "$file" ] || fail "$file is missing or empty"
done
cmp -s "$icon" "$source_dir/src/gui/images/icon.svg" || fail "the installed icon is not the program icon"
grep -q '<svg' "$icon" || fail "the icon is not an SVG image"

# The menu entry: what a launcher reads from it.
entry_value() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(head -n 1 "$desktop")" = "[Desktop Entry]" ] || fail "the entry does not start with [Desktop Entry]"
[ "$(entry_value Type)" = Application ] || fail "Type is not Application"
[ "$(entry_value Name)" = Melvanto ] || fail "Name is not Melvanto"
# %F: a file manager's "Open With" hands the chosen files (any number) to the program.
[ "$(entry_value Exec)" = "melvanto %F" ] || fail "Exec is not 'melvanto %F'"
[ "$(entry_value TryExec)" = melvanto ] || fail "TryExec is not melvanto"
for type in audio/x-wav audio/mpeg audio/x-ms-wma; do
  case ";$(entry_value MimeType)" in
    *";$type;"*) ;;
    *) fail "MimeType lacks $type" ;;
  esac
done
[ "$(entry_value Icon)" = melvanto ] || fail "Icon is not melvanto"
for category in AudioVideo Audio Qt; do
  case ";$(entry_value Categories)" in
    *";$category;"*) ;;
    *) fail "Categories lacks $category" ;;
  esac
done
if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the entry"
elif [ "${MELVANTO_REQUIRE_TOOLS:-0}" = 1 ]; then
  fail "desktop-file-validate is missing (package desktop-file-utils)"
else
  echo "note: desktop-file-validate not found (package desktop-file-utils); entry checked by hand only"
fi

# The manual pages (readable by man) and the completions, where man and bash-completion look.
for page in melvanto melvanto-cli; do
  file=$prefix/share/man/man1/$page.1.gz
  [ -s "$file" ] || fail "$file is missing"
  gzip -dc "$file" | cmp -s - "$source_dir/doc/$page.1" || fail "$file is not doc/$page.1"
  if command -v man >/dev/null 2>&1; then
    MANPATH=$prefix/share/man man -w "$page" 2>/dev/null | grep -qxF "$file" || fail "man does not find $page in the prefix"
  fi
  completion=$prefix/share/bash-completion/completions/$page
  cmp -s "$completion" "$source_dir/data/completions/$page" || fail "$completion is not data/completions/$page"
done

# The seed must leave the output folder to the program.
grep -qi '^[[:space:]]*OutputFolder[[:space:]]*=' "$seed" && fail "the seed names an output folder"

version=$("$prefix/bin/melvanto-cli" --version) || fail "melvanto-cli --version"
case "$version" in
  "melvanto-cli "[0-9]*) ;;
  *) fail "melvanto-cli --version said: $version" ;;
esac

# A tiny WAV: 8 kHz mono 16-bit, 0.1 s of silence.
wav() {
  local frames=800 bytes=1600
  le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }
  {
    printf 'RIFF'; le32 $((36 + bytes)); printf 'WAVEfmt '
    le32 16; printf '\x01\x00\x01\x00'; le32 8000; le32 16000; printf '\x02\x00\x10\x00'
    printf 'data'; le32 $bytes
    head -c $bytes /dev/zero
  } >"$1"
  [ "$(stat -c %s "$1")" = $((44 + bytes)) ] || fail "could not write the sample WAV ($frames frames)"
}

# A new user: no settings yet, a home of their own, no user-dirs.dirs (music is ~/Music).
export HOME=$tmp/home
export XDG_CONFIG_HOME=$tmp/config
unset XDG_MUSIC_DIR
mkdir -p "$HOME" "$tmp/in"
wav "$tmp/in/take.wav"
( cd "$tmp" && "$prefix/bin/melvanto-cli" convert wav-wav -q "$tmp/in/take.wav" ) ||
  fail "the installed melvanto-cli could not convert a WAV for a new user"
user_ini=$XDG_CONFIG_HOME/Quorvane/Melvanto/options.ini
[ -f "$user_ini" ] || fail "the seed was not copied to $user_ini"
cmp -s "$user_ini" "$seed" || fail "$user_ini is not the seed"
[ -s "$HOME/Music/Melvanto/take.wav" ] || fail "no output in the music folder ($HOME/Music/Melvanto)"
[ ! -e "$prefix/bin/Output" ] || fail "an Output folder appeared beside the installed program"
[ -z "$(find "$prefix/bin" -name '*.wav')" ] || fail "an output landed in the bin folder"

# The music folder is the XDG one when the user named another.
mkdir -p "$HOME/Tunes"
echo 'XDG_MUSIC_DIR="$HOME/Tunes"' >"$XDG_CONFIG_HOME/user-dirs.dirs"
"$prefix/bin/melvanto-cli" convert wav-wav -q "$tmp/in/take.wav" || fail "second conversion"
[ -s "$HOME/Tunes/Melvanto/take.wav" ] || fail "the XDG music folder (user-dirs.dirs) was not used"

# The seed's values are what a new user starts with: a seed asking for outputs beside their
# inputs puts the output there, which only holds when the program read the installed seed.
sed -i 's/^SameAsInputFolder=.*/SameAsInputFolder=1/' "$seed"
grep -q '^SameAsInputFolder=1' "$seed" || fail "could not edit the installed seed"
export XDG_CONFIG_HOME=$tmp/config2
mkdir -p "$tmp/beside"
wav "$tmp/beside/take.wav"
"$prefix/bin/melvanto-cli" convert wav-mp3 -q "$tmp/beside/take.wav" || fail "conversion with the edited seed"
cmp -s "$XDG_CONFIG_HOME/Quorvane/Melvanto/options.ini" "$seed" || fail "the edited seed was not copied"
[ -s "$tmp/beside/take.mp3" ] || fail "the seed's SameAsInputFolder=1 did not put the output beside its input"
[ ! -e "$HOME/Tunes/Melvanto/take.mp3" ] || fail "the output went to the music folder despite the seed"
echo "install test passed: $prefix"
