// The device model driven directly: transfer log, transfer time, faults that
// need no socket, and firmware as state.
#include <cerrno>
#include <fstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "common/bytes.h"
#include "common/clock.h"
#include "emulator/monitor.h"
#include "emulator/emulator_testing.h"

namespace {

class MonitorTest : public ::testing::Test {
protected:
    MonitorTest() : scoped_(clock_) {}

    // Report ID of a usage on the monitor's interface.
    static std::uint8_t IdOf(const Monitor& monitor, UsageAddress address) {
        return ReportLayout::Parse(monitor.Descriptor())->Find(address)->reportId;
    }

    VirtualClock clock_;
    ScopedClock scoped_;
};

TEST_F(MonitorTest, LogRecordsEveryTransferAsTheDeviceResolvedIt) {
    Monitor monitor(TestConfig(MonitorKind::CombinedTunnel));
    RecordingLog log;
    monitor.SetLog(&log);
    const std::uint8_t token = IdOf(monitor, {0xFF30, 0x0006}), channel = IdOf(monitor, {0xFF30, 0x0003});

    clock_.Advance(5);
    ASSERT_EQ(monitor.GetReport(token).err, 0);
    std::vector<std::uint8_t> request(1 + kShortChannelBytes);
    request[0] = channel;
    WriteU16(request, 1, 0xFF00);
    WriteU16(request, 3, 0x00B8);
    WriteU16(request, 5, monitor.TunnelToken());
    ASSERT_EQ(monitor.SetReport(request), 0);
    EXPECT_EQ(monitor.GetReport(0xEE).err, EIO);

    ASSERT_EQ(log.records.size(), 3u);
    EXPECT_EQ(log.records[0].timeMs, 5u);
    EXPECT_FALSE(log.records[0].isSet);
    EXPECT_EQ(log.records[0].report, (UsageAddress{0xFF30, 0x0006}));
    EXPECT_EQ(log.records[0].bytes.size(), 3u);
    EXPECT_TRUE(log.records[1].isSet);
    EXPECT_EQ(log.records[1].tunnelled, (UsageAddress{0xFF00, 0x00B8}));
    EXPECT_EQ(log.records[1].bytes, request);
    EXPECT_EQ(log.records[2].err, EIO);
    EXPECT_EQ(log.records[1].Format().substr(0, 29), "5 SET FF30:0003 FF00:00B8 ok ");
}

TEST_F(MonitorTest, TransfersTakeTimeOnTheClock) {
    MonitorConfig config = TestConfig(MonitorKind::CombinedTunnel);
    config.transferTime = {1000, 100};
    Monitor monitor(config);
    const std::uint8_t chunk = IdOf(monitor, {0xFF30, 0x0001}), longRead = IdOf(monitor, {0xFF30, 0x0005});
    // 65 bytes: two 64-byte packets, 1.2 ms each; the fractions carry over.
    for (int i = 0; i < 5; ++i) monitor.GetReport(chunk);
    EXPECT_EQ(clock_.NowMs(), 6u);
    // 531 bytes: nine packets, 1.9 ms.
    for (int i = 0; i < 10; ++i) monitor.GetReport(longRead);
    EXPECT_EQ(clock_.NowMs(), 25u);
}

TEST_F(MonitorTest, CorruptedWriteCannotRun) {
    MonitorConfig config = TestConfig(MonitorKind::OlderTunnel);
    config.faults.corruptWrites = 1;
    TempDir dir;
    ServedMonitor socketed(config, dir.Path());
    TestHost host = socketed.Connect();
    ASSERT_EQ(host.WriteValue({0xFF02, 0x00FB}, 1), 0);
    ASSERT_EQ(host.WriteValue({0xFF02, 0x00F4}, 0), 0);  // into the update state
    host = socketed.Connect();
    const ComponentArea& inp = ComponentAreas()[3];
    const auto image = MakeImage(inp, 55, inp.Capacity(), 4);
    ASSERT_EQ(WriteComponent(host, "INP027", image, false), 0);
    EXPECT_NE(ReadComponent(host, "INP027", image.size()), image);  // read-back shows the damage
    ASSERT_EQ(host.WriteValue({0xFF02, 0x00FB}, 0), 0);
    ASSERT_EQ(host.WriteValue({0xFF02, 0x00F4}, 0), 0);
    EXPECT_EQ(socketed.monitor->Mode(), MonitorMode::Stopped);
    EXPECT_EQ(socketed.monitor->Attributes().product, 0x0006);
    EXPECT_EQ(socketed.monitor->RunningVersion()[2], 0);
}

TEST_F(MonitorTest, ScaledAreasHoldAndRunWholeLargerImages) {
    MonitorConfig config = TestConfig(MonitorKind::OlderTunnel);
    config.areaScale = 3;
    TempDir dir;
    ServedMonitor socketed(config, dir.Path());
    TestHost host = socketed.Connect();
    // INP027 is 256 × 4; scaled, its geometry reads 256 × 12.
    const ComponentArea& inp = socketed.monitor->Area(3);
    ASSERT_EQ(inp.id, "INP027");
    ASSERT_EQ(inp.blockCount, 12);
    ASSERT_EQ(host.Write({0xFF02, 0x00C2}, std::vector<std::uint8_t>{'I', 'N', 'P', '0', '2', '7', 0, 0, 0, 0}), 0);
    const auto geometry = host.Read({0xFF02, 0x00C3});
    ASSERT_TRUE(geometry);
    EXPECT_EQ(ReadU16(*geometry, 6), 256);
    EXPECT_EQ(ReadU16(*geometry, 8), 12);
    // An image filling the scaled area is written, read back to its last block, and runs.
    ASSERT_EQ(host.WriteValue({0xFF02, 0x00FB}, 1), 0);
    ASSERT_EQ(host.WriteValue({0xFF02, 0x00F4}, 0), 0);  // into the update state
    host = socketed.Connect();
    const auto image = MakeImage(inp, 55, inp.Capacity(), 4);
    ASSERT_EQ(image.size(), 3072u);
    ASSERT_EQ(WriteComponent(host, "INP027", image, false), 0);
    EXPECT_EQ(ReadComponent(host, "INP027", image.size()), image);
    EXPECT_EQ(socketed.monitor->HeldComponent(3), image);
    ASSERT_EQ(host.WriteValue({0xFF02, 0x00FB}, 0), 0);
    ASSERT_EQ(host.WriteValue({0xFF02, 0x00F4}, 0), 0);
    EXPECT_EQ(socketed.monitor->Mode(), MonitorMode::Running);
    EXPECT_EQ(socketed.monitor->RunningVersion()[2], 55);
}

TEST_F(MonitorTest, AreaScaleBeyondSixteenBitBlockCountsIsRefused) {
    MonitorConfig config = TestConfig(MonitorKind::OlderNative);
    config.areaScale = 65535 / 8 + 1;  // PRG000 has 8 blocks
    EXPECT_NE(Monitor{config}.StartupFault(), "");
    EXPECT_EQ(Monitor{config}.Area(0).blockCount, 8);  // its normal areas
    config.areaScale = 0;
    EXPECT_NE(Monitor{config}.StartupFault(), "");
    config.areaScale = 65535 / 8;
    EXPECT_EQ(Monitor{config}.StartupFault(), "");
    EXPECT_EQ(Monitor{config}.Area(0).blockCount, 65528);
}

TEST_F(MonitorTest, RestartWaitsItsTimeOnTheClock) {
    MonitorConfig config = TestConfig(MonitorKind::OlderNative);
    config.restartMs = 7000;
    TempDir dir;
    ServedMonitor served(config, dir.Path());
    TestHost host = served.Connect();
    ASSERT_EQ(host.WriteValue({0xFF02, 0x00F4}, 0), 0);
    EXPECT_EQ(clock_.NowMs(), 7000u);
    EXPECT_TRUE(served.monitor->PluggedIn());
    EXPECT_TRUE(host.Destroyed());
    // Other values do not restart it.
    TestHost again = served.Connect();
    ASSERT_EQ(again.WriteValue({0xFF02, 0x00F4}, 1), 0);
    EXPECT_TRUE(served.monitor->PluggedIn());
}

TEST_F(MonitorTest, UnusableStateFileIsReported) {
    TempDir dir;
    MonitorConfig config = TestConfig(MonitorKind::OlderNative);
    config.statePath = dir.Path() + "/state";
    std::ofstream(config.statePath) << "not a state";
    Monitor monitor(config);
    EXPECT_FALSE(monitor.StartupFault().empty());
    std::ifstream kept(config.statePath);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "not a state");
}

TEST_F(MonitorTest, LegacySettingsUseTheStatusWord) {
    MonitorConfig config = TestConfig(MonitorKind::OlderNative);
    config.legacySettings = true;
    Monitor monitor(config);
    const auto layout = ReportLayout::Parse(monitor.Descriptor());
    EXPECT_EQ(layout->Find({0xFF01, 0x0054}), nullptr);
    const std::uint8_t word = layout->Find({0xFF00, 0x0009})->reportId;
    const std::uint8_t a4 = layout->Find({0xFF01, 0x00A4})->reportId;
    EXPECT_EQ(monitor.GetReport(a4).data, (std::vector<std::uint8_t>{a4, 0xB0, 0x04}));  // 1200
    // The host sets bit 5 and writes the word back; the monitor keeps it.
    ASSERT_EQ(monitor.SetReport(std::vector<std::uint8_t>{word, 0x20, 0, 0, 0}), 0);
    EXPECT_EQ(monitor.GetReport(word).data, (std::vector<std::uint8_t>{word, 0x20, 0, 0, 0}));
}

}  // namespace
