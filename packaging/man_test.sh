#!/usr/bin/env bash
# Checks the man pages: each formats without a warning (as lintian checks them)
# and has the sections a user looks for; and each page of a program agrees with
# the program's --help: the same options and commands both ways, every exit code
# and environment variable that --help names.
# Usage: man_test.sh MAN_DIR [PROGRAM...]   (MAN_DIR holds NAME.1 for each page;
#        each PROGRAM is checked against MAN_DIR/$(basename PROGRAM).1)
set -uo pipefail
man_dir=$1
shift
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The page as plain text, on lines long enough that no option is split.
render() { LC_ALL=C groff -t -man -Tascii -P-cbou -rLL=250n -rHY=0 "$1" 2> /dev/null; }
# The part of a rendered page under one heading.
section() { awk -v h="$2" '/^[A-Z]/ { on = ($0 == h); next } on' <<< "$1"; }
# The roff source of one section.
source_section() { awk -v h="$2" '/^\.SH / { s = $0; sub(/^\.SH "?/, "", s); sub(/"$/, "", s); on = (s == h); next } on' "$1"; }
# The options a text names (an option stands after a space, a bracket, a comma, a
# parenthesis or a bar), sorted, one line.
options_in() { grep -oE -- '(^|[ [,(|])--?[a-zA-Z][a-zA-Z0-9-]*' | sed 's/^[ [,(|]//' | sort -u | tr '\n' ' '; }
# The tags of a section's items (the line after each .TP), escapes undone.
tags_of() { source_section "$1" "$2" | awk 'previous == ".TP" { print } { previous = $0 }' | sed 's/\\-/-/g; s/\\f[BIRP]//g; s/"//g'; }
# Without the forms that join a short option to its value or to another option (-oOUT, -yj).
words_except_forms() { tr ' ' '\n' | grep -vxE -- '-[a-zA-Z][a-zA-Z]+' | grep . | sort -u | tr '\n' ' '; }
# The paragraph of the help texts that starts with a line matching a pattern.
paragraph() { awk -v start="$1" '$0 ~ start { on = 1 } on && /^$/ { on = 0 } on' "$work/help"; }
words() { tr ' ' '\n' | grep . | sort -u | tr '\n' ' '; }

for page in "$man_dir"/*.1; do
  name=$(basename "$page" .1)
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "$name.1: man --warnings: $warnings"
  warnings=$(groff -t -man -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "$name.1: groff -ww: $warnings"
  text=$(render "$page")
  for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES "SEE ALSO"; do
    grep -qx "$heading" <<< "$text" || fail "$name.1 has no $heading section"
  done
  grep -q "^       ${name} - " <<< "$(section "$text" NAME)" || fail "$name.1: NAME does not start with \"$name - \""
done

for program in "$@"; do
  name=$(basename "$program")
  page="$man_dir/$name.1"
  [ -f "$page" ] || { fail "$name has no man page"; continue; }
  "$program" --help > "$work/help" 2>&1 || fail "$name --help failed"
  # Commands: "  list      what it does" (a command list) or "  PROGRAM command ..." (usage lines).
  help_commands=$( { sed -nE 's/^  ([a-z]+)  +[^ ].*/\1/p' "$work/help"
                     sed -nE "s/^ *$name ([a-z]+)( .*)?$/\\1/p" "$work/help"; } | words)
  for command in $help_commands; do
    { echo; "$program" "$command" --help; } >> "$work/help" 2>&1 || fail "$name $command --help failed"
  done
  # Every program takes --help and -h (common/command_line_options.h).
  help_options=$( { cat "$work/help"; echo " --help -h"; } | options_in)
  # Each option has its entry under OPTIONS (forms such as -yj and -oOUT aside), and
  # the page names no option --help does not.
  text=$(render "$page")
  entries=$(tags_of "$page" OPTIONS | options_in)
  [ "$(words_except_forms <<< "$help_options")" = "$entries" ] ||
    fail "$name: options of --help [$help_options], entries under OPTIONS [$entries]"
  for option in $(options_in <<< "$text"); do
    [[ " $help_options" == *" $option "* ]] || fail "$name: the man page names $option, which --help does not"
  done
  page_commands=$(source_section "$page" COMMANDS | sed -nE 's/^\.SS +"?([a-z]+).*/\1/p' | words)
  [ "$help_commands" = "$page_commands" ] ||
    fail "$name: commands of --help [$help_commands], of the man page [$page_commands]"

  # Exit codes: "Exit codes: 0 done, 1 failed, ..." in any --help, each one in EXIT STATUS.
  help_codes=$(paragraph 'Exit (codes|status):' | tr '\n' ' ' |
               grep -oE '(codes:|status:|,) [0-9]+' | grep -oE '[0-9]+' | words)
  page_codes=$(source_section "$page" "EXIT STATUS" | sed -nE 's/^\.B ([0-9]+)$/\1/p' | words)
  for code in $help_codes; do
    [[ " $page_codes" == *" $code "* ]] || fail "$name: exit code $code of --help is not in EXIT STATUS [$page_codes]"
  done
  # Environment variables that --help names ($NAME, or a list under "Environment:"
  # alone on its line),
  # each with its entry under ENVIRONMENT.
  environment=" $(tags_of "$page" ENVIRONMENT | grep -oE '[A-Z_][A-Z0-9_]+' | words)"
  for variable in $( { grep -oE '\$[A-Z_][A-Z0-9_]*' "$work/help" | tr -d '$'
                       paragraph '^Environment:$' | grep -oE '^  [A-Z_][A-Z0-9_]*(, [A-Z_][A-Z0-9_]*)*' | tr ',' ' '
                     } | words); do
    [[ "$environment" == *" $variable "* ]] || fail "$name: $variable of --help has no entry under ENVIRONMENT"
  done
  # Files listed under "Files:" alone on its line (a path, two spaces, what it is), each with
  # its entry under FILES.
  files=" $(tags_of "$page" FILES | sed 's/^\.[BI]R* //' | words)"
  for file in $(paragraph '^Files:$' | sed -nE 's/^  ([^ ]+)  .*/\1/p'); do
    [[ "$files" == *" $file "* ]] || fail "$name: $file of --help has no entry under FILES [$files]"
  done
done

[ "$failures" -eq 0 ] || exit 1
echo "man pages: formatted cleanly, and in agreement with --help"
