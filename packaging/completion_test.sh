#!/usr/bin/env bash
# The bash completions offer what the programs take: for each command, the
# options of its --help and no other; --package offers firmware packages and
# folders only.
# Usage: completion_test.sh COMPLETION_DIR QUILLON_CLI VFWTOOL
set -uo pipefail
completions=$1 quillon_cli=$2 vfwtool=$3
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

source "$completions/quillon-cli"
source "$completions/vfwtool"

# complete FUNCTION WORD...: what FUNCTION offers for the last word, sorted, one line.
complete_words() {
  local function=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  "$function"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}
# The options named in a help text, sorted, one line (--help itself left out).
options_in() { grep -oE -- '(^|[ [,(])--?[a-zA-Z][a-zA-Z-]*' | sed 's/^[ [,(]//' | grep -vx -- '--help\|-h' | sort -u | tr '\n' ' '; }
expect_same() {  # WHAT EXPECTED GOT
  [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}

for command in list status update history; do
  from_help=$("$quillon_cli" "$command" --help | sed -n '/^  -/p' | options_in)
  [ -n "$from_help" ] || fail "quillon-cli $command --help names no option"
  offered=$(complete_words _quillon_cli quillon-cli "$command" - | tr ' ' '\n' | grep -vx -- '--help\|-h' | grep . | sort | tr '\n' ' ')
  expect_same "quillon-cli $command options" "$from_help" "$offered"
  # Options may come before the command too.
  offered=$(complete_words _quillon_cli quillon-cli --json "$command" - | tr ' ' '\n' | grep -vx -- '--help\|-h' | grep . | sort | tr '\n' ' ')
  expect_same "quillon-cli --json $command options" "$from_help" "$offered"
done
expect_same "quillon-cli commands" "help history list status update " "$(complete_words _quillon_cli quillon-cli '')"
expect_same "quillon-cli after --json" "help history list status update " "$(complete_words _quillon_cli quillon-cli --json '')"
expect_same "quillon-cli help COMMAND" "history list status update " "$(complete_words _quillon_cli quillon-cli help '')"

# Each vfwtool command's options, as its usage block names them.
for command in info check create image extract decrypt; do
  from_help=$("$vfwtool" --help | awk -v c="  vfwtool $command" '
      index($0, c) == 1 { on = 1; print; next }
      on && /^          / { print; next }  # continued: indented past the description
      { on = 0 }' | sed "s/^ *vfwtool $command//" | options_in)
  offered=$(complete_words _vfwtool vfwtool "$command" - | tr ' ' '\n' | grep -vx -- '--help\|-h' | grep . | sort | tr '\n' ' ')
  expect_same "vfwtool $command options" "$from_help" "$offered"
done
expect_same "vfwtool --type" "1 2 3 4 5 6 " "$(complete_words _vfwtool vfwtool extract --type '')"

# --package: packages and folders, nothing else.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/firmware"
touch "$dir/QC27.vfw" "$dir/notes.txt" "$dir/QC27.vfw.bak"
cd "$dir"
expect_same "--package" "QC27.vfw firmware " "$(complete_words _quillon_cli quillon-cli update --package '')"
expect_same "--package after options" "QC27.vfw firmware " "$(complete_words _quillon_cli quillon-cli -y update --package '')"
expect_same "vfwtool info FILE" "QC27.vfw QC27.vfw.bak firmware notes.txt " "$(complete_words _vfwtool vfwtool info '')"

[ "$failures" -eq 0 ] || exit 1
echo "completion: every command's options agree with its --help"
