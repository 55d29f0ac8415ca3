# Shared by the scripts: the Debian packages the build needs, and their installation.
packages=(
  cmake ninja-build g++ python3 pkg-config
  libudev-dev
  libsystemd-dev  # sd-bus: the inhibitor lock that keeps the machine awake during an update
  dbus-daemon python3-dbusmock  # its tests: a private bus with logind mocked on it
  qt6-base-dev  # the updater's window (brings the OpenGL and Vulkan headers Qt's CMake files look for)
  weston qt6-wayland  # the window's tests run on Wayland too, under a headless weston (scripts/with-weston)
  desktop-file-utils  # checks the desktop entry
  appstream shared-mime-info libxml2-utils  # check the metainfo and the MIME type of .vfw files
  man-db  # checks the man pages (with groff-base) as lintian does
  fonts-noto-cjk  # the window's tests measure the Japanese texts in a real Japanese font
  libgtest-dev libgmock-dev
  libbenchmark-dev libssl-dev zlib1g-dev  # benchmarks only: reference Blowfish and CRC-32
)
# scripts/kernel-test boots Debian's kernel under QEMU with a busybox initramfs and runs
# udev in the guest; apt-get downloads the kernel package itself.
kernel_test_packages=(qemu-system-x86 busybox-static udev cpio kmod)
# scripts/package builds the Debian packages with debhelper and checks them with lintian;
# scripts/install-test installs them into a Debian root that mmdebstrap makes.
package_packages=(debhelper dpkg-dev lintian)
install_test_packages=(mmdebstrap)
# scripts/fuzz also needs clang with libFuzzer and the sanitizer runtimes, and llvm-symbolizer.
fuzz_packages=(clang libclang-rt-14-dev llvm)

# Installs whatever of the build's packages, and of the packages named as
# arguments, is missing.
ensure_packages() {
  local missing=()
  for p in "${packages[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
  else
    echo "These Debian packages are missing; install them first:" >&2
    echo "  sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
}
