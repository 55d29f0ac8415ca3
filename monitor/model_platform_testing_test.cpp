#include "monitor/model_platform_testing.h"

#include <gtest/gtest.h>

#include "common/clock.h"
#include "monitor/layer_fixture_testing.h"
#include "emulator/report_layout.h"

namespace {

class ModelPlatformTest : public ::testing::Test {
protected:
    static std::uint8_t ReportIdOf(const Monitor& monitor, std::uint16_t page, std::uint16_t usage) {
        const auto layout = ReportLayout::Parse(monitor.Descriptor());
        const FieldLayout* field = layout ? layout->Find({page, usage}) : nullptr;
        EXPECT_NE(field, nullptr);
        return field != nullptr ? field->reportId : 0;
    }

    VirtualClock clock{5000};
    ScopedClock useClock{clock};
    ModelPlatform platform;
};

TEST_F(ModelPlatformTest, EachPlugInIsAPathWithTheMonitorsInterface) {
    Monitor& native = platform.Add(QuietConfig(MonitorKind::OlderNative));
    Monitor& combined = platform.Add(QuietConfig(MonitorKind::CombinedTunnel));
    EXPECT_EQ(platform.EnumeratePaths(),
              (std::vector<std::string>{"emulated:VID_7E51&PID_4001#1", "emulated:VID_7E53&PID_4203#2"}));

    const auto connection = platform.Open(platform.PathOf(combined), false);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->Attributes().vendorId, 0x7E53);
    EXPECT_EQ(connection->Attributes().productId, 0x4203);
    EXPECT_EQ(connection->Attributes().versionNumber, 0x0102);
    const std::vector<std::uint8_t> descriptor(connection->ReportDescriptor().begin(),
                                               connection->ReportDescriptor().end());
    EXPECT_EQ(descriptor, combined.Descriptor());
    EXPECT_NE(descriptor, native.Descriptor());
    EXPECT_EQ(platform.Open("emulated:VID_7E51&PID_4001#9", false), nullptr);
}

TEST_F(ModelPlatformTest, FeatureReportsReachTheMonitorAndRepliesFitTheBuffer) {
    Monitor& monitor = platform.Add(QuietConfig(MonitorKind::OlderTunnel));
    const auto connection = platform.Open(platform.PathOf(monitor), false);
    const std::uint8_t tokenReport = ReportIdOf(monitor, 0xFF30, 0x0006);

    std::vector<std::uint8_t> report{tokenReport, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(connection->GetFeature(report), HidIo::Ok);
    EXPECT_EQ(report[1] | report[2] << 8, monitor.TunnelToken());
    EXPECT_EQ(report[3], 0xEE);  // beyond the 3-byte report: left alone

    std::vector<std::uint8_t> shorter{tokenReport, 0xEE};
    EXPECT_EQ(connection->GetFeature(shorter), HidIo::Ok);
    EXPECT_EQ(shorter[1], monitor.TunnelToken() & 0xFF);

    std::vector<std::uint8_t> undeclared{0xF0, 0};
    EXPECT_EQ(connection->GetFeature(undeclared), HidIo::Failed);
    EXPECT_EQ(connection->SetFeature(std::vector<std::uint8_t>{tokenReport, 1, 2}), HidIo::Failed);  // read-only
}

TEST_F(ModelPlatformTest, RestartedMonitorComesBackUnderANewPathOnceItsTimeHasPassed) {
    MonitorConfig config = QuietConfig(MonitorKind::OlderNative);
    config.restartMs = 7000;
    Monitor& monitor = platform.Add(config);
    const std::string firstPath = platform.PathOf(monitor);
    const auto before = platform.Open(firstPath, false);

    EXPECT_EQ(before->SetFeature(std::vector<std::uint8_t>{ReportIdOf(monitor, 0xFF02, 0x00F4), 0}), HidIo::Ok);
    std::vector<std::uint8_t> probe{ReportIdOf(monitor, 0xFF01, 0x0068), 0, 0};
    EXPECT_EQ(before->GetFeature(probe), HidIo::NotConnected);
    EXPECT_EQ(platform.EnumeratePaths(), std::vector<std::string>{});

    clock.Advance(6999);
    EXPECT_EQ(platform.EnumeratePaths(), std::vector<std::string>{});
    clock.Advance(1);
    EXPECT_EQ(platform.EnumeratePaths(), std::vector<std::string>{"emulated:VID_7E51&PID_4001#2"});
    EXPECT_EQ(before->GetFeature(probe), HidIo::NotConnected);  // that plug-in has ended for good
    const auto after = platform.Open(platform.PathOf(monitor), false);
    EXPECT_EQ(after->GetFeature(probe), HidIo::Ok);
    EXPECT_EQ(probe[1], 1);  // the monitor's setting 68
}

TEST_F(ModelPlatformTest, MonitorThatDoesNotComeBackStaysOffTheList) {
    MonitorConfig config = QuietConfig(MonitorKind::CombinedTunnel);
    config.faults.noReturn = true;
    Monitor& monitor = platform.Add(config);
    const auto connection = platform.Open(platform.PathOf(monitor), false);
    const std::uint8_t restart = ReportIdOf(monitor, 0xFF30, 0x0002);
    // A tunnelled restart command: page 0xFF02, usage 0x00F4, the token, value 0.
    std::vector<std::uint8_t> request(41, 0);
    request[0] = restart;
    request[1] = 0x02, request[2] = 0xFF, request[3] = 0xF4, request[4] = 0x00;
    request[5] = static_cast<std::uint8_t>(monitor.TunnelToken()), request[6] = monitor.TunnelToken() >> 8;
    EXPECT_EQ(connection->SetFeature(request), HidIo::Ok);
    clock.Advance(24 * 3600 * 1000);
    EXPECT_EQ(platform.EnumeratePaths(), std::vector<std::string>{});
}

TEST_F(ModelPlatformTest, UnpluggedCableEndsTheConnectionUntilReplugged) {
    Monitor& monitor = platform.Add(QuietConfig(MonitorKind::OlderNative));
    const auto connection = platform.Open(platform.PathOf(monitor), false);
    platform.Unplug(monitor);
    EXPECT_EQ(platform.EnumeratePaths(), std::vector<std::string>{});
    std::vector<std::uint8_t> probe{1, 0};
    EXPECT_EQ(connection->GetFeature(probe), HidIo::NotConnected);
    platform.Replug(monitor);
    EXPECT_EQ(platform.EnumeratePaths(), std::vector<std::string>{"emulated:VID_7E51&PID_4001#2"});
    EXPECT_EQ(connection->GetFeature(probe), HidIo::NotConnected);
}

}  // namespace
