#!/usr/bin/env bash
# Installs (or, with --remove, removes) the device rule that lets the user at
# the seat, and the members of the group quillon, open the monitors' USB
# connections, and applies it to the devices plugged in now. Makes the group
# when it is missing (--remove keeps it). Needs root: run it with sudo.
set -euo pipefail

rule_name=70-quillon-monitors.rules
group=quillon
here="$(cd "$(dirname "$0")" && pwd)"
# Where udev reads local rules; tests point it elsewhere.
rules_dir="${QUILLON_UDEV_RULES_DIR:-/etc/udev/rules.d}"
source_rule="$here/$rule_name"
[ -f "$source_rule" ] || source_rule="$here/udev/$rule_name"

usage() {
  echo "usage: $0 [--remove]" >&2
  exit 2
}

action=install
case "${1:-}" in
  "") ;;
  --remove) action=remove ;;
  *) usage ;;
esac
[ $# -le 1 ] || usage

if [ -z "${QUILLON_UDEV_RULES_DIR:-}" ] && [ "$(id -u)" -ne 0 ]; then
  echo "This changes the system's device rules: run it as root, for example:" >&2
  echo "  sudo $0 $*" >&2
  exit 1
fi

reload() {
  if command -v udevadm >/dev/null 2>&1 && [ -z "${QUILLON_UDEV_RULES_DIR:-}" ]; then
    echo "Reloading the device rules and applying them to the HID devices plugged in now."
    udevadm control --reload-rules
    udevadm trigger --subsystem-match=hidraw --action=change
  fi
}

# The group must exist before udev reads the rule: udev ignores an unknown group.
ensure_group() {
  getent group "$group" >/dev/null && return 0
  echo "Creating the system group $group, whose members may open the monitors."
  if command -v groupadd >/dev/null 2>&1; then
    groupadd --system "$group"
  elif command -v addgroup >/dev/null 2>&1; then
    addgroup --system "$group"
  else
    echo "Neither groupadd nor addgroup is installed." >&2
    return 1
  fi
}

if [ "$action" = remove ]; then
  if [ -e "$rules_dir/$rule_name" ]; then
    echo "Removing $rules_dir/$rule_name."
    rm -f "$rules_dir/$rule_name"
    reload
  else
    echo "$rules_dir/$rule_name is not installed; nothing to do."
  fi
  echo "The group $group is kept (groupdel $group removes it)."
  exit 0
fi

[ -f "$source_rule" ] || { echo "The rule $rule_name is missing beside this script." >&2; exit 1; }
ensure_group || { echo "Cannot create the group $group; the rule is not installed." >&2; exit 1; }
echo "Installing $rules_dir/$rule_name: the user at the seat and the members of the group"
echo "$group may then open the HID interfaces of monitors with the vendor ids 7e51, 7e52 and 7e53."
install -D -m 0644 "$source_rule" "$rules_dir/$rule_name"
reload
echo "Done. Unplug the monitor's USB cable and plug it in again if the updater still lists no monitor."
echo "To let a user who is not at the seat (logged in over ssh, say) update monitors, add them"
echo "to the group, and they log in again:"
echo "  sudo usermod -aG $group USER"
