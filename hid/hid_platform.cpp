#include "hid/hid_platform.h"

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<HidPlatform*> g_installed{nullptr};

HidPlatform& DefaultPlatform() {
    // Chosen once: the environment does not change while the process runs.
    static const std::unique_ptr<HidPlatform> platform = [] {
        const char* directory = std::getenv("QUILLON_HID_EMULATOR");
        if (directory != nullptr && *directory != '\0') return MakeEmulatedPlatform(directory);
        return MakeHidrawPlatform();
    }();
    return *platform;
}

}  // namespace

HidPlatform& ActivePlatform() {
    HidPlatform* installed = g_installed.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : DefaultPlatform();
}

std::unique_ptr<DeviceEvents> WatchDevices() { return ActivePlatform().WatchDevices(); }

ScopedHidPlatform::ScopedHidPlatform(HidPlatform& platform)
    : previous_(g_installed.exchange(&platform, std::memory_order_acq_rel)) {}

ScopedHidPlatform::~ScopedHidPlatform() { g_installed.store(previous_, std::memory_order_release); }
