#include "hid/device_list.h"

#include <gtest/gtest.h>

#include "common/clock.h"
#include "hid/hid_platform_testing.h"

namespace {

// Interfaces of a small machine: two monitors with the tunnel, one plain
// device of another vendor, a device whose vendor descriptor is not a
// monitor's, one whose transfer never synchronises, and one that cannot be opened.
class DeviceListTest : public ::testing::Test {
protected:
    void SetUp() override {
        AddTunnel("1-monitor", {0x7E51, 0x4001, 0x0100}, MonitorDescriptor(150));
        AddTunnel("2-monitor", {0x7E52, 0x8312, 0x0100}, MonitorDescriptor(90));
        FakeDevice& plain = platform_.Add("3-keyboard");
        plain.attributes = {0x046D, 0xC31C, 0x0110};
        DescriptorBuilder d;
        d.UsagePage(0x0001).Usage(0x0006).Application().ReportId(1).FeatureValue(0x0001, 8).End();
        plain.descriptor = d.bytes;
        AddTunnel("4-other-page", {0x7E51, 0x4002, 0x0100}, MonitorDescriptor(90, 0x82));
        AddTunnel("5-never-syncs", {0x7E51, 0x4003, 0x0100}, MonitorDescriptor(90))
            .tamper = [](std::span<std::uint8_t> chunk, int) { chunk[0] = 0xFF; };
        platform_.Add("6-broken").failOpen = true;
    }

    ChunkServer& AddTunnel(const std::string& path, HidAttributes attributes, std::vector<std::uint8_t> descriptor) {
        auto& server = servers_.emplace_back(std::make_unique<ChunkServer>());
        server->descriptor = std::move(descriptor);
        server->chunkLength = 64;
        FakeDevice& device = platform_.Add(path);
        device.attributes = attributes;
        ServeTunnel(device, *server);
        return *server;
    }

    static std::vector<std::string> Paths(const DeviceList& list) {
        std::vector<std::string> paths;
        for (const auto& device : list) paths.push_back(device->GetDevicePath());
        return paths;
    }

    FakePlatform platform_;
    ScopedHidPlatform usePlatform_{platform_};
    VirtualClock clock_;
    ScopedClock useClock_{clock_};
    std::vector<std::unique_ptr<ChunkServer>> servers_;
};

TEST_F(DeviceListTest, EnumerationKeepsInterfacesThatCannotOpen) {
    const auto records = EnumerateHidInterfaces();
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 6u);
    const HidInterfaceRecord& broken = *records->back();
    EXPECT_EQ(broken.devicePath, "6-broken");
    EXPECT_FALSE(broken.IsOpen());
    const HidInterfaceRecord& monitor = *records->front();
    EXPECT_TRUE(monitor.IsOpen());
    EXPECT_FALSE(monitor.openedForRead);
    EXPECT_EQ(monitor.attributes.vendorId, 0x7E51);
    EXPECT_EQ(monitor.reportBuffer[static_cast<std::size_t>(HidReportType::Feature)].size(), 65u);  // ID + 64-byte chunk
}

TEST_F(DeviceListTest, Filters) {
    using Ids = std::optional<std::vector<std::uint16_t>>;
    const struct {
        const char* name;
        Ids vendors, classes;
        std::vector<std::string> kept;
    } cases[] = {
        {"none", std::nullopt, std::nullopt, {"1-monitor", "2-monitor", "3-keyboard"}},
        {"vendor", Ids{{0x7E51, 0x7E53}}, std::nullopt, {"1-monitor"}},
        {"class", std::nullopt, Ids{{0x8300}}, {"2-monitor"}},
        {"both", Ids{{0x7E51, 0x7E52}}, Ids{{0x4000, 0x8300}}, {"1-monitor", "2-monitor"}},
        {"empty vendor list", Ids{std::vector<std::uint16_t>{}}, std::nullopt, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceList list;
        EXPECT_EQ(CreateDeviceList(list, c.vendors, c.classes, 0), c.kept.size());
        EXPECT_EQ(Paths(list), c.kept);
    }
}

TEST_F(DeviceListTest, SecondCallLeavesTheListAlone) {
    DeviceList list;
    const std::size_t first = CreateDeviceList(list, std::nullopt, std::nullopt, 0).value();
    std::vector<const HidDevice*> before;
    for (const auto& device : list) before.push_back(device.get());
    EXPECT_EQ(CreateDeviceList(list, std::nullopt, std::nullopt, 0), first);
    std::vector<const HidDevice*> after;
    for (const auto& device : list) after.push_back(device.get());
    EXPECT_EQ(after, before);

    // A new interface is appended after the ones already listed.
    AddTunnel("0-new-monitor", {0x7E53, 0x4010, 0x0100}, MonitorDescriptor(90));
    EXPECT_EQ(CreateDeviceList(list, std::nullopt, std::nullopt, 0), first + 1);
    EXPECT_EQ(list.back()->GetDevicePath(), "0-new-monitor");
}

TEST_F(DeviceListTest, FailedEnumerationChangesNothing) {
    DeviceList list;
    const std::optional<std::size_t> count = CreateDeviceList(list, std::nullopt, std::nullopt, 0);
    ASSERT_TRUE(count);
    platform_.failEnumeration = true;
    EXPECT_EQ(CreateDeviceList(list, std::nullopt, std::nullopt, 0), std::nullopt);
    EXPECT_EQ(list.size(), *count);
}

TEST_F(DeviceListTest, ProductSixIsToldApartByTheStopMark) {
    const auto addSix = [this](const std::string& path, bool withMark) {
        FakeDevice& device = platform_.Add(path);
        device.attributes = {0x7E51, 0x0006, 0x0100};
        DescriptorBuilder d;
        d.UsagePage(0xFF02).Usage(0x0001).Application().ReportId(1).FeatureValue(withMark ? 0x00F8 : 0x00F9, 8).End();
        device.descriptor = d.bytes;
    };
    addSix("6-with-mark", true);
    addSix("6-without-mark", false);
    const struct {
        std::uint32_t flags;
        std::vector<std::string> kept;
    } cases[] = {
        {0x20000000, {"6-with-mark"}},
        {0x80000000, {"6-without-mark"}},
        {0xA0000000, {"6-with-mark", "6-without-mark"}},
        {0x00000000, {"6-with-mark", "6-without-mark"}},
    };
    for (const auto& c : cases) {
        DeviceList list;
        CreateDeviceList(list, std::nullopt, std::vector<std::uint16_t>{0x0006}, c.flags);
        EXPECT_EQ(Paths(list), c.kept) << std::hex << c.flags;
    }
}

}  // namespace
