#!/usr/bin/env bash
# How scripts/kernel-test chooses between KVM and TCG, with a stand-in for QEMU (and for
# the tools around it) on PATH. The stand-in QEMU plays a guest that boots, one whose KVM
# starts but hangs in the firmware, or one that never boots at all; a guest that boots
# runs the command on this machine, as the real guest runs it in its chroot.
set -euo pipefail
kernel_test="$1"
work="$(mktemp -d)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

standins="$work/bin"
mkdir -p "$standins"
stand_in() { printf '#!/usr/bin/env bash\n%s\n' "$2" > "$standins/$1"; chmod +x "$standins/$1"; }
stand_in apt-cache 'echo "  Depends: linux-image-6.1.0-99-amd64"'
stand_in busybox 'exit 0'
stand_in cpio 'cat > /dev/null'
for tool in apt-get dpkg-deb depmod; do stand_in "$tool" 'echo "stand-in $0 was not expected to run" >&2; exit 1'; done
# QEMU: writes each accelerator it is started with to $STANDIN_LOG. With KVM it behaves
# as $STANDIN_KVM says; with TCG as $STANDIN_TCG says (boots unless told otherwise).
stand_in qemu-system-x86_64 '
accel= console= out=
while [ $# -gt 0 ]; do
  case "$1" in
    -accel) accel="$2"; shift ;;
    -serial) console="${2#file:}"; shift ;;
    -virtfs) case "$2" in *mount_tag=out*) out="${2#local,path=}"; out="${out%%,*}" ;; esac; shift ;;
  esac
  shift
done
echo "$accel" >> "$STANDIN_LOG"
behaviour="${STANDIN_TCG:-boots}"
[ "$accel" = kvm ] && behaviour="$STANDIN_KVM"
case "$behaviour" in
  boots)
    printf "SeaBIOS (version stand-in)\nBooting from ROM..\033c.kernel-test: init started\nkernel-test: guest up after 0.4 s\n" >> "$console"
    sh "$out/.guest-command"
    echo "kernel-test: command ended with status $(cat "$out/status")" >> "$console" ;;
  hangs)
    printf "SeaBIOS (version stand-in)\nBooting from ROM...\n" >> "$console"
    exec sleep 600 ;;
  exits)
    echo "qemu-system-x86_64: error: failed to set MSR" >&2; exit 1 ;;
esac'

# A kernel as the cache holds it once unpacked.
cache="$work/cache"
tree="$cache/linux-image-6.1.0-99-amd64"
modules="$tree/lib/modules/6.1.0-99-amd64"
mkdir -p "$modules/kernel" "$tree/boot"
: > "$tree/boot/vmlinuz-6.1.0-99-amd64"
for m in virtio_pci 9pnet_virtio 9p uhid vhci-hcd usbhid hid-generic; do
  : > "$modules/kernel/$m.ko"
  echo "kernel/$m.ko:" >> "$modules/modules.dep"
done
touch "$tree/.unpacked"
: > "$work/kvm"  # a writable KVM device

# run NAME KVM-DEVICE KVM-BEHAVIOUR [VAR=VALUE...]: runs kernel-test with a timeout far
# longer than its boot bound; sets $status, $output, $accels (the accelerators started)
# and $seconds.
timeout=60
run() {
  local name="$1" device="$2" behaviour="$3"; shift 3
  : > "$work/accels"
  local start=$SECONDS
  set +e
  output=$(cd "$work" && env PATH="$standins:$PATH" QUILLON_KERNEL_CACHE="$cache" QUILLON_KVM_DEVICE="$device" \
             STANDIN_LOG="$work/accels" STANDIN_KVM="$behaviour" QUILLON_KERNEL_ACCEL= "$@" \
             bash "$kernel_test" --timeout "$timeout" --boot-timeout 3 --out "$work/out" -- echo "ran in the guest" 2>&1)
  status=$?
  set -e
  seconds=$(( SECONDS - start ))
  accels=$(tr '\n' ' ' < "$work/accels" | sed 's/ $//')
  [ -z "${VERBOSE:-}" ] || echo "$name: $seconds s" >&2
  [ "$seconds" -lt "$timeout" ] || fail "$name: waited out the whole run's time ($seconds s)"
}
expect() {  # NAME STATUS ACCELS TEXT: the outcome of the last run
  [ "$status" -eq "$2" ] || fail "$1: status $status, expected $2; output:
$output"
  [ "$accels" = "$3" ] || fail "$1: QEMU started with '$accels', expected '$3'; output:
$output"
  grep -qF -- "$4" <<< "$output" || fail "$1: the output lacks '$4':
$output"
}

# --- The first run on a machine, for each kind of machine.
#   name                          device               KVM     status  started   says
cases=(
  "KVM that boots"                "$work/kvm"          boots   0       "kvm"     "booted with KVM"
  "KVM that never boots"          "$work/kvm"          hangs   0       "kvm tcg" "booted with TCG"
  "KVM that QEMU cannot start"    "$work/kvm"          exits   0       "kvm tcg" "booted with TCG"
  "no KVM device"                 "$work/no-such-kvm"  boots   0       "tcg"     "booted with TCG"
)
for (( i = 0; i < ${#cases[@]}; i += 6 )); do
  name="${cases[i]}"
  rm -f "$cache/accelerators"
  run "$name" "${cases[i+1]}" "${cases[i+2]}"
  expect "$name" "${cases[i+3]}" "${cases[i+4]}" "${cases[i+5]}"
  grep -qx "ran in the guest" <<< "$output" || fail "$name: the command's output did not come back: $output"
done

# The fallback says what happened and keeps the console of the guest that hung.
rm -f "$cache/accelerators"
run "fallback" "$work/kvm" hangs
expect "fallback" 0 "kvm tcg" "the guest did not boot with KVM within 3 s"
grep -q "Booting from ROM" "$work/out/console-kvm.log" || fail "fallback: the hung guest's console was not kept"

# --- The verdict is remembered: the next run goes straight to what works.
rm -f "$cache/accelerators"
run "KVM that never boots, first run" "$work/kvm" hangs
run "KVM that never boots, next run" "$work/kvm" hangs
expect "KVM that never boots, next run" 0 "tcg" "booted with TCG"
rm -f "$cache/accelerators"
run "KVM that boots, first run" "$work/kvm" boots
run "KVM that boots, next run" "$work/kvm" boots
expect "KVM that boots, next run" 0 "kvm" "booted with KVM"
# A remembered KVM that hangs after all is left for TCG, and the verdict changes.
run "remembered KVM that hangs" "$work/kvm" hangs
expect "remembered KVM that hangs" 0 "kvm tcg" "booted with TCG"
run "after it" "$work/kvm" boots
expect "after it" 0 "tcg" "booted with TCG"
# The verdict belongs to this machine's CPU and kernels: another guest kernel asks again.
sed -i 's/6\.1\.0-99-amd64/6.1.0-98-amd64/' "$cache/accelerators"
run "another guest kernel" "$work/kvm" boots
expect "another guest kernel" 0 "kvm" "booted with KVM"

# --- QUILLON_KERNEL_ACCEL forces a choice.
rm -f "$cache/accelerators"
run "forced TCG" "$work/kvm" boots QUILLON_KERNEL_ACCEL=tcg
expect "forced TCG" 0 "tcg" "booted with TCG"
run "forced KVM that hangs" "$work/kvm" hangs QUILLON_KERNEL_ACCEL=kvm
expect "forced KVM that hangs" 1 "kvm" "the guest did not boot with KVM within 3 s"
run "forced KVM without a device" "$work/no-such-kvm" boots QUILLON_KERNEL_ACCEL=kvm
expect "forced KVM without a device" 1 "" "is not there or not writable"
run "forced nonsense" "$work/kvm" boots QUILLON_KERNEL_ACCEL=hvf
expect "forced nonsense" 2 "" "QUILLON_KERNEL_ACCEL is tcg or kvm"
[ ! -e "$cache/accelerators" ] || fail "a forced choice was remembered"

# --- A guest that boots with nothing stops at its own bound, not the run's.
run "nothing boots" "$work/kvm" hangs STANDIN_TCG=hangs
expect "nothing boots" 1 "kvm tcg" "the guest did not boot with TCG within 18 s either"

echo "kernel-test accelerator: all cases passed"
