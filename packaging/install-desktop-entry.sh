#!/usr/bin/env bash
# Adds Quillon to the desktop's application menu for this user: writes a
# desktop entry that starts the updater in this folder, its icon, and the MIME
# type of firmware packages (.vfw), so that the file manager opens them with it.
# With --remove, takes them away again. Needs no root.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
data="${XDG_DATA_HOME:-$HOME/.local/share}"
entry="$data/applications/quillon.desktop"
icon="$data/icons/hicolor/scalable/apps/quillon.svg"
mime_type="$data/mime/packages/quillon.xml"

# The desktop's caches of the MIME types and of the entries that open them.
refresh() {
  if command -v update-mime-database > /dev/null && [ -d "$data/mime/packages" ]; then
    XDG_DATA_HOME="$data" update-mime-database "$data/mime"
  fi
  if command -v update-desktop-database > /dev/null && [ -d "$data/applications" ]; then
    update-desktop-database "$data/applications"
  fi
}

case "${1:-}" in
  "") ;;
  --remove)
    rm -f "$entry" "$icon" "$mime_type"
    refresh
    echo "Removed $entry, $icon and $mime_type."
    exit 0 ;;
  *) echo "usage: $0 [--remove]" >&2; exit 2 ;;
esac

[ -x "$here/quillon" ] || { echo "The updater is missing beside this script ($here/quillon)." >&2; exit 1; }
mkdir -p "$(dirname "$entry")" "$(dirname "$icon")" "$(dirname "$mime_type")"
cp "$here/quillon.svg" "$icon"
cp "$here/quillon-mime.xml" "$mime_type"
# The entry names this folder's updater by its full path, keeping the file it is given (%f).
sed -e "s|^Exec=quillon |Exec=\"$here/quillon\" |" "$here/quillon.desktop" > "$entry.tmp"
mv "$entry.tmp" "$entry"
refresh
echo "Added Quillon to the application menu ($entry)."
echo "Put the update file (.vfw) into $here before you start it."
