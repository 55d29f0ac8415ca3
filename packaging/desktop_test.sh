#!/usr/bin/env bash
# Checks the desktop integration: the desktop entry, the AppStream metainfo and the
# MIME type of firmware packages pass their validators without a complaint, and
# agree with each other and with the device rule.
# Usage: desktop_test.sh PACKAGING_DIR METAINFO PROJECT_VERSION
set -uo pipefail
src=$1 metainfo=$2 version=$3
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
entry="$src/quillon.desktop"

# The validators, with any error, warning or hint counted as a fault.
out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate failed"
[ -z "$out" ] || fail "desktop-file-validate: $out"
out=$(appstreamcli validate --no-net --explain "$metainfo" 2>&1)
[ $? -eq 0 ] || fail "appstreamcli validate failed: $out"
grep -E '^[EW]:' <<< "$out" && fail "appstreamcli validate complains"
xmllint --noout "$src/quillon-mime.xml" || fail "the MIME type is not well-formed XML"

# The MIME database built from the type alone matches *.vfw to it.
mkdir -p "$work/mime/packages"
cp "$src/quillon-mime.xml" "$work/mime/packages/quillon.xml"
XDG_DATA_DIRS="$work" XDG_DATA_HOME="$work" update-mime-database "$work/mime" 2> "$work/mime.log" || fail "update-mime-database: $(cat "$work/mime.log")"
[ ! -s "$work/mime.log" ] || fail "update-mime-database complains: $(cat "$work/mime.log")"
mime_type=$(xmllint --xpath 'string(//*[local-name()="mime-type"]/@type)' "$src/quillon-mime.xml")
grep -qx "50:$mime_type:\*\.vfw" "$work/mime/globs2" || fail "*.vfw is not matched to $mime_type: $(grep -v '^#' "$work/mime/globs2")"

# One MIME type everywhere: the entry opens it, the metainfo offers it.
field() { sed -n "s/^$1=//p" "$entry"; }
[ "$(field MimeType)" = "$mime_type;" ] || fail "the entry's MimeType [$(field MimeType)] is not [$mime_type;]"
[[ "$(field Exec)" == *' %f' ]] || fail "the entry does not pass the file it opens (Exec=$(field Exec))"
xpath() { xmllint --xpath "$1" "$metainfo" 2>/dev/null; }
[ "$(xpath 'string(/component/provides/mediatype)')" = "$mime_type" ] || fail "the metainfo does not provide $mime_type"
[ "$(xpath 'string(/component/launchable[@type="desktop-id"])')" = "$(basename "$entry")" ] ||
  fail "the metainfo launches [$(xpath 'string(/component/launchable)')], not $(basename "$entry")"
[ "$(xpath 'string(/component/releases/release[1]/@version)')" = "$version" ] ||
  fail "the metainfo's latest release is not the project's version $version"

# Software centres offer the updater for every vendor the device rule serves, and no other.
from_rule=$(grep -o 'ATTRS{idVendor}=="[0-9a-f]*"' "$src/70-quillon-monitors.rules" | grep -o '[0-9a-f]\{4\}' |
            tr a-f A-F | sed 's/.*/usb:v&p*/' | sort -u | tr '\n' ' ')
provided=$(xpath '/component/provides/modalias/text()' | sort | tr '\n' ' ')
[ -n "$from_rule" ] || fail "no vendor found in the device rule"
[ "$provided" = "$from_rule" ] || fail "modaliases [$provided], the device rule's vendors [$from_rule]"

[ "$failures" -eq 0 ] || exit 1
echo "desktop integration: entry, metainfo and MIME type valid and in agreement"
