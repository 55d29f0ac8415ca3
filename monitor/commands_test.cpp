// The command set against emulated monitors of every kind, on the virtual clock.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "common/bytes.h"
#include "hid/hid_platform_testing.h"
#include "monitor/control_lock.h"
#include "monitor/device_commands.h"
#include "monitor/firmware_version.h"
#include "monitor/indexed_settings.h"
#include "monitor/layer_fixture_testing.h"
#include "monitor/settings.h"
#include "monitor/transactions.h"
#include "emulator/transfer_log.h"

namespace {

using Waits = std::vector<std::uint32_t>;

std::vector<std::uint8_t> Stored(const Monitor& monitor, std::uint16_t page, std::uint16_t usage) {
    return monitor.State().settings.at({page, usage});
}

// A write of the usage, sent natively or on one of the tunnel's write channels.
bool IsWriteOf(const TransferRecord& r, UsageAddress usage) {
    if (!r.isSet) return false;
    if (!r.tunnelled) return r.report == usage;
    const std::uint16_t channel = r.report.usage;
    return *r.tunnelled == usage && (channel == 0x0002 || channel == 0x0004 || channel == 0x000B || channel == 0x000D);
}

std::int32_t ReadRaw(MonitorHandle h, std::uint16_t page, std::uint16_t usage) {
    std::int32_t value = -1;
    EXPECT_EQ(MonReadValue(h, page, usage, value), 0u);
    return value;
}

using CommandTest = KindTest;
INSTANTIATE_TEST_SUITE_P(AllKinds, CommandTest,
                         ::testing::Values(MonitorKind::OlderNative, MonitorKind::OlderTunnel,
                                           MonitorKind::CombinedTunnel),
                         KindTestName);

TEST_P(CommandTest, SettingsReadAndWriteBack) {
    Monitor& monitor = AddMonitor();
    const MonitorHandle h = OpenNormal();

    std::uint16_t s54 = 0, s68 = 0, s40 = 0;
    std::int32_t s45 = -7, s53 = -7;
    std::uint8_t s22 = 0, s30 = 0;
    EXPECT_EQ(MonGetSetting54(h, &s54), 0u);
    EXPECT_EQ(MonGetSetting45(h, &s45), 0u);
    EXPECT_EQ(MonGetSetting53(h, &s53), 0u);
    EXPECT_EQ(MonGetSetting68(h, &s68), 0u);
    EXPECT_EQ(MonGetSetting22(h, &s22), 0u);
    EXPECT_EQ(MonGetSetting30(h, &s30), 0u);
    EXPECT_EQ(MonGetSetting40(h, &s40), 0u);
    EXPECT_EQ((std::array<int, 7>{s54, s45, s53, s68, s22, s30, s40}), (std::array<int, 7>{1, 1, 1, 1, 2, 1, 1}));

    EXPECT_EQ(MonSetSetting54(h, 0x10002), 0u);  // low 16 bits only
    EXPECT_EQ(MonSetSetting45(h, 0), 0u);
    EXPECT_EQ(MonSetSetting53(h, 0), 0u);
    EXPECT_EQ(MonSetSetting68(h, 0xABCD0000), 0u);
    EXPECT_EQ(MonSetSetting22(h, 3), 0u);
    EXPECT_EQ(MonSetSetting30(h, 2), 0u);
    EXPECT_EQ(MonSetSetting40(h, 0x10000), 0u);
    EXPECT_EQ(MonSetSwitchF0(h, 0x10000), 0u);
    EXPECT_EQ(ReadRaw(h, 0xFF01, 0x0054), 2);
    EXPECT_EQ(ReadRaw(h, 0xFF01, 0x0045), 0);
    EXPECT_EQ(ReadRaw(h, 0xFF01, 0x0053), 0);
    EXPECT_EQ(ReadRaw(h, 0xFF01, 0x0068), 0);
    EXPECT_EQ(ReadRaw(h, 0xFF01, 0x00F0), 0);
    // The blocks keep their other bytes.
    EXPECT_EQ(Stored(monitor, 0xFF03, 0x0022)[0], 3);
    EXPECT_EQ(Stored(monitor, 0xFF03, 0x0022)[1], 1);
    EXPECT_EQ(Stored(monitor, 0xFF03, 0x0030)[0], 2);
    EXPECT_EQ(Stored(monitor, 0xFF10, 0x0040), (std::vector<std::uint8_t>{0x01, 0x00, 0x00, 0x00}));

    // Out-of-range readings leave the caller's variable alone; arguments out of range are refused.
    ASSERT_NE(MonWriteValue(h, 0xFF01, 0x0045, 2), 0u);  // no write gives it; a monitor may hold it
    monitor.HoldSetting({0xFF01, 0x0045}, {2});
    s45 = -7;
    EXPECT_EQ(MonGetSetting45(h, &s45), 0u);
    EXPECT_EQ(s45, -7);
    EXPECT_EQ(MonSetSetting53(h, 2), kMonBadArgument);
    EXPECT_EQ(ReadRaw(h, 0xFF01, 0x0053), 0);
    EXPECT_EQ(MonGetSetting54(h, nullptr), kMonBadArgument);
    EXPECT_EQ(MonGetSetting40(h, nullptr), kMonBadArgument);
    EXPECT_TRUE(clock.Waits().empty());
}

TEST_P(CommandTest, LegacySettingsFallBack) {
    MonitorConfig config = QuietConfig(GetParam());
    config.legacySettings = true;
    Monitor& monitor = platform.Add(config);
    const MonitorHandle h = OpenNormal();
    RecordingLog log;
    monitor.SetLog(&log);

    std::int32_t s45 = -7;
    EXPECT_EQ(MonGetSetting45(h, &s45), 0u);
    EXPECT_EQ(s45, 0);
    EXPECT_TRUE(log.records.empty());  // answered without asking the monitor
    EXPECT_EQ(MonSetSetting45(h, 1), 0u);
    EXPECT_EQ(ReadRaw(h, 0xFF01, 0x00A4), 1200);
    EXPECT_EQ(MonSetSetting45(h, 2), 0u);
    EXPECT_EQ(ReadRaw(h, 0xFF01, 0x00A4), 0);

    // Bits 4 and 5 of the flags, inverted; the upper 16 bits are dropped on the way back.
    ASSERT_EQ(MonWriteValue(h, 0xFF00, 0x0009, static_cast<std::int32_t>(0xABCD0010)), 0u);
    EXPECT_EQ(MonSetSetting54(h, 0), 0u);
    EXPECT_EQ(ReadRaw(h, 0xFF00, 0x0009), 0x0030);
    std::uint16_t s54 = 9;
    EXPECT_EQ(MonGetSetting54(h, &s54), 0u);
    EXPECT_EQ(s54, 0);
    std::int32_t s53 = -7;
    EXPECT_EQ(MonGetSetting53(h, &s53), 0u);
    EXPECT_EQ(s53, 0);
    EXPECT_EQ(MonSetSetting53(h, 2), 0u);  // any non-zero value switches it on here
    EXPECT_EQ(ReadRaw(h, 0xFF00, 0x0009), 0x0020);
    EXPECT_EQ(MonSetSetting54(h, 7), 0u);
    EXPECT_EQ(ReadRaw(h, 0xFF00, 0x0009), 0x0000);
    EXPECT_EQ(MonGetSetting53(h, &s53), 0u);
    EXPECT_EQ(s53, 1);
}

TEST_P(CommandTest, FirmwareVersionText) {
    MonitorConfig config = QuietConfig(GetParam());
    config.firmware = {102, 65535, 3, 1234, 0x1A};
    platform.Add(config);
    const MonitorHandle h = OpenNormal();

    std::array<char, kVersionTextBytes> text;
    text.fill('#');
    EXPECT_EQ(MonGetFirmwareVersion(h, text), 0u);
    EXPECT_STREQ(text.data(), "00102655350000301234" "0001a");

    std::array<std::uint8_t, kVersionRecordBytes> record{};
    EXPECT_EQ(MonReadVersionRecord(h, 0x0101, record), 0u);
    EXPECT_EQ(ReadU16(record, 0), 0x0101);
    EXPECT_STREQ(reinterpret_cast<const char*>(record.data() + 2), "655.35");
}

TEST(VersionRecordTest, NumbersFromRecordTexts) {
    struct Case {
        const char* text;
        std::uint16_t decimal, hex;
    };
    const Case cases[] = {
        {"1.02", 102, 0x1},   {"1.2.3", 12, 0x1},          {"1a", 1, 0x1A},   {"", 0, 0},
        {"x7", 0, 0},           {" -3", 0xFFFD, 0xFFFD},     {"70000", 70000 & 0xFFFF, 0},
        {"abcdef", 0, 0xCDEF},
        {"0123456789012345", static_cast<std::uint16_t>(123456789012345ull), 0},  // all 16 bytes, no zero
    };
    for (const Case& c : cases) {
        std::array<std::uint8_t, kVersionRecordBytes> record{};
        std::memcpy(record.data() + kVersionRecordTextOffset, c.text, std::strlen(c.text));
        EXPECT_EQ(version_record::DecimalNumber(record), c.decimal) << c.text;
        if (std::string(c.text) != "70000" && std::string(c.text) != "0123456789012345") {
            EXPECT_EQ(version_record::HexNumber(record), c.hex) << c.text;
        }
    }
}

TEST_P(CommandTest, ControlLockAndBusyFlag) {
    MonitorConfig config = QuietConfig(GetParam());
    config.faults.calibratingReads = 1;
    config.faults.busyReads = 3;  // the first reading and two polls
    Monitor& monitor = platform.Add(config);
    const MonitorHandle h = OpenNormal();

    std::uint8_t mode = 0;
    EXPECT_EQ(MonGetLockMode(h, &mode), 0u);
    EXPECT_EQ(mode, kLockModeB);
    EXPECT_EQ(MonGetLockMode(h, nullptr), kMonBadArgument);

    RecordingLog log;
    monitor.SetLog(&log);
    EXPECT_EQ(MonAcquireControlLock(h, kLockModeB), kMonLockRefused);
    for (const TransferRecord& r : log.records) EXPECT_FALSE(IsWriteOf(r, {0xFF03, 0x0080}));
    if (GetParam() == MonitorKind::OlderNative) {
        ASSERT_EQ(log.records.size(), 1u);  // one read, no write
        EXPECT_FALSE(log.records[0].isSet);
    }
    EXPECT_EQ(MonAcquireControlLock(h, kLockModeB), 0u);
    std::array<std::uint8_t, 2> lock{};
    EXPECT_EQ(MonReadBlock(h, 0xFF03, 0x0080, lock), 0u);
    EXPECT_EQ(lock, (std::array<std::uint8_t, 2>{5, 60}));
    EXPECT_TRUE(monitor.LockHeld());
    EXPECT_EQ(MonAcquireControlLock(h, kLockModeNone), 0u);
    EXPECT_EQ(MonReadBlock(h, 0xFF03, 0x0080, lock), 0u);
    EXPECT_EQ(lock, (std::array<std::uint8_t, 2>{0, 0}));
    EXPECT_FALSE(monitor.LockHeld());

    EXPECT_EQ(MonClearBusyFlag(h), 0u);
    EXPECT_EQ(clock.Waits(), (Waits{1000, 1000}));
    clock.ClearWaits();
    EXPECT_EQ(MonClearBusyFlag(h), 0u);  // not busy: nothing to wait for
    EXPECT_TRUE(clock.Waits().empty());

    monitor.AddFaults({.busyReads = FaultPlan::kAlways});
    EXPECT_EQ(MonClearBusyFlag(h), kMonTransferFailed);
    EXPECT_EQ(clock.Waits(), Waits(kBusyFlagPolls, 1000));
}

TEST_P(CommandTest, IndexedSettings) {
    Monitor& monitor = AddMonitor();
    const MonitorHandle h = OpenNormal();

    std::int32_t value = 0;
    EXPECT_EQ(MonReadIndexedSetting(h, 200, &value), 0u);
    EXPECT_EQ(value, 601);  // factory value 3 * index + 1
    EXPECT_EQ(MonReadIndexedSetting(h, 1, nullptr), kMonBadArgument);

    RecordingLog log;
    monitor.SetLog(&log);
    EXPECT_EQ(MonRewriteIndexedSetting(h, 17), 0u);
    EXPECT_EQ(monitor.IndexedSetting(17), 52u);
    int storeRequests = 0;
    for (const TransferRecord& r : log.records) storeRequests += IsWriteOf(r, {0xFF01, 0x00F2}) ? 1 : 0;
    EXPECT_EQ(storeRequests, 1);
}

TEST_P(CommandTest, IdentifyAndCompletion) {
    Monitor& monitor = AddMonitor();
    const MonitorHandle h = OpenNormal();

    EXPECT_EQ(MonIdentify(h, true), 0u);
    EXPECT_EQ(ReadRaw(h, 0xFF00, 0x000F), 0x4000);  // every kind here has component selection
    EXPECT_EQ(MonIdentify(h, false), 0u);
    EXPECT_EQ(ReadRaw(h, 0xFF00, 0x000F), 0x8000);
    EXPECT_TRUE(clock.Waits().empty());

    EXPECT_EQ(ReadRaw(h, 0xFF02, 0x0037), 0);
    EXPECT_EQ(MonRunCompletionCommand(h), 0u);  // works for 3 s, polled every second
    EXPECT_EQ(clock.Waits(), (Waits{1000, 1000, 1000}));
    (void)monitor;
}

// A native monitor with little more than its identity, for the paths that
// depend on usages the emulated monitors all have.
class SparseMonitorTest : public LayerTest {
protected:
    SparseMonitorTest() {
        DescriptorBuilder d;
        d.UsagePage(0xFF00).Usage(0x0001).Application();
        d.ReportId(1).FeatureValue(0x0035, 8, 32);
        d.ReportId(2).FeatureValue(0x000F, 16);
        d.UsagePage(0xFF02).ReportId(3).FeatureValue(0x0037, 8);
        d.End();
        FakeDevice& device = fakes.Add("fake:VID_7E51&PID_4001#1");
        device.attributes = {0x7E51, 0x4001, 0x0102};
        device.descriptor = d.bytes;
        device.onGet = [this](std::span<std::uint8_t> report) {
            if (report[0] == 1) std::memcpy(report.data() + 1, "SPARSE01QS24", 12);
            if (report[0] == 3) report[1] = completion;
            return HidIo::Ok;
        };
        fake = &device;
    }

    MonitorHandle Open() {
        MonOpenDevices(kFamilyNormal);
        MonitorHandle h = kNoMonitor;
        EXPECT_EQ(MonGetDevice(kFamilyNormal, 0, &h), 0u);
        fake->transfers.clear();
        clock.ClearWaits();
        return h;
    }

    FakePlatform fakes;
    ScopedHidPlatform useFakes{fakes};
    FakeDevice* fake = nullptr;
    std::uint8_t completion = 0;
};

TEST_F(SparseMonitorTest, MissingUsages) {
    const MonitorHandle h = Open();
    std::uint16_t u16 = 0;
    std::int32_t i32 = 0;
    std::uint8_t u8 = 9;
    EXPECT_EQ(MonGetSetting54(h, &u16), kMonUnavailable);
    EXPECT_EQ(MonGetSetting45(h, &i32), kMonUnavailable);
    EXPECT_EQ(MonGetSetting53(h, &i32), kMonUnavailable);
    EXPECT_EQ(MonGetSetting68(h, &u16), kMonUnavailable);
    EXPECT_EQ(MonGetSetting22(h, &u8), kMonUnavailable);
    EXPECT_EQ(MonSetSetting30(h, 1), kMonUnavailable);
    EXPECT_EQ(MonSetSetting40(h, 1), kMonUnavailable);
    EXPECT_EQ(MonSetSwitchF0(h, 1), kMonUnavailable);
    EXPECT_EQ(MonReadIndexedSetting(h, 1, &i32), kMonUnavailable);
    EXPECT_EQ(MonAcquireControlLock(h, 5), kMonUnavailable);
    EXPECT_EQ(MonClearBusyFlag(h), kMonUnavailable);
    EXPECT_EQ(MonGetLockMode(h, &u8), 0u);
    EXPECT_EQ(u8, kLockModeNone);
    EXPECT_EQ(MonSetSetting45(h, 1), 0u);  // nothing to put back
    EXPECT_TRUE(fake->transfers.empty());

    std::array<char, kVersionTextBytes> text;
    text.fill('#');
    EXPECT_EQ(MonGetFirmwareVersion(h, text), kMonVersionIncomplete);
    EXPECT_STREQ(text.data(), "0000000000000000000000000");
}

TEST_F(SparseMonitorTest, IdentifyWithoutComponentSelectionPausesFirst) {
    const MonitorHandle h = Open();
    EXPECT_EQ(MonIdentify(h, true), 0u);
    EXPECT_EQ(clock.Waits(), (Waits{kIdentifyPauseMs}));
    ASSERT_EQ(fake->transfers.size(), 2u);
    EXPECT_EQ(ReadU16(fake->transfers[0].bytes, 1), 0x8000);
    EXPECT_EQ(ReadU16(fake->transfers[1].bytes, 1), 0x0010);
}

TEST_F(SparseMonitorTest, CompletionStates) {
    const MonitorHandle h = Open();
    struct Case {
        std::uint8_t state;
        Status status;
        Waits waits;
    };
    const Case cases[] = {
        {1, 0u, {}},
        {0, kMonFailed, {}},
        {7, kMonFailed, {}},  // polled kCompletionPolls times without a wait
        {2, kMonFailed, Waits(kCompletionPolls, kCompletionPollMs)},
    };
    for (const Case& c : cases) {
        completion = c.state;
        clock.ClearWaits();
        fake->transfers.clear();
        EXPECT_EQ(MonRunCompletionCommand(h), c.status) << int{c.state};
        EXPECT_EQ(clock.Waits(), c.waits) << int{c.state};
        ASSERT_FALSE(fake->transfers.empty());
        EXPECT_EQ(fake->transfers.front().bytes[1], 0xFF);
        const std::size_t reads = c.state == 7 || c.state == 2 ? kCompletionPolls : 1;
        EXPECT_EQ(fake->transfers.size(), 1 + reads) << int{c.state};
    }
    fake->onSet = [](std::span<const std::uint8_t>) { return HidIo::Failed; };
    EXPECT_EQ(MonRunCompletionCommand(h), kMonFailed);
}

// Fields 1 and 2 come as a pair: a failed read of either leaves both at zero.
TEST_F(LayerTest, FirmwareVersionFieldsOneAndTwoArePaired) {
    DescriptorBuilder d;
    d.UsagePage(0xFF00).Usage(0x0001).Application();
    d.ReportId(1).FeatureValue(0x0035, 8, 32);
    d.ReportId(2).FeatureValue(0x00D8, 8, 18);
    d.End();
    FakePlatform fakes;
    ScopedHidPlatform useFakes{fakes};
    FakeDevice& device = fakes.Add("fake:VID_7E51&PID_4001#1");
    device.attributes = {0x7E51, 0x4001, 0x0102};
    device.descriptor = d.bytes;
    std::uint16_t selector = 0;
    std::uint16_t failing = 0x0101;
    device.onSet = [&](std::span<const std::uint8_t> report) {
        if (report[0] == 2) selector = ReadU16(report, 1);
        return HidIo::Ok;
    };
    device.onGet = [&](std::span<std::uint8_t> report) {
        if (report[0] == 1) std::memcpy(report.data() + 1, "VERSION1QV24", 12);
        if (report[0] != 2) return HidIo::Ok;
        if (selector == failing) return HidIo::Failed;
        WriteU16(report, 1, selector);
        const char* text = selector == 0x0600 ? "1f" : "3.21";
        std::memcpy(report.data() + 3, text, std::strlen(text));
        return HidIo::Ok;
    };
    MonOpenDevices(kFamilyNormal);
    MonitorHandle h = kNoMonitor;
    ASSERT_EQ(MonGetDevice(kFamilyNormal, 0, &h), 0u);

    struct Case {
        std::uint16_t failing;
        Status status;
        const char* text;
    };
    const Case cases[] = {
        {0x0000, 0u, "003210032100321003210001f"},
        {0x0101, kMonVersionIncomplete, "000000000000321003210001f"},
        {0x0100, kMonVersionIncomplete, "000000000000321003210001f"},
        {0x0500, kMonVersionIncomplete, "003210032100000003210001f"},
        {0x0600, kMonVersionIncomplete, "0032100321003210032100000"},
    };
    for (const Case& c : cases) {
        failing = c.failing;
        std::array<char, kVersionTextBytes> text{};
        EXPECT_EQ(MonGetFirmwareVersion(h, text), c.status) << c.failing;
        EXPECT_STREQ(text.data(), c.text) << c.failing;
    }
    std::array<std::uint8_t, kVersionRecordBytes> record{};
    record.fill(0xEE);
    failing = 0x0400;
    EXPECT_EQ(MonReadVersionRecord(h, 0x0400, record), kMonTransferFailed);
    EXPECT_EQ(record[0], 0xEE);  // untouched on failure
    MonCloseDevices(kAllFamilies);
}

}  // namespace
