#include "monitor/transactions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>

#include "common/bytes.h"
#include "hid/hid_platform_testing.h"

#include "monitor/layer_fixture_testing.h"
#include "emulator/transfer_log.h"

namespace {

// "SET FF30:0003" for each transfer the monitor saw, by the usage of its report ID.
std::vector<std::string> Transfers(const RecordingLog& log) {
    std::vector<std::string> lines;
    for (const TransferRecord& r : log.records) {
        char line[32];
        std::snprintf(line, sizeof line, "%s %04X:%04X", r.isSet ? "SET" : "GET", r.report.page, r.report.usage);
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::uint8_t> Setting(const Monitor& monitor, std::uint16_t page, std::uint16_t usage) {
    return monitor.State().settings.at({page, usage});
}

using TransactionTest = KindTest;
INSTANTIATE_TEST_SUITE_P(AllKinds, TransactionTest,
                         ::testing::Values(MonitorKind::OlderNative, MonitorKind::OlderTunnel,
                                           MonitorKind::CombinedTunnel),
                         KindTestName);

TEST_P(TransactionTest, ValuesAndBlocksReachTheMonitor) {
    Monitor& monitor = AddMonitor();
    const MonitorHandle h = OpenNormal();

    std::int32_t value = -1;
    EXPECT_EQ(MonReadValue(h, 0xFF01, 0x0068, value), 0u);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(MonWriteValue(h, 0xFF01, 0x0054, 2), 0u);
    EXPECT_EQ(Setting(monitor, 0xFF01, 0x0054), (std::vector<std::uint8_t>{2, 0}));
    EXPECT_EQ(MonReadValue(h, 0xFF01, 0x0054, value), 0u);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(MonReadValue(h, 0xFF00, 0x00CE, value), 0u);  // served natively on every kind
    EXPECT_EQ(value, 0x0102);

    std::vector<std::uint8_t> block(64, 0xEE);
    EXPECT_EQ(MonReadBlock(h, 0xFF03, 0x0022, block), 0u);
    std::vector<std::uint8_t> factory(64, 0);
    factory[0] = 2, factory[1] = 1, factory[2] = 2, factory[3] = 3;
    EXPECT_EQ(block, factory);

    std::vector<std::uint8_t> written(64);
    for (std::size_t i = 0; i < written.size(); ++i) written[i] = static_cast<std::uint8_t>(0x40 + i);
    written[0] = 3;  // the setting: 0 to 3
    EXPECT_EQ(MonWriteBlock(h, 0xFF03, 0x0022, written), 0u);
    EXPECT_EQ(Setting(monitor, 0xFF03, 0x0022), written);
    EXPECT_EQ(MonReadBlock(h, 0xFF03, 0x0022, block), 0u);
    EXPECT_EQ(block, written);
    EXPECT_TRUE(clock.Waits().empty());
}

TEST_P(TransactionTest, PresenceOfUsages) {
    AddMonitor();
    const MonitorHandle h = OpenNormal();
    const bool combined = GetParam() == MonitorKind::CombinedTunnel;
    struct Case {
        std::uint16_t page, usage;
        bool absent;
    };
    const Case cases[] = {
        {0xFF02, 0x00C2, false},
        {0xFF02, 0x00FE, !combined},
        {0xFF02, 0x00FC, !combined},
        {0xFF00, 0x0035, false},    // the identity block, natively on tunnel monitors
        {0xFF00, 0x00CE, false},
        {0xFF10, 0x0021, false},    // a button
        {0xFF30, 0x0006, true},     // the interface's own tunnel usages are not the monitor's
        {0xFF21, 0x0002, true},
    };
    for (const Case& c : cases) {
        std::uint32_t absent = 7;
        EXPECT_EQ(MonIsUnsupported(h, c.page, c.usage, &absent), 0u);
        EXPECT_EQ(absent, c.absent ? 1u : 0u) << std::hex << c.page << ":" << c.usage;
    }
    EXPECT_EQ(MonIsUnsupported(h, 0xFF21, 0x0002, nullptr), 0u);
}

TEST_P(TransactionTest, FailedTransfersAndUnknownUsagesFail) {
    Monitor& monitor = AddMonitor();
    const MonitorHandle h = OpenNormal();
    std::int32_t value = 99;
    EXPECT_EQ(MonReadValue(h, 0xFF21, 0x0002, value), kMonFailed);
    EXPECT_EQ(value, 99);
    EXPECT_EQ(MonWriteValue(h, 0xFF21, 0x0002, 1), kMonFailed);
    std::vector<std::uint8_t> identity(32, 1);
    EXPECT_EQ(MonWriteBlock(h, 0xFF00, 0x0035, identity), kMonFailed);  // read-only
    EXPECT_EQ(MonWriteValue(h, 0xFF02, 0x0037, 5), kMonFailed);         // only 0xFF starts the completion
    EXPECT_EQ(monitor.State().settings.count({0xFF21, 0x0002}), 0u);

    std::uint32_t length = 0;
    EXPECT_EQ(MonGetIdentityLength(h, length), 0u);
    EXPECT_EQ(length, 32u);
}

TEST_F(LayerTest, UnknownAndClosedHandlesAreRefused) {
    platform.Add(QuietConfig(MonitorKind::CombinedTunnel));
    const MonitorHandle closed = OpenNormal();
    MonCloseDevices(kFamilyNormal);
    MonOpenDevices(kFamilyNormal);

    std::vector<std::uint8_t> block(4);
    std::int32_t value = 0;
    std::uint32_t number = 77;
    const std::function<Status(MonitorHandle)> operations[] = {
        [&](MonitorHandle h) { return MonIsUnsupported(h, 0xFF02, 0x00C2, &number); },
        [&](MonitorHandle h) { return MonReadBlock(h, 0xFF10, 0x0040, block); },
        [&](MonitorHandle h) { return MonWriteBlock(h, 0xFF10, 0x0040, block); },
        [&](MonitorHandle h) { return MonReadValue(h, 0xFF01, 0x0068, value); },
        [&](MonitorHandle h) { return MonWriteValue(h, 0xFF01, 0x0068, 1); },
        [&](MonitorHandle h) { return MonGetIdentityLength(h, number); },
    };
    for (const auto& operation : operations) {
        EXPECT_EQ(operation(kNoMonitor), kMonFailed);
        EXPECT_EQ(operation(closed), kMonFailed);
    }
    EXPECT_EQ(number, 77u);
}

class TunnelTest : public KindTest {
protected:
    Monitor& AddLoggedMonitor(FaultPlan faults = {}) {
        MonitorConfig config = QuietConfig(GetParam());
        config.faults = faults;
        Monitor& monitor = platform.Add(config);
        handle = OpenNormal();
        monitor.SetLog(&log);
        return monitor;
    }

    MonitorHandle handle = kNoMonitor;
    RecordingLog log;
};
INSTANTIATE_TEST_SUITE_P(TunnelKinds, TunnelTest,
                         ::testing::Values(MonitorKind::OlderTunnel, MonitorKind::CombinedTunnel), KindTestName);

TEST_P(TunnelTest, ChannelFollowsDirectionAndPayload) {
    AddLoggedMonitor();
    std::vector<std::uint8_t> block64(64), block16(16);
    std::int32_t value = 0;
    struct Case {
        const char* what;
        std::function<Status()> run;
        std::vector<std::string> transfers;  // after the owner value's read
    };
    const Case cases[] = {
        {"block read of 64 bytes", [&] { return MonReadBlock(handle, 0xFF03, 0x0022, block64); },
         {"SET FF30:0005", "GET FF30:0005"}},
        {"value read of a 64-byte usage", [&] { return MonReadValue(handle, 0xFF03, 0x0022, value); },
         {"SET FF30:0003", "GET FF30:0003"}},
        {"block read of 16 bytes", [&] { return MonReadBlock(handle, 0xFF02, 0x00C3, block16); },
         {"SET FF30:0003", "GET FF30:0003"}},
        {"block write of 64 bytes", [&] { return MonWriteBlock(handle, 0xFF03, 0x0022, block64); }, {"SET FF30:0004"}},
        {"value write", [&] { return MonWriteValue(handle, 0xFF01, 0x0068, 0); }, {"SET FF30:0002"}},
    };
    for (const Case& c : cases) {
        log.records.clear();
        EXPECT_EQ(c.run(), 0u) << c.what;
        std::vector<std::string> expected{"GET FF30:000A"};
        expected.insert(expected.end(), c.transfers.begin(), c.transfers.end());
        EXPECT_EQ(Transfers(log), expected) << c.what;
    }
    EXPECT_EQ(value, 0x03020102);  // the first 4 bytes of the block, little-endian
}

TEST_P(TunnelTest, IdentityAndCEAreServedNativelyWithoutOwnerCheck) {
    AddLoggedMonitor({.foreignOwner = true});
    std::vector<std::uint8_t> identity(32);
    EXPECT_EQ(MonReadBlock(handle, 0xFF00, 0x0035, identity), 0u);
    EXPECT_EQ(std::string(identity.begin(), identity.begin() + 14), "SN000001QX2701");
    EXPECT_EQ(Transfers(log), std::vector<std::string>{"GET FF30:0008"});

    log.records.clear();
    EXPECT_EQ(MonWriteValue(handle, 0xFF00, 0x00CE, 0x0304), 0u);
    std::int32_t value = 0;
    EXPECT_EQ(MonReadValue(handle, 0xFF00, 0x00CE, value), 0u);
    EXPECT_EQ(value, 0x0304);
    EXPECT_EQ(Transfers(log), (std::vector<std::string>{"SET FF30:0009", "GET FF30:0009"}));
}

TEST_P(TunnelTest, ForeignOwnerRefusesEveryTunnelledTransfer) {
    Monitor& monitor = AddLoggedMonitor({.foreignOwner = true});
    std::vector<std::uint8_t> block(64);
    std::int32_t value = 0;
    EXPECT_EQ(MonReadValue(handle, 0xFF01, 0x0068, value), kMonOwnedElsewhere);
    EXPECT_EQ(MonWriteValue(handle, 0xFF01, 0x0068, 9), kMonOwnedElsewhere);
    EXPECT_EQ(MonReadBlock(handle, 0xFF03, 0x0022, block), kMonOwnedElsewhere);
    EXPECT_EQ(MonWriteBlock(handle, 0xFF03, 0x0022, block), kMonOwnedElsewhere);
    for (const std::string& transfer : Transfers(log)) EXPECT_EQ(transfer, "GET FF30:000A");  // nothing sent
    EXPECT_EQ(log.records.size(), 8u);  // the owner value twice per transfer
    EXPECT_EQ(Setting(monitor, 0xFF01, 0x0068), (std::vector<std::uint8_t>{1, 0}));
}

TEST_P(TunnelTest, MismatchedRepliesAreAskedAgainAfter100Ms) {
    AddLoggedMonitor({.mismatchedReplies = 3});
    std::int32_t value = 0;
    EXPECT_EQ(MonReadValue(handle, 0xFF01, 0x0068, value), 0u);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(clock.Waits(), (std::vector<std::uint32_t>{100, 100, 100}));
    const auto transfers = Transfers(log);
    EXPECT_EQ(std::count(transfers.begin(), transfers.end(), "SET FF30:0003"), 4);
}

TEST_P(TunnelTest, TenMismatchedRepliesFail) {
    AddLoggedMonitor({.mismatchedReplies = FaultPlan::kAlways});
    std::int32_t value = 77;
    EXPECT_EQ(MonReadValue(handle, 0xFF01, 0x0068, value), kMonNoReply);
    EXPECT_EQ(value, 77);
    EXPECT_EQ(clock.Waits(), std::vector<std::uint32_t>(10, 100));
    const auto transfers = Transfers(log);
    EXPECT_EQ(std::count(transfers.begin(), transfers.end(), "SET FF30:0003"), 10);
}

TEST_P(TunnelTest, MismatchedPacketReadIsNotAskedAgain) {
    Monitor& monitor = AddLoggedMonitor();
    std::vector<std::uint8_t> select(10, 0);
    std::copy_n("PRG000", 6, select.begin());
    ASSERT_EQ(MonWriteBlock(handle, 0xFF02, 0x00C2, select), 0u);
    monitor.AddFaults({.mismatchedReplies = FaultPlan::kAlways});
    log.records.clear();

    std::vector<std::uint8_t> packet(512);
    EXPECT_EQ(MonReadBlock(handle, 0xFF02, 0x00C7, packet), kMonNoReply);
    EXPECT_TRUE(clock.Waits().empty());
    EXPECT_EQ(Transfers(log), (std::vector<std::string>{"GET FF30:000A", "SET FF30:0005", "GET FF30:0005"}));
}

TEST_P(TunnelTest, WriteThatDoesNotFitTheChannelIsRefusedUnsent) {
    Monitor& monitor = AddLoggedMonitor();
    // The short channel carries 40 bytes: 6 of header, 34 of data.
    const std::vector<std::uint8_t> fits(34, 0x00), tooLong(35, 0x22);
    EXPECT_EQ(MonWriteBlock(handle, 0xFF01, 0x0068, tooLong), kMonFailed);
    EXPECT_EQ(Transfers(log), std::vector<std::string>{"GET FF30:000A"});
    EXPECT_EQ(Setting(monitor, 0xFF01, 0x0068), (std::vector<std::uint8_t>{1, 0}));
    EXPECT_EQ(MonWriteBlock(handle, 0xFF01, 0x0068, fits), 0u);
    EXPECT_EQ(Setting(monitor, 0xFF01, 0x0068), (std::vector<std::uint8_t>{0, 0}));
}

}  // namespace

// A tunnel monitor built by hand, for payloads of exactly 32 and 33 bytes, an
// item without sizes, and an owner value that is this instance's token.
class HandBuiltTunnelTest : public ::testing::Test {
protected:
    static constexpr std::uint16_t kToken = 0x4A21;
    static constexpr std::uint8_t kChunkReport = 1, kTokenReport = 2, kOwnerReport = 3;
    static constexpr std::size_t kShortBytes = 40, kLongBytes = 530;
    // Report IDs 4 to 11 carry the channels 0x0002 to 0x0005 and 0x000B to 0x000E.
    static constexpr std::array<std::uint16_t, 8> kChannels{0x0002, 0x0003, 0x0004, 0x0005,
                                                           0x000B, 0x000C, 0x000D, 0x000E};
    static std::uint8_t ReportOf(std::uint16_t channel) {
        return static_cast<std::uint8_t>(4 + (std::find(kChannels.begin(), kChannels.end(), channel) - kChannels.begin()));
    }
    static bool IsOwnerChecked(std::uint8_t report) { return report >= ReportOf(0x000B); }

    HandBuiltTunnelTest() {
        MonCloseDevices(kAllFamilies);
        DescriptorBuilder tunnelled;
        tunnelled.UsagePage(0x80).Usage(0x01).Application();
        tunnelled.UsagePage(0xFF02).Usage(0x0012).Feature();  // before any Report Size or Report Count
        tunnelled.FeatureValue(0x0010, 8, 32).FeatureValue(0x0011, 8, 33);
        tunnelled.End();
        server.descriptor = tunnelled.bytes;
        server.chunkLength = 64;

        DescriptorBuilder interface;
        interface.UsagePage(0xFF30).Usage(0x0100).Application();
        interface.ReportId(kChunkReport).FeatureValue(0x0001, 8, 64);
        interface.ReportId(kTokenReport).FeatureValue(0x0006, 16);
        interface.ReportId(kOwnerReport).FeatureValue(0x000A, 16);
        for (const std::uint16_t channel : kChannels) {
            const bool isLong = channel == 0x0004 || channel == 0x0005 || channel == 0x000D || channel == 0x000E;
            interface.ReportId(ReportOf(channel)).FeatureValue(channel, 8, isLong ? kLongBytes : kShortBytes);
        }
        interface.End();

        device = &fake.Add("fake:tunnel");
        device->attributes = {0x7E53, 0x4203, 0x0102};
        device->descriptor = interface.bytes;
        device->onGet = [this](std::span<std::uint8_t> report) { return Get(report); };
        device->onSet = [this](std::span<const std::uint8_t> report) { return Set(report); };
        MonOpenDevices(kFamilyNormal);
        EXPECT_EQ(MonGetDevice(kFamilyNormal, 0, &handle), 0u);
        clock.ClearWaits();
    }
    ~HandBuiltTunnelTest() override { MonCloseDevices(kAllFamilies); }

    HidIo Get(std::span<std::uint8_t> report) {
        switch (report[0]) {
        case kChunkReport: return server.Get(report);
        case kTokenReport: WriteU16(report, 1, kToken); return HidIo::Ok;
        case kOwnerReport: WriteU16(report, 1, ownerValue); return HidIo::Ok;
        default: std::copy_n(reply.begin(), std::min(reply.size(), report.size()), report.begin()); return HidIo::Ok;
        }
    }
    // A read request is answered with its own header and data bytes 0xA0, 0xA1, ...
    HidIo Set(std::span<const std::uint8_t> report) {
        if (report[0] == kChunkReport) {
            server.Set(report);
            return HidIo::Ok;
        }
        requests.emplace_back(report.begin(), report.end());
        const std::size_t header = 1 + (IsOwnerChecked(report[0]) ? 2 : 0) + 6;
        reply.assign(report.begin(), report.end());
        for (std::size_t i = header; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(0xA0 + i - header);
        return HidIo::Ok;
    }

    VirtualClock clock;
    ScopedClock useClock{clock};
    FakePlatform fake;
    ScopedHidPlatform usePlatform{fake};
    ChunkServer server;
    FakeDevice* device = nullptr;
    MonitorHandle handle = kNoMonitor;
    std::uint16_t ownerValue = 0;
    std::vector<std::vector<std::uint8_t>> requests;
    std::vector<std::uint8_t> reply;
};

TEST_F(HandBuiltTunnelTest, ChannelByPayloadAndOwnerCheck) {
    std::vector<std::uint8_t> data(33, 0x5C);
    struct Case {
        const char* what;
        std::uint16_t usage;
        bool read, block, owned;
        std::size_t bytes;
        std::uint16_t channel;
    };
    const Case cases[] = {
        {"32-byte block read", 0x0010, true, true, false, 32, 0x0003},
        {"33-byte block read", 0x0011, true, true, false, 33, 0x0005},
        {"block read without sizes", 0x0012, true, true, false, 16, 0x0005},
        {"value read of a 33-byte usage", 0x0011, true, false, false, 4, 0x0003},
        {"32-byte block write", 0x0010, false, true, false, 32, 0x0002},
        {"33-byte block write", 0x0011, false, true, false, 33, 0x0004},
        {"block write without sizes", 0x0012, false, true, false, 16, 0x0004},
        {"value write", 0x0012, false, false, false, 4, 0x0002},
        {"owned 32-byte block read", 0x0010, true, true, true, 32, 0x000C},
        {"owned 33-byte block read", 0x0011, true, true, true, 33, 0x000E},
        {"owned 32-byte block write", 0x0010, false, true, true, 32, 0x000B},
        {"owned 33-byte block write", 0x0011, false, true, true, 33, 0x000D},
    };
    for (const Case& c : cases) {
        ownerValue = c.owned ? kToken : 0;
        requests.clear();
        std::vector<std::uint8_t> block(c.bytes);
        std::int32_t value = 0;
        Status status = 0;
        if (c.read) {
            status = c.block ? MonReadBlock(handle, 0xFF02, c.usage, block) : MonReadValue(handle, 0xFF02, c.usage, value);
        } else {
            status = c.block ? MonWriteBlock(handle, 0xFF02, c.usage, std::span(data).first(c.bytes))
                             : MonWriteValue(handle, 0xFF02, c.usage, 0x5C5C5C5C);
        }
        EXPECT_EQ(status, 0u) << c.what;
        ASSERT_EQ(requests.size(), 1u) << c.what;
        const std::vector<std::uint8_t>& request = requests[0];
        EXPECT_EQ(request[0], ReportOf(c.channel)) << c.what;

        // [report ID] [token, when owned] page · usage · token · data
        std::vector<std::uint8_t> expected{request[0]};
        if (c.owned) expected.insert(expected.end(), {0x21, 0x4A});
        expected.insert(expected.end(), {0x02, 0xFF, static_cast<std::uint8_t>(c.usage), 0x00, 0x21, 0x4A});
        if (!c.read) expected.insert(expected.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(c.bytes));
        expected.resize(request.size());
        EXPECT_EQ(request, expected) << c.what;
        if (c.read && c.block) {
            EXPECT_EQ(block[c.bytes - 1], 0xA0 + c.bytes - 1) << c.what;
        }
        if (c.read && !c.block) {
            EXPECT_EQ(static_cast<std::uint32_t>(value), 0xA3A2A1A0u) << c.what;
        }
    }
    EXPECT_TRUE(clock.Waits().empty());
}

TEST_F(HandBuiltTunnelTest, ReplyShorterThanTheBlockLeavesZeros) {
    // The short channel's 40 bytes hold 34 data bytes behind the header.
    std::vector<std::uint8_t> block(36, 0xEE);
    EXPECT_EQ(MonReadBlock(handle, 0xFF02, 0x0010, block), 0u);
    EXPECT_EQ(block[33], 0xA0 + 33);
    EXPECT_EQ(block[34], 0);
    EXPECT_EQ(block[35], 0);
}

TEST_F(HandBuiltTunnelTest, OwnerThatIsNotThisInstanceRefuses) {
    ownerValue = kToken ^ 0x0100;
    std::vector<std::uint8_t> block(32);
    EXPECT_EQ(MonReadBlock(handle, 0xFF02, 0x0010, block), kMonOwnedElsewhere);
    EXPECT_EQ(MonWriteBlock(handle, 0xFF02, 0x0010, block), kMonOwnedElsewhere);
    EXPECT_TRUE(requests.empty());
}
