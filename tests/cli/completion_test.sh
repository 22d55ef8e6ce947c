#!/usr/bin/env bash
# The bash completions of melvanto-cli and melvanto, called as bash calls them: the words of
# the command line in COMP_WORDS, the word being completed in COMP_CWORD.
# Usage: completion_test.sh SOURCE_DIR MELVANTO_CLI
set -uo pipefail

source_dir=$(cd "$1" && pwd)
cli=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

library=/usr/share/bash-completion/bash_completion
if [ ! -f "$library" ]; then
  [ "${MELVANTO_REQUIRE_TOOLS:-0}" = 1 ] && { echo "FAIL: bash-completion is missing" >&2; exit 1; }
  echo "SKIP: $library is missing (package bash-completion)"
  exit 77
fi
# shellcheck disable=SC1090
source "$library"
source "$source_dir/data/completions/melvanto-cli"
source "$source_dir/data/completions/melvanto"
# Outside a real completion bash refuses compopt; what it would set is not looked at here.
compopt() { :; }

# Prints the candidates for the command line given as words, the last one being completed.
candidates() {
  local function=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  # Bash splits "--output=DIR" at the "=" into three words; the line itself has no spaces there.
  COMP_LINE=${COMP_WORDS[0]}
  local i
  for ((i = 1; i < ${#COMP_WORDS[@]}; i++)); do
    if [ "${COMP_WORDS[i]}" = "=" ] || [ "${COMP_WORDS[i - 1]}" = "=" ]; then
      COMP_LINE+=${COMP_WORDS[i]}
    else
      COMP_LINE+=" ${COMP_WORDS[i]}"
    fi
  done
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]:-}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

# expect "WANTED ..." FUNCTION WORDS...: the candidates are exactly the wanted ones.
expect() {
  local wanted
  wanted=$(tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort)
  shift
  local got
  got=$(candidates "$@")
  [ "$got" = "$wanted" ] || fail "'${*:2}': got [$(tr '\n' ' ' <<<"$got")], wanted [$(tr '\n' ' ' <<<"$wanted")]"
}

# includes "WANTED ..." FUNCTION WORDS...: each wanted one is among the candidates.
includes() {
  local got
  got=$(candidates "${@:2}")
  local word
  for word in $1; do
    grep -qxF -- "$word" <<<"$got" || fail "'${*:3}': $word is not offered (got [$(tr '\n' ' ' <<<"$got")])"
  done
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
touch a.wav LOUD.WAV b.mp3 c.wma notes.txt
mkdir albums

# Commands, then directions.
expect "convert info stream codecs genres --help --version" _melvanto_cli melvanto-cli ""
expect "codecs convert" _melvanto_cli melvanto-cli co
expect "wav-mp3 wav-wma mp3-wav wma-wav mp3-wma wma-mp3 wav-wav --help" _melvanto_cli melvanto-cli convert ""
expect "wma-wav wma-mp3" _melvanto_cli melvanto-cli convert wma

# Inputs by the direction's source format (either letter case), and folders to search.
expect "a.wav LOUD.WAV albums" _melvanto_cli melvanto-cli convert wav-mp3 ""
expect "b.mp3 albums" _melvanto_cli melvanto-cli convert mp3-wma -q ""
expect "c.wma albums" _melvanto_cli melvanto-cli convert 10 ""
expect "a.wav LOUD.WAV albums" _melvanto_cli melvanto-cli convert 11 a.wav ""
expect "a.wav b.mp3 c.wma LOUD.WAV albums" _melvanto_cli melvanto-cli info ""
expect "a.wav b.mp3 c.wma LOUD.WAV albums" _melvanto_cli melvanto-cli stream --loop ""
expect "a.wav b.mp3 c.wma LOUD.WAV albums" _melvanto _melvanto ""

# Option values: a folder for -o (also as --output=), the fixed choices, nothing for free text.
expect "albums" _melvanto_cli melvanto-cli convert wav-mp3 -o ""
expect "albums" _melvanto_cli melvanto-cli convert wav-mp3 --output = ""
expect "stereo joint dual mono" _melvanto_cli melvanto-cli convert wav-mp3 --mp3-mode ""
expect "128" _melvanto_cli melvanto-cli convert wav-mp3 --mp3-cbr 12
expect "pcm ima-adpcm" _melvanto_cli melvanto-cli convert wav-wav --wav-type ""
expect "" _melvanto_cli melvanto-cli convert wav-mp3 --artist ""
expect "" _melvanto_cli melvanto-cli stream --port ""
expect "{track} {track:02} {title}" _melvanto_cli melvanto-cli convert wav-mp3 --name "{t"
# Genre names come from the program itself, spaces and all.
includes "Blues Bluegrass" _melvanto_cli "$cli" convert wav-mp3 --genre Blu
candidates _melvanto_cli "$cli" convert wav-mp3 --genre Cla | grep -qx "Classic Rock" ||
  fail "the genre 'Classic Rock' is not offered whole"

# Every option the built program's help lists (on its option lines, leaving out commands it
# quotes) is offered after a dash.
for command in convert info codecs genres; do
  options=$("$cli" "$command" --help | grep -E '^(usage:|[[:space:]]+-)' | sed "s/'[^']*'//g" |
    grep -oE -- '(^|[ ,(\[])--[a-z][a-z0-9-]*' | sed -E 's/^[ ,(\[]//' | sort -u)
  options+=" --help"
  words=(melvanto-cli "$command")
  [ "$command" = convert ] && words+=(wav-mp3)
  includes "$options" _melvanto_cli "${words[@]}" --
done
includes "--port --bind --max-clients --loop --wma-codec --wma-format --wma-vbr" _melvanto_cli melvanto-cli stream --

if ((failures > 0)); then
  echo "$failures completion checks failed" >&2
  exit 1
fi
echo "completion test passed"
