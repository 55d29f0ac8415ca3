// The monitor contract, checked from the host's side over a real socket.
#include <linux/uhid.h>

#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "common/bytes.h"
#include "common/crc32.h"
#include "emulator/emulator_testing.h"

namespace {

constexpr UsageAddress kIdentity{0xFF00, 0x0035}, kVersionRecord{0xFF00, 0x00D8}, kB8{0xFF00, 0x00B8};
constexpr UsageAddress kIndexSelect{0xFF01, 0x00F1}, kIndexValue{0xFF01, 0x00F2};
constexpr UsageAddress kCompletion{0xFF02, 0x0037}, kRestart{0xFF02, 0x00F4}, kBootSelector{0xFF02, 0x00FB},
    kChecksum{0xFF02, 0x00FC}, kStoppedMark{0xFF02, 0x00F8};
constexpr UsageAddress kBusy{0xFF03, 0x0004}, kLock{0xFF03, 0x0080};

struct KindCase {
    MonitorKind kind;
    std::uint16_t vendor;
    bool tunnel;
    bool combined;
};

class ContractTest : public ::testing::TestWithParam<KindCase> {
protected:
    ContractTest() : scoped_(clock_) {}
    MonitorConfig Config() const { return TestConfig(GetParam().kind); }

    VirtualClock clock_;
    ScopedClock scoped_;
    TempDir dir_;
};

std::string VersionText(TestHost& host, std::uint16_t selector) {
    std::vector<std::uint8_t> request(18);
    WriteU16(request, 0, selector);
    EXPECT_EQ(host.Write(kVersionRecord, request), 0);
    const auto record = host.Read(kVersionRecord);
    if (!record) return "(failed)";
    return std::string(reinterpret_cast<const char*>(record->data() + 2));
}

// Restarts the monitor and serves until it is back under a new name.
void Restart(ServedMonitor& served, TestHost& host, std::uint8_t bootSelector) {
    ASSERT_EQ(host.WriteValue(kBootSelector, bootSelector), 0);
    const std::string before = served.server->Path();
    ASSERT_EQ(host.WriteValue(kRestart, 0), 0);
    EXPECT_TRUE(host.Destroyed());
    EXPECT_FALSE(std::filesystem::exists(before));
    EXPECT_NE(served.server->Path(), before);
    EXPECT_TRUE(std::filesystem::exists(served.server->Path()));
}

TEST_P(ContractTest, PlugsInAndIdentifiesItself) {
    ServedMonitor served(Config(), dir_.Path());
    TestHost host = served.Connect();
    ASSERT_TRUE(host.Connected());
    EXPECT_EQ(host.Create().bus, BUS_USB);
    EXPECT_EQ(host.Create().vendor, GetParam().vendor);
    EXPECT_EQ(host.Create().product & 0xC000, 0x4000u);  // product class 0x4000: family 1
    EXPECT_EQ(host.Create().descriptor, served.monitor->Descriptor());
    char expectedName[32];
    std::snprintf(expectedName, sizeof expectedName, "VID_%04X&PID_%04X#[0-9A-F]{4}", host.Create().vendor,
                  host.Create().product);
    EXPECT_TRUE(std::regex_match(std::filesystem::path(served.server->Path()).filename().string(),
                                 std::regex(expectedName)));
    EXPECT_EQ(host.Tunnelled().has_value(), GetParam().tunnel);
    if (host.Tunnelled()) {
        EXPECT_EQ(host.Tunnelled()->Root(), (UsageAddress{0x80, 0x01}));
        EXPECT_NE(host.Token(), 0);
    }

    const auto identity = host.Read(kIdentity);
    ASSERT_TRUE(identity);
    EXPECT_EQ(std::string(identity->begin(), identity->begin() + 8), "SN123456");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(identity->data() + 8)), "QX2701");

    // Every report comes back at the length the descriptor declares, report ID first.
    for (const auto& [address, field] : host.Layout().Fields()) {
        if (address == UsageAddress{0xFF02, 0x00C7}) continue;  // no packet without a selected component
        std::vector<std::uint8_t> report;
        ASSERT_EQ(host.GetReport(field.reportId, report), 0);
        EXPECT_EQ(report.size(), host.Layout().ReportLength(field.reportId));
        EXPECT_EQ(report[0], field.reportId);
    }
    std::vector<std::uint8_t> report;
    EXPECT_EQ(host.GetReport(0xEE, report), EIO);
}

// Whatever bytes a monitor's identity holds reach the host as they are: control
// characters, bytes that are not UTF-8, a model that fills its whole field.
TEST_P(ContractTest, HostileIdentityIsServedByteForByte) {
    const std::string serials[]{"S\x07\xc3N", "\xff\xfe\x01\x1b[2J\x7f"};
    const std::string models[]{"QX\x1b[2J\xff\xfe" "27", "\x80\xc0\x9b\r\n\t\\" + std::string(17, '\xe9')};
    for (std::size_t i = 0; i < std::size(models); ++i) {
        MonitorConfig config = Config();
        config.serial = serials[i];
        config.model = models[i];
        ServedMonitor served(config, dir_.Path());
        TestHost host = served.Connect();
        const auto identity = host.Read(kIdentity);
        ASSERT_TRUE(identity);
        std::string expected = serials[i];
        expected.resize(8, '\0');
        expected += models[i];
        expected.resize(identity->size(), '\0');
        EXPECT_EQ(std::string(identity->begin(), identity->end()), expected);
    }
}

TEST_P(ContractTest, VersionRecordsGiveTheFieldsOfItsFirmware) {
    ServedMonitor served(Config(), dir_.Path());
    TestHost host = served.Connect();
    EXPECT_EQ(VersionText(host, 0x0100), "1.02");
    EXPECT_EQ(VersionText(host, 0x0101), "2.01");
    EXPECT_EQ(VersionText(host, 0x0500), "0.03");
    EXPECT_EQ(VersionText(host, 0x0400), "0.04");
    EXPECT_EQ(VersionText(host, 0x0600), "1a");
    EXPECT_EQ(VersionText(host, 0x0700), "");
}

TEST_P(ContractTest, SettingsKeepWhatIsWritten) {
    ServedMonitor served(Config(), dir_.Path());
    TestHost host = served.Connect();
    EXPECT_EQ(host.ReadValue(kB8), 1u);
    ASSERT_EQ(host.WriteValue(kB8, 0), 0);
    EXPECT_EQ(host.ReadValue(kB8), 0u);

    // Indexed settings: [index, 3] selects a read, [index, 2] the next value write.
    ASSERT_EQ(host.Write(kIndexSelect, {5, 3}), 0);
    EXPECT_EQ(host.ReadValue(kIndexValue), 16u);
    ASSERT_EQ(host.Write(kIndexSelect, {5, 2}), 0);
    ASSERT_EQ(host.WriteValue(kIndexValue, 99), 0);
    ASSERT_EQ(host.Write(kIndexSelect, {5, 3}), 0);
    EXPECT_EQ(host.ReadValue(kIndexValue), 99u);
    EXPECT_NE(host.WriteValue(kIndexValue, 7), 0);  // no write selected
}

TEST_P(ContractTest, LockBusyAndCalibrating) {
    ServedMonitor served(Config(), dir_.Path());
    TestHost host = served.Connect();
    EXPECT_EQ(host.Read(kLock), (std::vector<std::uint8_t>{0, 0}));
    ASSERT_EQ(host.Write(kLock, {5, 60}), 0);
    EXPECT_EQ(host.Read(kLock), (std::vector<std::uint8_t>{5, 60}));
    EXPECT_NE(host.Write(kLock, {3, 60}), 0);  // not a lock mode

    FaultPlan calibrating;
    calibrating.calibratingReads = 2;
    served.monitor->AddFaults(calibrating);
    EXPECT_EQ(host.Read(kLock)->at(0), 3);
    EXPECT_NE(host.Write(kLock, {5, 60}), 0);  // refused while calibrating
    EXPECT_EQ(host.Read(kLock)->at(0), 3);
    EXPECT_EQ(host.Read(kLock)->at(0), 5);

    EXPECT_EQ(host.ReadValue(kBusy), 0u);
    FaultPlan busy;
    busy.busyReads = 2;
    served.monitor->AddFaults(busy);
    EXPECT_EQ(host.ReadValue(kBusy), 1u);
    ASSERT_EQ(host.WriteValue(kBusy, 0), 0);
    EXPECT_EQ(host.ReadValue(kBusy), 1u);
    EXPECT_EQ(host.ReadValue(kBusy), 0u);
}

TEST_P(ContractTest, CompletionCommandWorksOnTheClock) {
    ServedMonitor served(Config(), dir_.Path());
    TestHost host = served.Connect();
    EXPECT_EQ(host.ReadValue(kCompletion), 0u);
    EXPECT_NE(host.WriteValue(kCompletion, 1), 0);
    ASSERT_EQ(host.WriteValue(kCompletion, 0xFF), 0);
    EXPECT_EQ(host.ReadValue(kCompletion), 2u);
    clock_.Advance(Config().completionMs);
    EXPECT_EQ(host.ReadValue(kCompletion), 1u);
}

TEST_P(ContractTest, GeometryAndReadBack) {
    ServedMonitor served(Config(), dir_.Path());
    TestHost host = served.Connect();
    for (const ComponentArea& area : ComponentAreas()) {
        std::vector<std::uint8_t> select(10);
        std::copy(area.id.begin(), area.id.end(), select.begin());
        ASSERT_EQ(host.Write({0xFF02, 0x00C2}, select), 0);
        const auto geometry = host.Read({0xFF02, 0x00C3});
        ASSERT_TRUE(geometry);
        EXPECT_EQ(std::string(geometry->begin(), geometry->begin() + 6), area.id);
        EXPECT_EQ(ReadU16(*geometry, 6), area.blockSize);
        EXPECT_EQ(ReadU16(*geometry, 8), area.blockCount);
        const std::size_t index = &area - ComponentAreas().data();
        EXPECT_EQ(ReadComponent(host, area.id, area.Capacity()), served.monitor->HeldComponent(index));
    }
}

TEST_P(ContractTest, UpdateRunsTheWrittenFirmwareAfterARestart) {
    ServedMonitor served(Config(), dir_.Path());
    TestHost host = served.Connect();
    if (!GetParam().combined) {
        Restart(served, host, 1);  // into the update state
        host = served.Connect();
        EXPECT_EQ(served.monitor->Mode(), MonitorMode::Update);
        EXPECT_EQ(host.Create().version, GetParam().tunnel ? 0x0102u : 40000u);
        EXPECT_EQ(host.Create().product & 0xC000, 0x4000u);  // still family 1: found again by identity
        ASSERT_TRUE(host.Read(kIdentity));
    } else {
        ASSERT_EQ(host.WriteValue(kBootSelector, 1), 0);
    }

    const ComponentArea& prg001 = ComponentAreas()[1];
    const auto image = MakeImage(prg001, 305, prg001.Capacity(), 9);
    ASSERT_EQ(WriteComponent(host, "PRG001", image, GetParam().combined), 0);
    if (GetParam().combined) {
        std::vector<std::uint8_t> request(15, 0);
        std::copy_n("prg001", 6, request.begin());
        std::fill_n(request.begin() + 6, 4, 0xFF);
        ASSERT_EQ(host.Write(kChecksum, request), 0);
        EXPECT_EQ(host.Read(kChecksum)->at(10), 1);  // still computing
        clock_.Advance(Config().crcMs);
        const auto reply = host.Read(kChecksum);
        EXPECT_EQ(reply->at(10), 0);
        EXPECT_EQ(ReadU32(*reply, 11), Crc32(image));
    } else {
        EXPECT_EQ(ReadComponent(host, "prg001", image.size()), image);
    }
    EXPECT_EQ(VersionText(host, 0x0101), "2.01");  // the running firmware is the old one until the restart

    Restart(served, host, 0);
    host = served.Connect();
    EXPECT_EQ(served.monitor->Mode(), MonitorMode::Running);
    EXPECT_EQ(host.Create().version, 0x0102u);
    EXPECT_EQ(VersionText(host, 0x0101), "3.05");
}

TEST_P(ContractTest, PowerLostInTheUpdateStateComesBackStopped) {
    MonitorConfig config = Config();
    config.statePath = dir_.Path() + "/state";
    {
        ServedMonitor served(config, dir_.Path());
        TestHost host = served.Connect();
        ASSERT_EQ(host.WriteValue(kB8, 0), 0);
        Restart(served, host, 1);
    }  // the process ends: the next start is a power-on
    ServedMonitor served(config, dir_.Path());
    TestHost host = served.Connect();
    EXPECT_EQ(served.monitor->Mode(), MonitorMode::Stopped);
    if (GetParam().tunnel) {
        EXPECT_EQ(host.Create().product, 0x0006u);
        EXPECT_NE(host.Layout().Find(kStoppedMark), nullptr);
    } else {
        EXPECT_EQ(host.Create().product & 0xC000, 0x4000u);
        EXPECT_EQ(host.Create().version, 40000u);
    }
    EXPECT_EQ(host.ReadValue(kB8), 0u);  // settings survive the power cycle
    const auto identity = host.Read(kIdentity);
    ASSERT_TRUE(identity);
    EXPECT_EQ(std::string(identity->begin(), identity->begin() + 8), "SN123456");

    // Restarted with the boot selector 0 it runs its firmware again.
    Restart(served, host, 0);
    host = served.Connect();
    EXPECT_EQ(served.monitor->Mode(), MonitorMode::Running);
    EXPECT_EQ(host.Layout().Find(kStoppedMark), nullptr);
}

TEST_P(ContractTest, PowerLossDuringAWriteLeavesItUnableToRun) {
    ServedMonitor served(Config(), dir_.Path());
    TestHost host = served.Connect();
    // An older monitor takes components in its update state, a combined one with its boot selector 1.
    if (GetParam().combined) {
        ASSERT_EQ(host.WriteValue(kBootSelector, 1), 0);
    } else {
        Restart(served, host, 1);
        host = served.Connect();
    }
    FaultPlan loss;
    loss.unplugAtTransfer = 12;  // within the blocks
    served.monitor->AddFaults(loss);
    const ComponentArea& prg000 = ComponentAreas()[0];
    EXPECT_NE(WriteComponent(host, "PRG000", MakeImage(prg000, 777, prg000.Capacity(), 3), GetParam().combined), 0);
    EXPECT_TRUE(host.Destroyed());
    host = served.Connect();
    ASSERT_TRUE(host.Connected());
    EXPECT_EQ(served.monitor->Mode(), MonitorMode::Stopped);
    EXPECT_EQ(VersionText(host, 0x0100), "0.00");  // the partial image is not run
    EXPECT_EQ(served.monitor->HeldComponent(0).back(), 0xFF);  // the announcement erased the area
}

TEST_P(ContractTest, NeverComesBackWhenToldSo) {
    MonitorConfig config = Config();
    config.faults.noReturn = true;
    ServedMonitor served(config, dir_.Path());
    TestHost host = served.Connect();
    ASSERT_EQ(host.WriteValue(kRestart, 0), 0);
    EXPECT_TRUE(host.Destroyed());
    EXPECT_FALSE(served.server->Present());
    EXPECT_TRUE(std::filesystem::is_empty(dir_.Path()));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ContractTest,
                         ::testing::Values(KindCase{MonitorKind::OlderNative, 0x7E51, false, false},
                                           KindCase{MonitorKind::OlderTunnel, 0x7E52, true, false},
                                           KindCase{MonitorKind::CombinedTunnel, 0x7E53, true, true}),
                         [](const auto& info) {
                             return std::string(info.param.kind == MonitorKind::OlderNative   ? "OlderNative"
                                                : info.param.kind == MonitorKind::OlderTunnel ? "OlderTunnel"
                                                                                              : "CombinedTunnel");
                         });

// ---- The tunnel itself ----

class TunnelTest : public ::testing::Test {
protected:
    TunnelTest() : scoped_(clock_) {}
    VirtualClock clock_;
    ScopedClock scoped_;
    TempDir dir_;
};

TEST_F(TunnelTest, DescriptorTransferResynchronises) {
    ServedMonitor served(TestConfig(MonitorKind::OlderTunnel), dir_.Path());
    TestHost host(served.server->Path(), [&] { served.server->ServeOnce(0); });
    const std::vector<std::uint8_t> expected = TunnelledDescriptor({MonitorKind::OlderTunnel, false, false});

    // Chunks: offset, total, 60 payload bytes; the device moves on after each read.
    ASSERT_EQ(host.Set({0xFF30, 0x0001}, std::vector<std::uint8_t>(64)), 0);
    const auto first = host.Get({0xFF30, 0x0001}), second = host.Get({0xFF30, 0x0001});
    EXPECT_EQ(ReadU16(*first, 0), 0);
    EXPECT_EQ(ReadU16(*first, 2), expected.size());
    EXPECT_EQ(ReadU16(*second, 0), 60);
    EXPECT_TRUE(std::equal(first->begin() + 4, first->end(), expected.begin()));

    FaultPlan lost;
    lost.wrongChunkOffsets = 3;
    served.monitor->AddFaults(lost);
    EXPECT_EQ(host.ReadTunnelledDescriptor(), expected);
    lost.wrongChunkOffsets = 21;
    served.monitor->AddFaults(lost);
    EXPECT_FALSE(host.ReadTunnelledDescriptor());
}

TEST_F(TunnelTest, RepliesEchoPageUsageAndToken) {
    ServedMonitor served(TestConfig(MonitorKind::CombinedTunnel), dir_.Path());
    TestHost host = served.Connect();
    const std::uint16_t token = host.Token();
    ASSERT_EQ(token, served.monitor->TunnelToken());

    const auto reply = host.TunnelRead(0x0003, kB8, token);
    ASSERT_TRUE(reply);
    EXPECT_EQ(ReadU16(*reply, 0), 0xFF00);
    EXPECT_EQ(ReadU16(*reply, 2), 0x00B8);
    EXPECT_EQ(ReadU16(*reply, 4), token);
    EXPECT_EQ(reply->at(6), 1);

    // The owner-checked channels carry the token first, and the reply keeps it.
    const auto owned = host.TunnelRead(0x000C, kB8, token);
    EXPECT_EQ(ReadU16(*owned, 0), token);
    EXPECT_EQ(ReadU16(*owned, 4), 0x00B8);
    EXPECT_EQ(owned->at(8), 1);

    // A reply is handed out once; a request with another boot's token is refused.
    EXPECT_EQ(host.Get({0xFF30, 0x0003}), std::vector<std::uint8_t>(kShortChannelBytes));
    EXPECT_EQ(host.TunnelRead(0x0003, kB8, static_cast<std::uint16_t>(token + 1)), std::nullopt);
    EXPECT_EQ(host.TunnelRead(0x0003, {0xFF00, 0x0077}, token), std::nullopt);

    FaultPlan mismatch;
    mismatch.mismatchedReplies = 2;
    served.monitor->AddFaults(mismatch);
    EXPECT_EQ(host.Read(kB8), std::nullopt);
    EXPECT_EQ(host.Read(kB8), std::nullopt);
    EXPECT_EQ(host.Read(kB8), std::vector<std::uint8_t>{1});
}

TEST_F(TunnelTest, OwnerValueOfAnotherInstance) {
    ServedMonitor free(TestConfig(MonitorKind::CombinedTunnel), dir_.Path());
    TestHost host = free.Connect();
    EXPECT_EQ(host.Get({0xFF30, 0x000A}), (std::vector<std::uint8_t>{0, 0}));

    MonitorConfig config = TestConfig(MonitorKind::OlderTunnel);
    config.serial = "SN654321";
    config.faults.foreignOwner = true;
    ServedMonitor owned(config, dir_.Path());
    TestHost other = owned.Connect();
    const std::uint16_t owner = ReadU16(*other.Get({0xFF30, 0x000A}), 0);
    EXPECT_NE(owner, 0);
    EXPECT_NE(owner, other.Token());  // a host refuses to tunnel to it
    EXPECT_NE(other.Set({0xFF30, 0x000A}, {0, 0}), 0);
}

TEST_F(TunnelTest, ChecksumStaysBusyAndCanBeWrong) {
    MonitorConfig config = TestConfig(MonitorKind::CombinedTunnel);
    config.faults.crcBusyPolls = 2;
    config.faults.wrongCrcs = 1;
    ServedMonitor served(config, dir_.Path());
    TestHost host = served.Connect();
    std::vector<std::uint8_t> request(15, 0);
    std::copy_n("aic904", 6, request.begin());
    std::fill_n(request.begin() + 6, 4, 0xFF);
    const auto held = served.monitor->HeldComponent(4);
    const std::uint32_t crc = Crc32(std::span(held).first(ChecksummedLength(held)));

    ASSERT_EQ(host.Write(kChecksum, request), 0);
    clock_.Advance(config.crcMs);
    EXPECT_EQ(host.Read(kChecksum)->at(10), 1);
    EXPECT_EQ(host.Read(kChecksum)->at(10), 1);
    auto reply = host.Read(kChecksum);
    EXPECT_EQ(reply->at(10), 0);
    EXPECT_NE(ReadU32(*reply, 11), crc);
    EXPECT_EQ(ReadU32(*host.Read(kChecksum), 11), crc);
    EXPECT_TRUE(std::equal(request.begin(), request.begin() + 10, reply->begin()));
}

}  // namespace
