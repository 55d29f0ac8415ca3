#!/usr/bin/env bash
# Runs the built vfwtool binary through its commands once, to prove that main()
# passes arguments, output and exit codes through. Usage: end_to_end_test.sh VFWTOOL
set -u
tool=$1
dir=$(mktemp -d /tmp/vfwtool-e2e-XXXXXX)
trap 'rm -rf "$dir"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# expect CODE COMMAND...: runs the command with stdout and stderr in $dir/out and $dir/err.
expect() {
  local want=$1
  shift
  "$@" >"$dir/out" 2>"$dir/err"
  local got=$?
  [ "$got" -eq "$want" ] || fail "'$*' exited $got, not $want: $(cat "$dir/err")"
}

key=0000100002000030000400005
printf '123456789' >"$dir/fw.bin"

expect 0 "$tool" create -o "$dir/p.pkg" --model MON27 --version 0000100002000030000400123 \
  --set "$key" --component "2=$dir/fw.bin:30:1"
expect 0 "$tool" check "$dir/p.pkg"
grep -qxF "$dir/p.pkg: package, kind 16, 1 set" "$dir/out" || fail "check printed: $(cat "$dir/out")"
expect 0 "$tool" info "$dir/p.pkg" --json
grep -qF '"components":[{"type":2,"id":"PRG000","length":9,"writeSeconds":30,"attribute":1,"crc32":"cbf43926"}]' \
  "$dir/out" || fail "info printed: $(cat "$dir/out")"
expect 0 "$tool" extract "$dir/p.pkg" --set "$key" --type 2 -o "$dir/x.bin"
cmp -s "$dir/fw.bin" "$dir/x.bin" || fail "extract gave other bytes"
expect 0 "$tool" decrypt "$dir/p.pkg" -o "$dir/payload.bin"
[ "$(od -An -tu1 -N2 "$dir/payload.bin" | tr -s ' ')" = " 16 0" ] || fail "the payload does not start with kind 16"

expect 0 "$tool" --help
grep -q '^usage: vfwtool' "$dir/out" || fail "--help printed no usage"
expect 2 "$tool"
expect 2 "$tool" frobnicate
expect 2 "$tool" create --model MON27
expect 1 "$tool" check "$dir/missing.pkg"
[ "$(wc -l <"$dir/err")" -eq 1 ] || fail "a missing file gave $(wc -l <"$dir/err") lines on stderr"
printf 'not a container' >"$dir/bad.pkg"
expect 1 "$tool" info "$dir/bad.pkg"
grep -q "^$dir/bad.pkg: " "$dir/err" || fail "the fault does not name the file: $(cat "$dir/err")"
# A result that cannot reach stdout is a failure, not a silent success.
if [ -w /dev/full ]; then
  "$tool" info "$dir/p.pkg" >/dev/full 2>/dev/null
  [ $? -eq 1 ] || fail "info to a full stdout did not exit 1"
fi

if [ "$failures" -ne 0 ]; then
  echo "vfwtool end to end: $failures failed" >&2
  exit 1
fi
echo "vfwtool end to end: all passed"
