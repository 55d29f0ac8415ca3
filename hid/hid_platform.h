#pragma once
// The narrow interface between the HID layer and the machine: list the
// interfaces, open one, and exchange feature reports with it. Two backends
// implement it, one file each: hidraw (real devices) and emulated (devices
// served over UNIX sockets in the directory named by QUILLON_HID_EMULATOR).
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hid/device_events.h"

struct HidAttributes {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;  // the USB device release number (bcdDevice); 0 when there is none
};

// Outcome of one transfer. NotConnected is the device gone for good (hidraw's
// ENODEV); Failed is any other failure, after which the connection stays usable.
enum class HidIo { Ok, Failed, NotConnected };

// Outcome of waiting for one input report.
enum class HidInput { Report, Timeout, Failed };

// One open interface. Used by one thread at a time.
class HidConnection {
public:
    virtual ~HidConnection() = default;

    virtual HidAttributes Attributes() const = 0;
    virtual std::span<const std::uint8_t> ReportDescriptor() const = 0;

    // Byte 0 of `report` is the report ID (0 without report IDs) in both
    // directions. GetFeature fills at most report.size() bytes and leaves the
    // rest of the buffer as it was when the device sends fewer.
    virtual HidIo GetFeature(std::span<std::uint8_t> report) = 0;
    virtual HidIo SetFeature(std::span<const std::uint8_t> report) = 0;

    // Waits up to timeoutMs for one input report (byte 0 its report ID).
    // Failed ends the caller's read loop: the device is gone, or the backend
    // has no input reports at all.
    virtual HidInput ReadInput(std::span<std::uint8_t> report, int timeoutMs) = 0;
};

class HidPlatform {
public:
    virtual ~HidPlatform() = default;

    // The device paths of the interfaces present now; nullopt when the list
    // cannot be read at all.
    virtual std::optional<std::vector<std::string>> EnumeratePaths() = 0;
    // nullptr when the interface cannot be opened (gone, no permission, not a HID interface).
    virtual std::unique_ptr<HidConnection> Open(const std::string& path, bool readAccess) = 0;
    // Arrivals and removals of interfaces; nullptr when they cannot be watched.
    virtual std::unique_ptr<DeviceEvents> WatchDevices() = 0;
    // Whether the file permissions of the interface refuse this user (so that
    // Open fails for want of a device rule, not because the device is unusable).
    virtual bool PermissionDenied(const std::string& path) {
        (void)path;
        return false;
    }
};

// The emulated backend when QUILLON_HID_EMULATOR is set (and not empty), the
// hidraw backend otherwise; a platform installed with ScopedHidPlatform wins.
// Process-wide on purpose, like the clock: the machine has one set of devices,
// and this is the one seam through which tests put their own in its place.
HidPlatform& ActivePlatform();

std::unique_ptr<HidPlatform> MakeHidrawPlatform();
// How long an emulated transfer waits for the device's reply before it fails.
// Real I/O time, so that a device that never answers cannot hang the host.
inline constexpr int kEmulatedReplyTimeoutMs = 5000;
std::unique_ptr<HidPlatform> MakeEmulatedPlatform(std::string directory, int replyTimeoutMs = kEmulatedReplyTimeoutMs);

// Installs a platform for the lifetime of this object (tests), then puts the previous one back.
class ScopedHidPlatform {
public:
    explicit ScopedHidPlatform(HidPlatform& platform);
    ~ScopedHidPlatform();
    ScopedHidPlatform(const ScopedHidPlatform&) = delete;
    ScopedHidPlatform& operator=(const ScopedHidPlatform&) = delete;

private:
    HidPlatform* previous_;
};
