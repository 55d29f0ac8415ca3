#!/usr/bin/env bash
# Checks the device rule, its install script, the desktop entry, the release
# archive and the system install layout: what can be checked without a seat, a
# desktop or root.
set -euo pipefail
src="$1"; build="$2"; archive="$3"; programs="$4"  # the programs built, ";"-separated
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# --- The rule: hidraw nodes of the three vendors, lower-case ids, uaccess and the group
# quillon, no MODE (udev would then open the node to the group root when quillon does
# not exist), before 73-seat-late.
rule="$src/70-quillon-monitors.rules"
vendors=()
while IFS= read -r line; do
  case "$line" in ''|'#'*) continue ;; esac
  [[ "$line" =~ ^SUBSYSTEM==\"hidraw\",\ ATTRS\{idVendor\}==\"([0-9a-f]{4})\",\ TAG\+=\"uaccess\",\ GROUP=\"quillon\"$ ]] ||
    fail "rule line not of the expected form: $line"
  vendors+=("${BASH_REMATCH[1]}")
done < "$rule"
[ "$(printf '%s\n' "${vendors[@]}" | sort | tr '\n' ' ')" = "7e51 7e52 7e53 " ] || fail "vendors: ${vendors[*]}"
[[ "$(basename "$rule")" < "73-seat-late.rules" ]] || fail "the rule is read after 73-seat-late.rules"
if udevadm --help 2>/dev/null | grep -q '^  verify'; then udevadm verify "$rule" >/dev/null || fail "udevadm verify"; fi

# --- The rule's install script, into a folder of the test's own, with stand-ins for the
# system's group tools (getent reads a group file of the test's own; groupadd and addgroup
# note their call and add the group, or fail). PATH leaves out the real ones in sbin.
# Sets up stand-ins in $work/NAME for a group file holding quillon or not ($2: yes/no) and
# the tools listed ($3: groupadd, addgroup, groupadd:fails).
stand_ins() {
  local bin="$work/$1/bin" tool
  mkdir -p "$bin"
  : > "$work/$1/calls"
  if [ "$2" = yes ]; then echo "quillon:x:990:" > "$work/$1/group"; else : > "$work/$1/group"; fi
  printf '#!/bin/sh\n[ "$1" = group ] && grep -q "^$2:" "%s"\n' "$work/$1/group" > "$bin/getent"
  for tool in $3; do
    case "$tool" in
      *:fails) printf '#!/bin/sh\necho "%s $*" >> "%s"\nexit 9\n' "${tool%:fails}" "$work/$1/calls" > "$bin/${tool%:fails}" ;;
      *) printf '#!/bin/sh\necho "%s $*" >> "%s"\necho "$2:x:990:" >> "%s"\n' "$tool" "$work/$1/calls" "$work/$1/group" > "$bin/$tool" ;;
    esac
  done
  chmod +x "$bin"/*
}
install_rule() {  # NAME [ARG...]: the script with NAME's stand-ins, into $work/NAME/rules.d
  local name="$1"; shift
  PATH="$work/$name/bin:/usr/bin:/bin" QUILLON_UDEV_RULES_DIR="$work/$name/rules.d" \
    "$BASH" "$src/install-udev-rule.sh" "$@"
}
stand_ins plain yes ""
rules="$work/plain/rules.d"
install_rule plain > "$work/out" || fail "install-udev-rule.sh"
cmp -s "$rule" "$rules/70-quillon-monitors.rules" || fail "the installed rule differs"
[ "$(stat -c %a "$rules/70-quillon-monitors.rules")" = 644 ] || fail "rule mode"
grep -q "7e51, 7e52 and 7e53" "$work/out" || fail "the script does not say what it does"
install_rule plain --remove > /dev/null || fail "--remove"
[ ! -e "$rules/70-quillon-monitors.rules" ] || fail "--remove left the rule"
[ "$(cat "$work/plain/group")" = "quillon:x:990:" ] || fail "--remove touched the group"
set +e
install_rule plain --bogus 2> /dev/null
[ $? -eq 2 ] || fail "a wrong argument is not refused with 2"
set -e

# The group quillon: made when missing, with groupadd or else addgroup, before the rule
# that names it; without it the rule is not installed. Each case: whether the group
# exists, the tools there, the call expected, the exit status.
while IFS='|' read -r name exists tools want_call want_status; do
  stand_ins "$name" "$exists" "$tools"
  status=0
  install_rule "$name" > "$work/$name/out" 2>&1 || status=$?
  [ "$status" = "$want_status" ] || fail "group, $name: exit $status, not $want_status: $(cat "$work/$name/out")"
  [ "$(cat "$work/$name/calls")" = "$want_call" ] || fail "group, $name: called '$(cat "$work/$name/calls")', not '$want_call'"
  if [ "$want_status" = 0 ]; then
    grep -qx "quillon:x:990:" "$work/$name/group" || fail "group, $name: no group quillon"
    [ -f "$work/$name/rules.d/70-quillon-monitors.rules" ] || fail "group, $name: no rule"
    grep -qF "sudo usermod -aG quillon USER" "$work/$name/out" || fail "group, $name: does not say how to join the group"
  else
    [ ! -e "$work/$name/rules.d/70-quillon-monitors.rules" ] || fail "group, $name: the rule is installed without its group"
    grep -q "Cannot create the group quillon" "$work/$name/out" || fail "group, $name: does not say why"
  fi
done <<'CASES'
exists|yes|groupadd addgroup||0
groupadd|no|groupadd addgroup|groupadd --system quillon|0
addgroup|no|addgroup|addgroup --system quillon|0
groupadd_fails|no|groupadd:fails addgroup|groupadd --system quillon|1
neither|no|||1
CASES

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
         quillon.desktop quillon.svg quillon-mime.xml README.md user-guide.md; do
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
  # The file manager knows .vfw files, and that the entry opens them.
  grep -qx 'application/x-quillon-firmware:\*\.vfw' <(cut -d: -f2- "$work/home/.local/share/mime/globs2") ||
    fail "the user's MIME database does not know *.vfw"
  grep -q '^application/x-quillon-firmware=.*quillon\.desktop' "$work/home/.local/share/applications/mimeinfo.cache" ||
    fail "the user's desktop database does not open .vfw files with the entry"
  HOME="$work/home" XDG_DATA_HOME= bash "$work/$top/install-desktop-entry.sh" --remove > /dev/null || fail "install-desktop-entry.sh --remove"
  left=$(cd "$work/home/.local/share" && find . -name 'quillon*')
  [ -z "$left" ] || fail "install-desktop-entry.sh --remove left $left"
  ! grep -q 'x-quillon-firmware' "$work/home/.local/share/mime/globs2" || fail "--remove left *.vfw in the MIME database"
fi
# --- The system layout: `cmake --install` with a prefix, and with DESTDIR as a
# distribution's package build runs it, installs exactly these files.
built() { [[ ";$programs;" == *";$1;"* ]]; }
expected_files() {  # relative to the install prefix
  local program
  for program in ${programs//;/ }; do echo "bin/$program"; echo "share/man/man1/$program.1"; done
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
