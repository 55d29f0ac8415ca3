// The host's HID layer against the emulated monitors, over real sockets: the
// device list finds each kind, derives its capabilities from the interface
// descriptor the emulator writes, fetches the tunnelled descriptor and the
// tunnel token, and reaches the identity. Two independent descriptions of one
// contract, checked against each other.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "common/clock.h"
#include "hid/device_list.h"
#include "hid/hid_device.h"
#include "hid/hid_platform.h"
#include "emulator/socket_server.h"
#include "emulator/emulator_testing.h"

namespace {

// A monitor served on its own thread, as the emulator program serves it.
class RunningMonitor {
public:
    RunningMonitor(MonitorConfig config, const std::string& dir)
        : monitor_(std::move(config)), server_(monitor_, dir), wake_(eventfd(0, EFD_CLOEXEC)) {
        std::string fault;
        EXPECT_TRUE(server_.PlugIn(&fault)) << fault;
        thread_ = std::thread([this] { server_.Run(stop_, wake_.get()); });
    }
    ~RunningMonitor() {
        stop_ = true;
        const std::uint64_t one = 1;
        EXPECT_EQ(write(wake_.get(), &one, sizeof one), static_cast<ssize_t>(sizeof one));
        thread_.join();
    }
    Monitor& monitor() { return monitor_; }

private:
    Monitor monitor_;
    SocketServer server_;
    UniqueFd wake_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct KindCase {
    const char* name;
    MonitorKind kind;
    std::uint16_t vendor;
    bool tunnel;
    bool combined;
};

class HostLayerTest : public ::testing::TestWithParam<KindCase> {};

TEST_P(HostLayerTest, TheDeviceListFindsTheMonitorAndItsUsages) {
    const KindCase& c = GetParam();
    VirtualClock clock;
    ScopedClock installedClock(clock);
    TempDir dir;
    RunningMonitor served(TestConfig(c.kind), dir.Path());
    const auto platform = MakeEmulatedPlatform(dir.Path());
    ScopedHidPlatform installedPlatform(*platform);

    DeviceList list;
    const std::vector<std::uint16_t> vendors = {0x7E52, 0x7E51, 0x7E53};
    const std::vector<std::uint16_t> family1 = {0x0002, 0x4000};
    ASSERT_EQ(CreateDeviceList(list, vendors, family1, 0x00000001), 1u);
    HidDevice& device = *list[0];
    EXPECT_EQ(device.GetVendorId(), c.vendor);
    EXPECT_EQ(device.GetProductClass(), 0x4000);
    EXPECT_TRUE(device.IsConnected());
    EXPECT_EQ(device.HasDescriptor(), c.tunnel);

    if (c.tunnel) {
        // The tunnelled descriptor: an Application collection on the Monitor page.
        EXPECT_EQ(device.Root().prefix, 0xA1);
        EXPECT_EQ(device.Root().value, 1);
        EXPECT_EQ(device.TunnelToken(), served.monitor().TunnelToken());
        EXPECT_NE(reportdescriptor::FindFeatureItem(device.Root(), 0xFF02, 0x00C7), nullptr);
        EXPECT_EQ(reportdescriptor::FindFeatureItem(device.Root(), 0xFF02, 0x00FE) != nullptr, c.combined);
        EXPECT_EQ(reportdescriptor::FindFeatureItem(device.Root(), 0xFF02, 0x00FC) != nullptr, c.combined);
        // The identity is served natively on the interface.
        std::array<std::uint8_t, 16> identity{};
        ASSERT_EQ(device.GetFeatureReport(0xFF30, 0x0008, identity), kStatusSuccess);
        EXPECT_EQ(std::string(identity.begin(), identity.begin() + 14), std::string("SN123456QX2701"));
        for (std::uint16_t channel : {0x0002, 0x0003, 0x0004, 0x0005, 0x000B, 0x000C, 0x000D, 0x000E})
            EXPECT_TRUE(device.HasUsage(0xFF30, channel)) << channel;
    } else {
        std::string serial, model;
        ASSERT_EQ(device.GetIdentStrings(serial, model), kStatusSuccess);
        EXPECT_EQ(serial, "SN123456");
        EXPECT_EQ(model, "QX2701");
        EXPECT_FALSE(device.HasUsage(0xFF02, 0x00FE));
        EXPECT_TRUE(device.HasUsage(0xFF02, 0x00C7));
        // The feature button inside its link collection is reachable by the collection's usage.
        EXPECT_TRUE(device.HasUsage(0xFF10, 0x0020));
        // A value written natively reads back.
        ASSERT_EQ(device.SetFeatureValue(0xFF01, 0x0068, 1), kStatusSuccess);
        std::uint32_t value = 0;
        ASSERT_EQ(device.GetFeatureValue(0xFF01, 0x0068, value), kStatusSuccess);
        EXPECT_EQ(value, 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostLayerTest,
                         ::testing::Values(KindCase{"OlderNative", MonitorKind::OlderNative, 0x7E51, false, false},
                                           KindCase{"OlderTunnel", MonitorKind::OlderTunnel, 0x7E52, true, false},
                                           KindCase{"CombinedTunnel", MonitorKind::CombinedTunnel, 0x7E53, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
