#!/usr/bin/env bash
# Checks the device rule, its install script, the desktop entry and the release
# archive: what can be checked without a seat, a desktop or root.
set -euo pipefail
src="$1"; build="$2"; archive="$3"; programs="$4"  # the programs built, ";"-separated
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# --- The rule: hidraw nodes of the three vendors, lower-case ids, uaccess, before 73-seat-late.
rule="$src/70-quillon-monitors.rules"
vendors=()
while IFS= read -r line; do
  case "$line" in ''|'#'*) continue ;; esac
  [[ "$line" =~ ^SUBSYSTEM==\"hidraw\",\ ATTRS\{idVendor\}==\"([0-9a-f]{4})\",\ TAG\+=\"uaccess\"$ ]] ||
    fail "rule line not of the expected form: $line"
  vendors+=("${BASH_REMATCH[1]}")
done < "$rule"
[ "$(printf '%s\n' "${vendors[@]}" | sort | tr '\n' ' ')" = "7e51 7e52 7e53 " ] || fail "vendors: ${vendors[*]}"
[[ "$(basename "$rule")" < "73-seat-late.rules" ]] || fail "the rule is read after 73-seat-late.rules"
if udevadm --help 2>/dev/null | grep -q '^  verify'; then udevadm verify "$rule" >/dev/null || fail "udevadm verify"; fi

# --- The rule's install script, into a folder of the test's own.
rules="$work/rules.d"
QUILLON_UDEV_RULES_DIR="$rules" bash "$src/install-udev-rule.sh" > "$work/out" || fail "install-udev-rule.sh"
cmp -s "$rule" "$rules/70-quillon-monitors.rules" || fail "the installed rule differs"
[ "$(stat -c %a "$rules/70-quillon-monitors.rules")" = 644 ] || fail "rule mode"
grep -q "7e51, 7e52 and 7e53" "$work/out" || fail "the script does not say what it does"
QUILLON_UDEV_RULES_DIR="$rules" bash "$src/install-udev-rule.sh" --remove > /dev/null || fail "--remove"
[ ! -e "$rules/70-quillon-monitors.rules" ] || fail "--remove left the rule"
set +e
QUILLON_UDEV_RULES_DIR="$rules" bash "$src/install-udev-rule.sh" --bogus 2> /dev/null
[ $? -eq 2 ] || fail "a wrong argument is not refused with 2"
set -e

# --- The desktop entry.
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$src/quillon.desktop" || fail "desktop entry"
fi

# --- The release archive: the updater's folder, whole.
cmake --build "$build" --target release > "$work/release.log" 2>&1 || { cat "$work/release.log"; fail "release target"; }
[ -f "$archive" ] || fail "no archive at $archive"
top="$(basename "$archive" .tar.gz)"
tar -tzf "$archive" | sed "s|^$top/||" | sort > "$work/listing"
for f in ${programs//;/ } 70-quillon-monitors.rules install-udev-rule.sh install-desktop-entry.sh \
         quillon.desktop quillon.svg README.md user-guide.md; do
  grep -qx "$f" "$work/listing" || fail "the archive lacks $f"
done
tar -xzf "$archive" -C "$work"
for p in ${programs//;/ } install-udev-rule.sh install-desktop-entry.sh; do
  [ -x "$work/$top/$p" ] || fail "$p is not executable in the archive"
done
"$work/$top/vfwtool" --help > /dev/null 2>&1 || [ $? -eq 2 ] || fail "vfwtool from the archive does not run"
if [ -e "$work/$top/quillon-cli" ]; then
  "$work/$top/quillon-cli" --version | grep -q '^quillon-cli [0-9]' || fail "quillon-cli from the archive does not run"
fi
if [ -e "$work/$top/quillon" ]; then
  HOME="$work/home" XDG_DATA_HOME= bash "$work/$top/install-desktop-entry.sh" > /dev/null || fail "install-desktop-entry.sh"
  entry="$work/home/.local/share/applications/quillon.desktop"
  grep -qx "Exec=\"$work/$top/quillon\"" "$entry" || fail "the installed entry does not start this folder's updater"
  [ -f "$work/home/.local/share/icons/hicolor/scalable/apps/quillon.svg" ] || fail "icon not installed"
  if command -v desktop-file-validate > /dev/null; then desktop-file-validate "$entry" || fail "installed entry"; fi
fi
echo "packaging: rule, scripts and archive ($(wc -l < "$work/listing") entries) checked"
