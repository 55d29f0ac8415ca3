#!/usr/bin/env bash
# Adds Quillon to the desktop's application menu for this user: writes a
# desktop entry that starts the updater in this folder, and its icon. With
# --remove, takes them away again. Needs no root.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
data="${XDG_DATA_HOME:-$HOME/.local/share}"
entry="$data/applications/quillon.desktop"
icon="$data/icons/hicolor/scalable/apps/quillon.svg"

case "${1:-}" in
  "") ;;
  --remove)
    rm -f "$entry" "$icon"
    echo "Removed $entry and $icon."
    exit 0 ;;
  *) echo "usage: $0 [--remove]" >&2; exit 2 ;;
esac

[ -x "$here/quillon" ] || { echo "The updater is missing beside this script ($here/quillon)." >&2; exit 1; }
mkdir -p "$(dirname "$entry")" "$(dirname "$icon")"
cp "$here/quillon.svg" "$icon"
# The entry names this folder's updater by its full path, keeping the file it is given (%f).
sed -e "s|^Exec=quillon |Exec=\"$here/quillon\" |" "$here/quillon.desktop" > "$entry.tmp"
mv "$entry.tmp" "$entry"
echo "Added Quillon to the application menu ($entry)."
echo "Put the update file (.vfw) into $here before you start it."
