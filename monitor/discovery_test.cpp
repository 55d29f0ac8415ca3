#include "monitor/discovery.h"

#include <gtest/gtest.h>

#include <array>

#include "hid/hid_platform_testing.h"
#include "monitor/layer_fixture_testing.h"
#include "monitor/setting_b8.h"
#include "monitor/transactions.h"

namespace {

constexpr std::uint32_t kWait15s = 15000;

// The wait every open and refresh of this process starts with.
std::uint32_t StartupDelayMs(VirtualClock& clock) {
    clock.ClearWaits();
    MonOpenDevices(0);  // a family word without classes registers nothing
    const std::vector<std::uint32_t> waits = clock.Waits();
    clock.ClearWaits();
    return waits.size() == 1 ? waits[0] : 0;
}

std::vector<MonitorHandle> Handles(std::uint32_t families) {
    std::vector<MonitorHandle> handles;
    MonitorHandle h = kNoMonitor;
    for (std::uint32_t i = 0; MonGetDevice(families, i, &h) == 0; ++i) handles.push_back(h);
    return handles;
}

bool Works(MonitorHandle h) {
    std::int32_t value = 0;
    return MonReadValue(h, 0xFF01, 0x0068, value) == 0;
}

// Stops a combined-packet monitor in an update: with its boot selector 1 it
// takes the announcement, which erases its firmware; restarted, it cannot run.
void StopInUpdate(MonitorHandle h, VirtualClock& clock) {
    std::vector<std::uint8_t> announce(16, 0);
    std::copy_n("prg000", 6, announce.begin());
    announce[7] = 0x02;  // block size 512
    announce[8] = 8;     // blocks
    ASSERT_EQ(MonWriteValue(h, 0xFF02, 0x00FB, 1), 0u);
    ASSERT_EQ(MonWriteBlock(h, 0xFF02, 0x00C3, announce), 0u);
    ASSERT_EQ(MonWriteValue(h, 0xFF02, 0x00FB, 0), 0u);
    ASSERT_EQ(MonWriteValue(h, 0xFF02, 0x00F4, 0), 0u);
    clock.Advance(MonitorConfig{}.restartMs);
}

// Restarts a monitor with its boot selector 1: an older one comes back in its update state.
void RestartIntoUpdateState(MonitorHandle h, VirtualClock& clock) {
    ASSERT_EQ(MonWriteValue(h, 0xFF02, 0x00FB, 1), 0u);
    ASSERT_EQ(MonWriteValue(h, 0xFF02, 0x00F4, 0), 0u);
    clock.Advance(MonitorConfig{}.restartMs);
}

using DiscoveryTest = LayerTest;

TEST_F(DiscoveryTest, OpeningTwiceRegistersEachMonitorOnce) {
    platform.Add(QuietConfig(MonitorKind::OlderNative, "AAAAAAAA"));
    platform.Add(QuietConfig(MonitorKind::OlderTunnel, "BBBBBBBB"));
    platform.Add(QuietConfig(MonitorKind::CombinedTunnel, "CCCCCCCC"));
    EXPECT_EQ(MonOpenDevices(kFamilyNormal), 3u);
    const std::vector<MonitorHandle> first = Handles(kFamilyNormal);
    EXPECT_EQ(MonOpenDevices(kFamilyNormal), 3u);
    EXPECT_EQ(Handles(kFamilyNormal), first);
    ASSERT_EQ(first.size(), 3u);
    char serial[10];
    EXPECT_EQ(MonGetSerialNumber(first[2], serial), 0u);
    EXPECT_STREQ(serial, "CCCCCCCC");  // in the order the monitors were found

    EXPECT_EQ(MonOpenDevices(kFamilyStoppedInUpdate), 0u);
    EXPECT_EQ(MonGetDevice(kFamilyNormal, 0, nullptr), kMonFailed);
    MonitorHandle h = kNoMonitor;
    EXPECT_EQ(MonGetDevice(kFamilyStoppedInUpdate, 0, &h), kMonFailed);
    EXPECT_EQ(h, kNoMonitor);
}

TEST_F(DiscoveryTest, EveryOpenAndRefreshStartsWithTheSameShortDelay) {
    const std::uint32_t delay = StartupDelayMs(clock);
    EXPECT_GE(delay, 10u);
    EXPECT_LE(delay, 500u);
    EXPECT_EQ(delay % 10, 0u);
    MonOpenDevices(kFamilyNormal);
    MonRefreshDevices();
    EXPECT_EQ(clock.Waits(), (std::vector<std::uint32_t>{delay, delay}));
}

TEST_F(DiscoveryTest, ASeedMakesTheDelayRepeatable) {
    std::vector<std::uint32_t> delays;
    for (std::uint32_t seed : {1u, 2u, 3u, 1u}) {
        SeedStartupDelay(seed);
        delays.push_back(StartupDelayMs(clock));
    }
    SeedStartupDelay(0);  // the process id again
    EXPECT_EQ(delays[0], delays[3]);
    EXPECT_FALSE(delays[0] == delays[1] && delays[1] == delays[2]);  // the seed decides
}

TEST_F(DiscoveryTest, RefreshFollowsUnpluggingAndKeepsTheOthersHandles) {
    Monitor& a = platform.Add(QuietConfig(MonitorKind::OlderNative, "AAAAAAAA"));
    platform.Add(QuietConfig(MonitorKind::CombinedTunnel, "BBBBBBBB"));
    MonOpenDevices(kFamilyNormal);
    const std::vector<MonitorHandle> before = Handles(kFamilyNormal);
    ASSERT_EQ(before.size(), 2u);

    platform.Unplug(a);
    EXPECT_EQ(MonRefreshDevices(), 1u);
    EXPECT_EQ(Handles(kFamilyNormal), std::vector<MonitorHandle>{before[1]});
    EXPECT_FALSE(Works(before[0]));
    EXPECT_TRUE(Works(before[1]));

    platform.Replug(a);
    EXPECT_EQ(MonRefreshDevices(), 2u);
    const std::vector<MonitorHandle> after = Handles(kFamilyNormal);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0], before[1]);
    EXPECT_NE(after[1], before[0]);  // a new registration, at the end
    EXPECT_TRUE(Works(after[1]));
}

TEST_F(DiscoveryTest, StoppedMonitorsAreAnotherFamilyThatRefreshLeavesAlone) {
    Monitor& stopped = platform.Add(QuietConfig(MonitorKind::CombinedTunnel, "SSSSSSSS"));
    platform.Add(QuietConfig(MonitorKind::OlderTunnel, "NNNNNNNN"));
    StopInUpdate(OpenNormal(0), clock);

    EXPECT_EQ(MonRefreshDevices(), 1u);  // the stopped monitor has left family 1
    EXPECT_EQ(MonOpenDevices(kFamilyStoppedInUpdate), 1u);
    EXPECT_EQ(MonOpenDevices(kFamilyNormal), 1u);
    const std::vector<MonitorHandle> inUpdate = Handles(kFamilyStoppedInUpdate);
    ASSERT_EQ(inUpdate.size(), 1u);
    char serial[10];
    EXPECT_EQ(MonGetSerialNumber(inUpdate[0], serial), 0u);
    EXPECT_STREQ(serial, "SSSSSSSS");

    platform.Unplug(stopped);
    EXPECT_EQ(MonRefreshDevices(), 1u);
    EXPECT_EQ(Handles(kFamilyStoppedInUpdate), inUpdate);

    MonCloseDevices(kFamilyNormal);
    EXPECT_EQ(Handles(kFamilyStoppedInUpdate), inUpdate);
    EXPECT_TRUE(Handles(kFamilyNormal).empty());
    MonCloseDevices(kFamilyStoppedInUpdate);
    EXPECT_TRUE(Handles(kFamilyStoppedInUpdate).empty());
}

TEST_F(DiscoveryTest, TheVersionNumberTellsAnOlderMonitorInAnUpdate) {
    platform.Add(QuietConfig(MonitorKind::OlderNative));
    const MonitorHandle running = OpenNormal();
    std::uint16_t version = 0;
    ASSERT_EQ(MonGetVersionNumber(running, &version), 0u);
    EXPECT_EQ(version, 0x0102);

    RestartIntoUpdateState(running, clock);
    EXPECT_EQ(MonRefreshDevices(), 1u);  // still family 1, under a new handle
    const MonitorHandle stopped = OpenNormal();
    ASSERT_EQ(MonGetVersionNumber(stopped, &version), 0u);
    EXPECT_EQ(version, kVersionNumberStoppedInUpdate);

    EXPECT_EQ(MonGetVersionNumber(running, &version), kMonFailed);
    EXPECT_EQ(MonGetVersionNumber(stopped, nullptr), kMonFailed);
}

class IdentityTest : public KindTest {};
INSTANTIATE_TEST_SUITE_P(AllKinds, IdentityTest,
                         ::testing::Values(MonitorKind::OlderNative, MonitorKind::OlderTunnel,
                                           MonitorKind::CombinedTunnel),
                         KindTestName);

TEST_P(IdentityTest, SerialAndModelFromTheIdentityBlock) {
    struct Case {
        std::string serial, model;
        std::string readModel;
        Status modelStatus;
        const char* shownSerial;
    };
    const Case cases[] = {
        {"SN000001", "QX2701", "QX2701", 0, "SN000001"},
        {"12345678", "AB1234 X", "AB1234", 0, "12345678"},  // the model ends at the space
        {"ABCDEFGH", "ABCDEFGHIJKLMNOPQ", "ABCDEFGHIJKLMNOPQ", 0, "ABCDEFGH"},
        {"ABCDEFGH", "ABCDEFGHIJKLMNOPQR", "ABCDEFGHIJKLMNOPQR", kMonTextTooLong, "ABCDEFGH"},
        {std::string("SN12\0\0\0\0", 8), "QX2701", "QX2701", 0, "SN12"},
    };
    Monitor* previous = nullptr;
    for (const Case& c : cases) {
        if (previous != nullptr) platform.Unplug(*previous);
        MonCloseDevices(kAllFamilies);
        previous = &platform.Add(QuietConfig(GetParam(), c.serial, c.model));
        const MonitorHandle h = OpenNormal();

        std::string model = "old", serial = "old";
        EXPECT_EQ(MonReadIdentity(h, model, serial), 0u) << c.model;
        EXPECT_EQ(model, c.readModel);
        EXPECT_EQ(serial, c.serial);

        std::array<char, 18> modelText{};
        EXPECT_EQ(MonGetModelName(h, modelText), c.modelStatus) << c.model;
        if (c.modelStatus == 0) {
            EXPECT_STREQ(modelText.data(), c.readModel.c_str());
        }
        std::array<char, 10> serialText{};
        EXPECT_EQ(MonGetSerialNumber(h, serialText), 0u);
        EXPECT_STREQ(serialText.data(), c.shownSerial);
    }
}

TEST_P(IdentityTest, BuffersBelowTheLimitsAndUnknownHandlesFail) {
    AddMonitor();
    const MonitorHandle h = OpenNormal();
    std::array<char, 17> model{};
    std::array<char, 9> serial{};
    EXPECT_EQ(MonGetModelName(h, model), kMonBadArgument);
    EXPECT_EQ(MonGetSerialNumber(h, serial), kMonBadArgument);
    EXPECT_EQ(MonGetModelName(h, {}), kMonBadArgument);

    std::string text;
    EXPECT_EQ(MonReadIdentity(kNoMonitor, text, text), kMonTransferFailed);
    std::array<char, 18> enough{};
    EXPECT_EQ(MonGetModelName(kNoMonitor, enough), kMonTransferFailed);
}

TEST_P(IdentityTest, ReopeningFindsTheMonitorByItsIdentity) {
    platform.Add(QuietConfig(GetParam(), "AAAAAAAA", "QX2701"));
    platform.Add(QuietConfig(GetParam(), "BBBBBBBB", "QX2701"));
    MonOpenDevices(kFamilyNormal);
    const std::vector<MonitorHandle> before = Handles(kFamilyNormal);

    const MonitorHandle found = MonReopenByIdentity({"QX2701", "BBBBBBBB"});
    ASSERT_NE(found, kNoMonitor);
    const std::vector<MonitorHandle> reopened = Handles(kFamilyNormal);
    ASSERT_EQ(reopened.size(), 2u);
    EXPECT_EQ(reopened[1], found);
    for (const MonitorHandle old : before) EXPECT_FALSE(Works(old));
    std::array<char, 10> serial{};
    EXPECT_EQ(MonGetSerialNumber(found, serial), 0u);
    EXPECT_STREQ(serial.data(), "BBBBBBBB");

    EXPECT_EQ(MonReopenByIdentity({"QX2701", "CCCCCCCC"}), kNoMonitor);
    EXPECT_EQ(MonReopenByIdentity({"QX270", "AAAAAAAA"}), kNoMonitor);
    EXPECT_FALSE(Works(found));                   // every family-1 handle was given up
    EXPECT_EQ(Handles(kFamilyNormal).size(), 2u);  // and the monitors opened again
}

TEST_P(IdentityTest, ReopeningFindsNoneWhenTwoMonitorsPresentTheIdentity) {
    platform.Add(QuietConfig(GetParam(), "AAAAAAAA", "QX2701"));
    platform.Add(QuietConfig(GetParam(), "AAAAAAAA", "QX2701"));
    platform.Add(QuietConfig(GetParam(), "BBBBBBBB", "QX2701"));
    EXPECT_EQ(MonReopenByIdentity({"QX2701", "AAAAAAAA"}), kNoMonitor);  // either could be the wrong one
    EXPECT_NE(MonReopenByIdentity({"QX2701", "BBBBBBBB"}), kNoMonitor);
}

TEST_P(IdentityTest, ASerialNumberPaddedWithZeroBytesIsTheTextBeforeThem) {
    platform.Add(QuietConfig(GetParam(), std::string("SN12\0\0\0\0", 8)));
    const MonitorHandle h = OpenNormal();
    MonitorIdentity identity;
    ASSERT_EQ(MonGetIdentity(h, identity), 0u);
    EXPECT_EQ(identity, (MonitorIdentity{"QX2701", "SN12"}));
    EXPECT_NE(MonReopenByIdentity({"QX2701", "SN12"}), kNoMonitor);
    EXPECT_EQ(MonReopenByIdentity({"QX2701", std::string("SN12\0\0\0\0", 8)}), kNoMonitor);
}

TEST_P(IdentityTest, ReopeningFindsASerialNumberWithZeroBytesAsItIsShown) {
    platform.Add(QuietConfig(GetParam(), std::string("SN12\0\0\0\0", 8)));
    const MonitorHandle h = OpenNormal();
    std::array<char, 10> serial{};
    ASSERT_EQ(MonGetSerialNumber(h, serial), 0u);
    EXPECT_NE(MonReopenByIdentity({"QX2701", serial.data()}), kNoMonitor);
}

TEST_P(IdentityTest, ReopeningSwitchesSettingB8OnWhereThereAreNoCombinedPackets) {
    Monitor& monitor = AddMonitor();
    const std::uint32_t delay = StartupDelayMs(clock);
    for (const std::int32_t before : {0, 1}) {
        const MonitorHandle h = OpenNormal();
        ASSERT_EQ(MonWriteValue(h, 0xFF00, 0x00B8, before), 0u);
        clock.ClearWaits();
        const MonitorHandle found = MonReopenByIdentity({"QX2701", "SN000001"});
        ASSERT_NE(found, kNoMonitor);

        const bool switched = before == 0 && GetParam() != MonitorKind::CombinedTunnel;
        const std::vector<std::uint32_t> waits =
            switched ? std::vector<std::uint32_t>{delay, 1000, 10000} : std::vector<std::uint32_t>{delay};
        EXPECT_EQ(clock.Waits(), waits) << "B8 was " << before;
        EXPECT_EQ(monitor.State().settings.at({0xFF00, 0x00B8}),
                  std::vector<std::uint8_t>{static_cast<std::uint8_t>(switched ? 1 : before)});
    }
}

TEST_P(IdentityTest, RestartWaitsInStepsOf15sUntilTheMonitorIsBack) {
    MonitorConfig config = QuietConfig(GetParam());
    config.restartMs = 40000;
    Monitor& monitor = platform.Add(config);
    const std::uint32_t delay = StartupDelayMs(clock);
    const MonitorHandle h = OpenNormal();
    ASSERT_EQ(MonWriteValue(h, 0xFF02, 0x00FB, 1), 0u);  // boot selector: update

    const MonitorHandle back = MonRestartAndReconnect(h, {"QX2701", "SN000001"});
    ASSERT_NE(back, kNoMonitor);
    EXPECT_NE(back, h);
    EXPECT_FALSE(Works(h));
    EXPECT_TRUE(Works(back));
    EXPECT_EQ(clock.Waits(), (std::vector<std::uint32_t>{kWait15s, delay, kWait15s, delay, kWait15s, delay}));
    // Monitors with combined packets get the boot selector back to 0 before the restart.
    EXPECT_EQ(monitor.Mode(),
              GetParam() == MonitorKind::CombinedTunnel ? MonitorMode::Running : MonitorMode::Update);
}

TEST_P(IdentityTest, RestartGivesUpAfterAnHour) {
    MonitorConfig config = QuietConfig(GetParam());
    config.faults.noReturn = true;
    platform.Add(config);
    const MonitorHandle h = OpenNormal();
    EXPECT_EQ(MonRestartAndReconnect(h, {"QX2701", "SN000001"}), kNoMonitor);
    const std::vector<std::uint32_t> waits = clock.Waits();
    EXPECT_EQ(std::count(waits.begin(), waits.end(), kWait15s), 240);
    EXPECT_EQ(waits.size(), 480u);  // each attempt also reopens, with its start-up delay

    clock.ClearWaits();
    EXPECT_EQ(MonRestartAndReconnect(h, {"QX2701", "SN000001"}), kNoMonitor);  // a handle gone: no restart sent
    EXPECT_TRUE(clock.Waits().empty());
}

// A native monitor built by hand whose identity block holds only a serial number.
class ShortIdentityTest : public ::testing::Test {
protected:
    ShortIdentityTest() {
        MonCloseDevices(kAllFamilies);
        DescriptorBuilder d;
        d.UsagePage(0xFF00).Usage(0x0001).Application();
        d.ReportId(1).FeatureValue(0x0035, 8, 8);
        d.ReportId(2).FeatureValue(0x0068, 8);
        d.End();
        FakeDevice& device = fake.Add("fake:native");
        device.attributes = {0x7E51, 0x4001, 0x0102};
        device.descriptor = d.bytes;
        device.onGet = [](std::span<std::uint8_t> report) {
            for (std::size_t i = 1; i < report.size(); ++i) report[i] = static_cast<std::uint8_t>('0' + i);
            return HidIo::Ok;
        };
        EXPECT_EQ(MonOpenDevices(kFamilyNormal), 1u);
        EXPECT_EQ(MonGetDevice(kFamilyNormal, 0, &handle), 0u);
    }
    ~ShortIdentityTest() override { MonCloseDevices(kAllFamilies); }

    VirtualClock clock;
    ScopedClock useClock{clock};
    FakePlatform fake;
    ScopedHidPlatform usePlatform{fake};
    MonitorHandle handle = kNoMonitor;
};

TEST_F(ShortIdentityTest, EightBytesLeaveTheTextsAsTheyWere) {
    std::uint32_t length = 0;
    EXPECT_EQ(MonGetIdentityLength(handle, length), 0u);
    EXPECT_EQ(length, 8u);
    std::string model = "kept", serial = "kept";
    EXPECT_EQ(MonReadIdentity(handle, model, serial), 0u);
    EXPECT_EQ(model, "kept");
    EXPECT_EQ(serial, "kept");
    std::array<char, 18> text{'x'};
    EXPECT_EQ(MonGetModelName(handle, text), 0u);
    EXPECT_STREQ(text.data(), "");
}

TEST_F(ShortIdentityTest, RefreshKeepsTheRegistryWhenTheListCannotBeRead) {
    MonitorHandle h = kNoMonitor;
    // The refresh's listing fails, or one made after it: the monitor stays registered.
    for (const int listingsBeforeFailure : {0, 1}) {
        fake.listingsBeforeFailure = listingsBeforeFailure;
        const std::uint32_t count = MonRefreshDevices();
        if (listingsBeforeFailure == 0) {
            EXPECT_EQ(count, 0u);
        }
        EXPECT_EQ(MonGetDevice(kFamilyNormal, 0, &h), 0u) << listingsBeforeFailure;
        EXPECT_EQ(h, handle) << listingsBeforeFailure;
        fake.listingsBeforeFailure.reset();
        fake.failEnumeration = false;
    }
    EXPECT_EQ(MonRefreshDevices(), 1u);
    EXPECT_EQ(MonGetDevice(kFamilyNormal, 0, &h), 0u);
    EXPECT_EQ(h, handle);
}

}  // namespace
