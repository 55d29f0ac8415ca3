#pragma once
// Arrivals and removals of HID interfaces, for a caller that polls a file
// descriptor (the selection dialog's socket notifier).
#include <memory>
#include <optional>
#include <string>

struct DeviceEvent {
    enum class Kind { Arrival, Removal };
    Kind kind = Kind::Arrival;
    std::string path;  // the device path, as the platform enumerates it
};

class DeviceEvents {
public:
    virtual ~DeviceEvents() = default;
    // Readable when events are pending.
    virtual int Fd() const = 0;
    // The next pending event, without blocking; nullopt when there is none
    // (events about other devices are skipped).
    virtual std::optional<DeviceEvent> Next() = 0;
};

// Watches the active platform (see hid_platform.h); nullptr when that fails.
std::unique_ptr<DeviceEvents> WatchDevices();
