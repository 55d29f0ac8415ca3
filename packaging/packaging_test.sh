#!/usr/bin/env bash
# Checks the device rule, its install script, the desktop entry, the release
# archive and the system install layout: what can be checked without a seat, a
# desktop or root.
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
# One flat folder: nothing of the system layout (bin/, share/) in it.
unexpected=$(grep / "$work/listing" | grep -v '^screenshots/' | grep -vx '' || true)
[ -z "$unexpected" ] || fail "the archive is not one flat folder: $unexpected"
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
  grep -qx "Exec=\"$work/$top/quillon\" %f" "$entry" || fail "the installed entry does not start this folder's updater"
  [ -f "$work/home/.local/share/icons/hicolor/scalable/apps/quillon.svg" ] || fail "icon not installed"
  if command -v desktop-file-validate > /dev/null; then desktop-file-validate "$entry" || fail "installed entry"; fi
fi
# --- The system layout: `cmake --install` with a prefix, and with DESTDIR as a
# distribution's package build runs it, installs exactly these files.
built() { [[ ";$programs;" == *";$1;"* ]]; }
expected_files() {  # relative to the install prefix
  local program
  for program in ${programs//;/ }; do echo "bin/$program"; done
  for program in quillon-cli vfwtool; do
    if built "$program"; then echo "share/bash-completion/completions/$program"; fi
  done
  echo lib/udev/rules.d/70-quillon-monitors.rules
  echo share/applications/quillon.desktop
  echo share/icons/hicolor/scalable/apps/quillon.svg
  echo share/mime/packages/quillon.xml
  echo share/metainfo/org.quillon.Quillon.metainfo.xml
  echo share/doc/quillon/README.md
  echo share/doc/quillon/user-guide.md
  (cd "$src/../docs" && find screenshots -type f) | sed 's|^|share/doc/quillon/|'
}
check_layout() {  # PREFIX: the files installed there, against those expected
  local prefix=$1 f
  diff -u <(expected_files | sort) <(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort) ||
    fail "the files installed in $prefix differ from the layout expected (- expected, + installed)"
  for f in ${programs//;/ }; do [ -x "$prefix/bin/$f" ] || fail "bin/$f is not executable"; done
  f=$(cd "$prefix" && find . -type f ! -path './bin/*' ! -perm 644)
  [ -z "$f" ] || fail "data files not of mode 644: $f"
}
(umask 022 && cmake --install "$build" --prefix "$work/prefix" > "$work/install.log") || { cat "$work/install.log"; fail "cmake --install"; }
check_layout "$work/prefix"
(umask 022 && DESTDIR="$work/root" cmake --install "$build" --prefix /usr > "$work/install.log") || { cat "$work/install.log"; fail "cmake --install with DESTDIR"; }
[ "$(ls -A "$work/root")" = usr ] || fail "cmake --install --prefix /usr wrote outside /usr: $(ls -A "$work/root")"
check_layout "$work/root/usr"
# What a software centre reads from the installed tree: the metainfo, and the entry it launches.
appstreamcli validate-tree --no-net "$work/root" > "$work/validate.log" 2>&1 || { cat "$work/validate.log"; fail "appstreamcli validate-tree"; }
echo "packaging: rule, scripts, archive ($(wc -l < "$work/listing") entries) and system layout checked"
