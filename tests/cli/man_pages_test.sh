#!/usr/bin/env bash
# The manual pages: groff finds nothing to warn about, and melvanto-cli(1) covers every
# command and option the built program's help lists, and the settings path it names.
# Usage: man_pages_test.sh SOURCE_DIR MELVANTO_CLI
set -euo pipefail

source_dir=$1
cli=$2
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
if ! command -v groff >/dev/null 2>&1; then
  [ "${MELVANTO_REQUIRE_TOOLS:-0}" = 1 ] && fail "groff is missing"
  echo "SKIP: groff is not installed"
  exit 77
fi

for page in "$source_dir"/doc/melvanto.1 "$source_dir"/doc/melvanto-cli.1; do
  warnings=$(groff -man -ww -z "$page" 2>&1) || fail "groff failed on $page"
  [ -z "$warnings" ] || fail "groff warns about $page: $warnings"
done

# The page's text with roff's escaped hyphens made plain, as a reader sees the names.
page=$(sed 's/\\-/-/g' "$source_dir/doc/melvanto-cli.1")
in_page() { grep -qF -- "$1" <<<"$page"; }

help=$("$cli" --help)
commands=$(sed -n '/^commands:/,/^$/p' <<<"$help" | sed -nE 's/^  ([a-z]+)( .*)?$/\1/p')
[ -n "$commands" ] || fail "no commands found in --help"
texts=$help
for command in $commands; do
  in_page ".B $command" || in_page ".BR $command" || in_page ".BI \"$command " ||
    fail "the page does not describe the command $command"
  texts+=$'\n'$("$cli" "$command" --help)
done
options=$(grep -oE -- '(^|[ ,(])--?[a-z][a-z0-9-]*' <<<"$texts" | sed -E 's/^[ ,(]//' | sort -u)
[ "$(wc -l <<<"$options")" -gt 20 ] || fail "too few options found in the help texts: $options"
for option in $options; do
  in_page "$option" || fail "the page does not name the option $option"
done

# The settings path the program reports, under the page's FILES.
settings=$(XDG_CONFIG_HOME=/nonexistent/config "$cli" --help | sed -n 's/^settings file: //p')
[ -n "$settings" ] || fail "--help names no settings file"
in_page "${settings/\/nonexistent\/config/\$XDG_CONFIG_HOME}" || fail "the page does not name $settings"
echo "manual pages checked: $(wc -w <<<"$commands") commands, $(wc -l <<<"$options") options"
