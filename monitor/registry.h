#pragma once
// The handle of an opened monitor, and the process-wide registry that owns the
// device objects behind the handles. The registry is process-wide because the
// handles are the monitor layer's interface: every Mon… operation is given a
// handle alone and must find the same device whoever calls it.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "hid/hid_device.h"

// Opaque handle of an opened monitor. Each registration gets a new value that
// is never given out again, so a handle whose device object has left the
// registry (close, refresh, a monitor's restart) is refused by every operation
// even when a new device object happens to occupy the old one's memory.
enum class MonitorHandle : std::uintptr_t {};
inline constexpr MonitorHandle kNoMonitor{};

// For the monitor layer's own files.
namespace monitor_registry {

// Every Mon… operation holds this lock while it runs, so that a close or a
// refresh on one thread can never destroy a device object under a transaction
// of another thread; the second thread waits for the first operation to end.
// Recursive, because operations are built of each other (reopening by
// identity closes, opens and reads identities). Long waits between operations
// (a restart's reconnection attempts) are made without it.
std::unique_lock<std::recursive_mutex> Lock();

struct Entry {
    MonitorHandle handle;
    std::unique_ptr<HidDevice> device;
};

// The registered devices in the order they were added. Only with the lock
// held; leaving this list destroys the device object.
std::vector<Entry>& Entries();

// Appends a device with a new handle.
MonitorHandle Register(std::unique_ptr<HidDevice> device);

// The registered device behind a handle; nullptr for kNoMonitor and for
// handles that are not (or no longer) registered. Only with the lock held.
HidDevice* Find(MonitorHandle handle);

}  // namespace monitor_registry
