#!/usr/bin/env bash
# Makes a firmware package that fits an emulated monitor: its images carry the
# emulator's image header, so that the monitor runs them after an update and
# then reports the package's target version.
#
# usage: make-demo-package.sh -o OUT.vfw --model PATTERN --from CURRENT --to TARGET
#                             [--types "2 3 1 4 5"] [--emulator BIN] [--vfwtool BIN]
#   CURRENT  the monitor's version text now (its --firmware-version), the set's key
#   TARGET   the version the monitor reports after the update
#   --types  the component types to include (1 AIC653, 2 PRG000, 3 PRG001, 4 INP027, 5 AIC904)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out="" model="" from="" to="" types="2 3 1 4 5"
emulator=${MONITOR_EMULATOR:-monitor-emulator}
vfwtool=${VFWTOOL:-vfwtool}
while [ $# -gt 0 ]; do
  case $1 in
    -o) out=$2 ;;
    --model) model=$2 ;;
    --from) from=$2 ;;
    --to) to=$2 ;;
    --types) types=$2 ;;
    --emulator) emulator=$2 ;;
    --vfwtool) vfwtool=$2 ;;
    *) sed -n '5,12p' "$here/make-demo-package.sh" >&2; exit 2 ;;
  esac
  shift 2
done
for value in "$out" "$model" "$from" "$to"; do
  [ -n "$value" ] || { sed -n '5,12p' "$here/make-demo-package.sh" >&2; exit 2; }
done
[[ $to =~ ^[0-9]{25}$ && $from =~ ^[0-9]{25}$ ]] || { echo "versions are 25 decimal digits" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Component type -> identifier and the field of the version text it carries.
declare -A ids=([1]=AIC653 [2]=PRG000 [3]=PRG001 [4]=INP027 [5]=AIC904)
declare -A fields=([1]=4 [2]=1 [3]=2 [4]=3 [5]=5)

components=()
for type in $types; do
  id=${ids[$type]:?unknown component type $type}
  field=${to:$(((fields[$type] - 1) * 5)):5}
  "$emulator" image --component "$id" --version "$((10#$field))" -o "$work/$id.bin"
  # 30 seconds to write; attribute 1 asks for a read-back after the restart.
  components+=(--component "$type=$work/$id.bin:30:1")
done

"$vfwtool" create -o "$out" --model "$model" --version "$to" --set "$from" "${components[@]}"
