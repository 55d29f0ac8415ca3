// The hidraw backend, the udev watch and the device rule's uaccess tag,
// against the real kernel: each monitor is the monitor-emulator
// program plugged in as a USB device (vhci_hcd, then usbhid and hidraw) or
// through uhid.
#include <array>
#include <cstdio>
#include <memory>

#include "common/temp_dir_testing.h"
#include "emulator/report_layout.h"
#include "hid/capabilities.h"
#include "kernel/emulator_process.h"
#include "kernel/foreign_usb_device.h"
#include "kernel/kernel_testing.h"
#include "monitor/discovery.h"
#include "monitor/transactions.h"

namespace {

using namespace kernel_testing;

// Drops every registered monitor before and after each test.
class KernelTest : public ::testing::Test {
protected:
    KernelTest() { MonCloseDevices(0xFFFFFFFF); }
    ~KernelTest() override { MonCloseDevices(0xFFFFFFFF); }

    std::unique_ptr<HidPlatform> hidraw = MakeHidrawPlatform();
    TempDir dir;
};

struct InterfaceCase {
    Transport transport;
    Kind kind;
};

std::string Name(const ::testing::TestParamInfo<InterfaceCase>& info) {
    return std::string(info.param.transport == Transport::Usb ? "Usb_" : "Uhid_") + TestName(info.param.kind.name);
}

class InterfaceTest : public KernelTest, public ::testing::WithParamInterface<InterfaceCase> {};

// Listed through libudev with the kernel's names and attributes, the same
// descriptor and capabilities as the same monitor over the socket, and the
// same identity read through the monitor layer.
TEST_P(InterfaceTest, ListsOpensAndIdentifiesTheMonitor) {
    const Kind& kind = GetParam().kind;
    const Transport transport = GetParam().transport;
    EmulatorProcess plugged(EmulatorArgs(transport, kind, "KRN00001"), 1);
    ASSERT_TRUE(plugged.Running());

    std::optional<std::string> path;
    ASSERT_TRUE(WaitUntil([&] { return (path = FindInterface(*hidraw, kind.vendor)).has_value(); }, kArrivalLimitMs));
    EXPECT_EQ(path->rfind("/dev/hidraw", 0), 0u) << *path;
    char id[32];
    std::snprintf(id, sizeof id, "#VID_%04X&PID_%04X#", kind.vendor, kind.product);
    EXPECT_NE(path->find(id), std::string::npos) << *path;

    const std::unique_ptr<HidConnection> connection = hidraw->Open(*path, true);
    ASSERT_NE(connection, nullptr) << *path;
    const HidAttributes attributes = connection->Attributes();
    EXPECT_EQ(attributes.vendorId, kind.vendor);
    EXPECT_EQ(attributes.productId, kind.product);
    // The release number comes from the USB device's bcdDevice; uhid devices have no USB parent.
    EXPECT_EQ(attributes.versionNumber, transport == Transport::Usb ? 0x0102 : 0);

    // The same monitor over the emulated device socket.
    EmulatorProcess socket(EmulatorArgs(PlugIn(dir.File("")), kind, "KRN00002"), 1);
    ASSERT_TRUE(socket.Running());
    const std::unique_ptr<HidPlatform> emulated = MakeEmulatedPlatform(dir.File(""));
    const std::unique_ptr<HidConnection> reference = emulated->Open(socket.Where().at(0), true);
    ASSERT_NE(reference, nullptr);
    const auto got = connection->ReportDescriptor();
    const auto want = reference->ReportDescriptor();
    EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin(), want.end()));
    const HidCapabilities gotCaps = DeriveCapabilities(got);
    const HidCapabilities wantCaps = DeriveCapabilities(want);
    EXPECT_EQ(gotCaps.caps.featureReportByteLength, wantCaps.caps.featureReportByteLength);
    EXPECT_EQ(gotCaps.caps.usagePage, wantCaps.caps.usagePage);
    EXPECT_EQ(gotCaps.Values(HidReportType::Feature).size(), wantCaps.Values(HidReportType::Feature).size());
    EXPECT_EQ(gotCaps.Buttons(HidReportType::Feature).size(), wantCaps.Buttons(HidReportType::Feature).size());

    // The monitor layer over hidraw: one monitor, its identity.
    ASSERT_EQ(MonOpenDevices(kFamilyNormal), 1u);
    MonitorHandle handle = kNoMonitor;
    ASSERT_EQ(MonGetDevice(kFamilyNormal, 0, &handle), 0u);
    std::string model, serial;
    ASSERT_EQ(MonReadIdentity(handle, model, serial), 0u);
    EXPECT_EQ(model, "QX2701");
    EXPECT_EQ(serial, "KRN00001");
}

std::vector<InterfaceCase> AllInterfaces() {
    std::vector<InterfaceCase> cases;
    for (Transport t : {Transport::Usb, Transport::Uhid})
        for (const Kind& k : kAllKinds) cases.push_back({t, k});
    return cases;
}
INSTANTIATE_TEST_SUITE_P(Kernel, InterfaceTest, ::testing::ValuesIn(AllInterfaces()), Name);

class TransportTest : public KernelTest, public ::testing::WithParamInterface<Transport> {};

std::string TransportName(const ::testing::TestParamInfo<Transport>& info) {
    return info.param == Transport::Usb ? "Usb" : "Uhid";
}

// Waits for an event of this kind about a monitor of this vendor (and at this
// path, when given); events about other devices, or left over from earlier
// tests' devices, are passed over.
std::optional<DeviceEvent> AwaitEvent(DeviceEvents& events, DeviceEvent::Kind kind, std::uint16_t vendor,
                                      const std::string& path = "") {
    char id[16];
    std::snprintf(id, sizeof id, "#VID_%04X&", vendor);
    std::optional<DeviceEvent> found;
    WaitUntil(
        [&] {
            while (std::optional<DeviceEvent> e = events.Next())
                if (e->kind == kind && e->path.find(id) != std::string::npos && (path.empty() || e->path == path)) {
                    found = e;
                    return true;
                }
            return false;
        },
        kArrivalLimitMs);
    return found;
}

// Plug, restart and unplug reach the udev watch, and the monitor list follows.
TEST_P(TransportTest, DeviceEventsFollowPlugRestartAndUnplug) {
    using Event = DeviceEvent::Kind;
    ScopedHidPlatform useHidraw{*hidraw};
    const std::unique_ptr<DeviceEvents> events = hidraw->WatchDevices();
    ASSERT_NE(events, nullptr);
    const std::uint16_t vendor = kCombinedTunnel.vendor;
    auto plugged = std::make_unique<EmulatorProcess>(EmulatorArgs(GetParam(), kCombinedTunnel, "KRN00003"), 1);
    ASSERT_TRUE(plugged->Running());

    const auto arrival = AwaitEvent(*events, Event::Arrival, vendor);
    ASSERT_TRUE(arrival);
    ASSERT_TRUE(WaitUntil([] { return MonOpenDevices(kFamilyNormal) == 1; }, kArrivalLimitMs));
    MonitorHandle handle = kNoMonitor;
    ASSERT_EQ(MonGetDevice(kFamilyNormal, 0, &handle), 0u);

    // A restart: the device leaves and comes back as a new kernel instance, at a new path.
    ASSERT_EQ(MonWriteValue(handle, 0xFF02, 0x00F4, 0), 0u);
    EXPECT_TRUE(AwaitEvent(*events, Event::Removal, vendor, arrival->path));
    const auto back = AwaitEvent(*events, Event::Arrival, vendor);
    ASSERT_TRUE(back);
    EXPECT_NE(back->path, arrival->path);
    // The first refresh right after the arrival has been seen to find nothing
    // now and then on USB; the selection refreshes again on its timer.
    int refreshes = 0;
    EXPECT_TRUE(WaitUntil([&] { return ++refreshes, MonRefreshDevices() == 1; }, kArrivalLimitMs));
    if (refreshes > 1) std::printf("the monitor list followed the arrival after %d refreshes\n", refreshes);
    ASSERT_EQ(MonGetDevice(kFamilyNormal, 0, &handle), 0u);
    std::string model, serial;
    EXPECT_EQ(MonReadIdentity(handle, model, serial), 0u);
    EXPECT_EQ(serial, "KRN00003");

    EXPECT_EQ(plugged->Stop(), 0);
    EXPECT_TRUE(AwaitEvent(*events, Event::Removal, vendor, back->path));
    EXPECT_EQ(MonRefreshDevices(), 0u);
}

// A transfer to a device that has gone fails as "not connected" at once, and
// the layer finds the monitor again when it comes back.
TEST_P(TransportTest, TransferToAVanishedDeviceFailsAndTheLayerRecovers) {
    ScopedHidPlatform useHidraw{*hidraw};
    const std::string state = dir.File("monitor.state");
    auto plugged = std::make_unique<EmulatorProcess>(EmulatorArgs(GetParam(), kOlderTunnel, "KRN00004", state), 1);
    ASSERT_TRUE(plugged->Running());
    std::optional<std::string> path;
    ASSERT_TRUE(WaitUntil([&] { return (path = FindInterface(*hidraw, kOlderTunnel.vendor)).has_value(); },
                          kArrivalLimitMs));
    const std::unique_ptr<HidConnection> connection = hidraw->Open(*path, true);
    ASSERT_NE(connection, nullptr);
    ASSERT_EQ(MonOpenDevices(kFamilyNormal), 1u);

    plugged->Kill();
    std::array<std::uint8_t, 64> report{};
    report[0] = 1;
    const std::uint64_t start = NowMs();
    HidIo io = HidIo::Ok;
    // The kernel takes the device away shortly after the socket closes.
    ASSERT_TRUE(WaitUntil([&] { return (io = connection->GetFeature(report)) == HidIo::NotConnected; }, 10'000));
    EXPECT_LT(NowMs() - start, 10'000u);
    EXPECT_EQ(MonRefreshDevices(), 0u);

    plugged = std::make_unique<EmulatorProcess>(EmulatorArgs(GetParam(), kOlderTunnel, "KRN00004", state), 1);
    ASSERT_TRUE(WaitUntil([] { return MonRefreshDevices() == 1; }, kArrivalLimitMs));
    MonitorHandle handle = kNoMonitor;
    ASSERT_EQ(MonGetDevice(kFamilyNormal, 0, &handle), 0u);
    std::string model, serial;
    EXPECT_EQ(MonReadIdentity(handle, model, serial), 0u);
    EXPECT_EQ(serial, "KRN00004");
}

// A request the monitor refuses (a control lock mode it does not know) fails
// that transfer only: a stall on USB, an error answer through uhid, never "not
// connected"; the next transfer works.
TEST_P(TransportTest, ARefusedRequestFailsThatTransferOnly) {
    EmulatorProcess plugged(EmulatorArgs(GetParam(), kOlderNative, "KRN00007"), 1);
    ASSERT_TRUE(plugged.Running());
    std::optional<std::string> path;
    ASSERT_TRUE(WaitUntil([&] { return (path = FindInterface(*hidraw, kOlderNative.vendor)).has_value(); },
                          kArrivalLimitMs));
    const std::unique_ptr<HidConnection> connection = hidraw->Open(*path, true);
    ASSERT_NE(connection, nullptr);
    const auto layout = ReportLayout::Parse(connection->ReportDescriptor());
    ASSERT_TRUE(layout);
    const FieldLayout* lock = layout->Find({0xFF03, 0x0080});
    const FieldLayout* identity = layout->Find({0xFF00, 0x0035});
    ASSERT_TRUE(lock != nullptr && identity != nullptr);

    std::vector<std::uint8_t> refused(1 + lock->ByteLength(), 0);
    refused[0] = lock->reportId;
    refused[1] = 7;  // no such mode
    EXPECT_EQ(connection->SetFeature(refused), HidIo::Failed);
    std::vector<std::uint8_t> read(1 + identity->ByteLength(), 0);
    read[0] = identity->reportId;
    EXPECT_EQ(connection->GetFeature(read), HidIo::Ok);
    EXPECT_EQ(std::string(read.begin() + 1, read.begin() + 9), "KRN00007");
}

// An older monitor restarted into its update state comes back as a new USB
// device whose release number (bcdDevice) is 40000, which is how the updater
// knows it waits in an update.
TEST_F(KernelTest, AnOlderMonitorInItsUpdateStateShowsItThroughBcdDevice) {
    ScopedHidPlatform useHidraw{*hidraw};
    EmulatorProcess plugged(EmulatorArgs(Transport::Usb, kOlderNative, "KRN00008"), 1);
    ASSERT_TRUE(plugged.Running());
    ASSERT_TRUE(WaitUntil([] { return MonOpenDevices(kFamilyNormal) == 1; }, kArrivalLimitMs));
    MonitorHandle handle = kNoMonitor;
    ASSERT_EQ(MonGetDevice(kFamilyNormal, 0, &handle), 0u);
    const std::optional<std::string> before = FindInterface(*hidraw, kOlderNative.vendor);
    ASSERT_TRUE(before);
    ASSERT_EQ(MonWriteValue(handle, 0xFF02, 0x00FB, 1), 0u);
    ASSERT_EQ(MonWriteValue(handle, 0xFF02, 0x00F4, 0), 0u);

    std::optional<std::string> after;
    ASSERT_TRUE(WaitUntil(
        [&] { return (after = FindInterface(*hidraw, kOlderNative.vendor)).has_value() && *after != *before; },
        kArrivalLimitMs));
    const std::unique_ptr<HidConnection> connection = hidraw->Open(*after, true);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->Attributes().versionNumber, kVersionNumberStoppedInUpdate);
    ASSERT_TRUE(WaitUntil([] { return MonRefreshDevices() == 1; }, kArrivalLimitMs));
    ASSERT_EQ(MonGetDevice(kFamilyNormal, 0, &handle), 0u);
    std::uint16_t version = 0;
    EXPECT_EQ(MonGetVersionNumber(handle, &version), 0u);
    EXPECT_EQ(version, kVersionNumberStoppedInUpdate);
}

INSTANTIATE_TEST_SUITE_P(Kernel, TransportTest, ::testing::Values(Transport::Usb, Transport::Uhid), TransportName);

// The device rule tags the monitors' hidraw nodes for the user at the seat,
// and leaves another vendor's USB HID device alone.
TEST_F(KernelTest, DeviceRuleTagsTheMonitorsOnly) {
    const InstalledDeviceRule rule(ReadFile(QUILLON_SOURCE_DIR "/packaging/70-quillon-monitors.rules"));
    ASSERT_TRUE(rule.Loaded());

    EmulatorProcess plugged(EmulatorArgs(Transport::Usb, kOlderNative, "KRN00005"), 1);
    ASSERT_TRUE(plugged.Running());
    std::optional<std::string> path;
    ASSERT_TRUE(WaitUntil([&] { return (path = FindInterface(*hidraw, kOlderNative.vendor)).has_value(); },
                          kArrivalLimitMs));
    const std::string monitor = CommandOutput("udevadm test " + SysPathOf(*path));
    EXPECT_TRUE(TagsUaccess(monitor)) << monitor;

    const ForeignUsbDevice other;
    ASSERT_TRUE(WaitUntil([&] { return (path = FindInterface(*hidraw, ForeignUsbDevice::kVendor)).has_value(); },
                          kArrivalLimitMs));
    const std::string foreign = CommandOutput("udevadm test " + SysPathOf(*path));
    EXPECT_FALSE(TagsUaccess(foreign)) << foreign;
}

}  // namespace
