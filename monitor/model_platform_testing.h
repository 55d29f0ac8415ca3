#pragma once
// Test support: a HID platform that serves emulated monitors (the emulator's
// device model) in-process, on the process clock. Each plug-in of a monitor is
// an interface "emulated:VID_XXXX&PID_XXXX#N", N new at every plug-in. A
// monitor that leaves the bus by itself (restart, power loss) comes back under
// a new path once the clock has passed its time off the bus; the check is made
// whenever the interfaces are listed.
//
// Used by one thread at a time (the monitor layer's registry lock sees to that).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hid/hid_platform_testing.h"
#include "hid/hid_platform.h"
#include "emulator/monitor.h"

class ModelPlatform final : public HidPlatform {
public:
    ModelPlatform();
    ~ModelPlatform() override;
    ModelPlatform(const ModelPlatform&) = delete;
    ModelPlatform& operator=(const ModelPlatform&) = delete;

    // Creates a monitor and plugs it in.
    Monitor& Add(MonitorConfig config);
    // The cable: an unplugged monitor is off the list and its connections are
    // gone until it is plugged in again (under a new path).
    void Unplug(const Monitor& monitor);
    void Replug(const Monitor& monitor);
    // The path of the monitor's present plug-in; "" while it is off the bus.
    std::string PathOf(const Monitor& monitor) const;
    // As a device node without a device rule: listed, but this user may not open it.
    void RefuseAccess(const Monitor& monitor);

    std::optional<std::vector<std::string>> EnumeratePaths() override;
    std::unique_ptr<HidConnection> Open(const std::string& path, bool readAccess) override;
    std::unique_ptr<DeviceEvents> WatchDevices() override { return nullptr; }
    bool PermissionDenied(const std::string& path) override;

    // Shared with the connections, so that one outliving the platform fails cleanly.
    struct Slot;

private:
    Slot* Find(const Monitor& monitor) const;
    void PlugIn(Slot& slot);

    std::vector<std::shared_ptr<Slot>> slots_;
    std::uint32_t plugIns_ = 0;
};

// The interface descriptor of the smallest native monitor that takes
// components: identity, select, geometry and packets, with combined packets
// and the checksum when asked for. For fake monitors of tests and benchmarks.
inline std::vector<std::uint8_t> ComponentMonitorDescriptor(bool combinedPackets, bool checksum) {
    DescriptorBuilder d;
    d.UsagePage(0xFF00).Usage(0x0001).Application();
    d.ReportId(1).FeatureValue(0x0035, 8, 32);
    d.UsagePage(0xFF02);
    d.ReportId(2).FeatureValue(0x00C2, 8, 10);
    d.ReportId(3).FeatureValue(0x00C3, 8, 16);
    d.ReportId(4).FeatureValue(0x00C7, 8, 512);
    if (combinedPackets) d.ReportId(5).FeatureValue(0x00FE, 8, 522);
    if (checksum) d.ReportId(6).FeatureValue(0x00FC, 8, 15);
    d.End();
    return d.bytes;
}
