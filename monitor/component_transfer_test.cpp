// Component transfer against emulated monitors of every kind, and against a
// small monitor of the test's own for geometries the emulator does not have.
#include "monitor/component_transfer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "common/bytes.h"
#include "hid/hid_platform_testing.h"
#include "monitor/layer_fixture_testing.h"
#include "monitor/transactions.h"
#include "emulator/firmware_image.h"
#include "emulator/transfer_log.h"

namespace {

using Waits = std::vector<std::uint32_t>;
using Bytes = std::vector<std::uint8_t>;

// Areas of the emulated monitors: PRG000 512×8, PRG001 512×4, AIC653 512×4, INP027 256×4, AIC904 512×2.
const ComponentArea& Area(std::string_view id) { return ComponentAreas()[*FindComponentArea(id)]; }
Bytes Image(std::string_view id, std::size_t length, std::uint32_t seed = 1) {
    return MakeImage(Area(id), 77, length, seed);
}

// One line per transfer of an older-native monitor: "SET C2 aic904 1", "GET C3",
// "SET C3 aic904 512x2", "SET C7", "GET C7".
std::vector<std::string> Sequence(const RecordingLog& log) {
    std::vector<std::string> lines;
    for (const TransferRecord& r : log.records) {
        char line[64];
        const auto body = std::span(r.bytes).subspan(1);
        const std::string id(body.begin(), body.begin() + std::min<std::size_t>(6, body.size()));
        const char* dir = r.isSet ? "SET" : "GET";
        if (r.isSet && r.report.usage == 0x00C2) {
            std::snprintf(line, sizeof line, "SET C2 %s %u", id.c_str(), unsigned{ReadU16(body, 6)});
        } else if (r.isSet && r.report.usage == 0x00C3) {
            std::snprintf(line, sizeof line, "SET C3 %s %ux%u", id.c_str(), unsigned{ReadU16(body, 6)},
                          unsigned{ReadU16(body, 8)});
        } else {
            std::snprintf(line, sizeof line, "%s %02X", dir, static_cast<unsigned>(r.report.usage & 0xFF));
        }
        lines.push_back(line);
    }
    return lines;
}

// The data of every write of a page-0xFF02 usage, sent natively or through the tunnel, in order.
std::vector<Bytes> WritesOf(const RecordingLog& log, std::uint16_t usage) {
    std::vector<Bytes> writes;
    for (const TransferRecord& r : log.records) {
        if (!r.isSet) continue;
        std::size_t header = 1;
        if (r.tunnelled) {
            const std::uint16_t channel = r.report.usage;
            const bool write = channel == 0x0002 || channel == 0x0004 || channel == 0x000B || channel == 0x000D;
            if (!write || *r.tunnelled != UsageAddress{0xFF02, usage}) continue;
            header += (channel >= 0x000B ? 2 : 0) + 6;
        } else if (r.report != UsageAddress{0xFF02, usage}) {
            continue;
        }
        writes.emplace_back(r.bytes.begin() + static_cast<std::ptrdiff_t>(header), r.bytes.end());
    }
    return writes;
}

class TransferTest : public KindTest {
protected:
    // A monitor ready to take components (a combined monitor once its boot selector is 1).
    MonitorHandle Prepare(Monitor& monitor) {
        const MonitorHandle h = EnterUpdateState(OpenNormal());
        monitor.SetLog(&log);
        return h;
    }
    bool Combined() const { return GetParam() == MonitorKind::CombinedTunnel; }
    // Checksum polls of one verification: the emulator computes for 1.5 s.
    Waits VerifyWaits() const { return Combined() ? Waits{1000, 1000} : Waits{}; }

    RecordingLog log;
};
INSTANTIATE_TEST_SUITE_P(AllKinds, TransferTest,
                         ::testing::Values(MonitorKind::OlderNative, MonitorKind::OlderTunnel,
                                           MonitorKind::CombinedTunnel),
                         KindTestName);

TEST_P(TransferTest, EveryWriterStoresItsComponent) {
    Monitor& monitor = AddMonitor();
    const MonitorHandle h = Prepare(monitor);
    using Writer = std::function<Status(const Bytes&)>;
    const std::pair<std::string_view, Writer> writers[] = {
        {"PRG000", [h](const Bytes& d) { return MonWritePrgComponent(h, 0, d.data(), std::uint32_t(d.size())); }},
        {"PRG001", [h](const Bytes& d) { return MonWritePrgComponent(h, 1, d.data(), std::uint32_t(d.size())); }},
        {"AIC653", [h](const Bytes& d) { return MonWriteAic653Component(h, d.data(), std::uint32_t(d.size())); }},
        {"INP027", [h](const Bytes& d) { return MonWriteInp027Component(h, d.data(), std::uint32_t(d.size())); }},
        {"AIC904", [h](const Bytes& d) { return MonWriteAic904Component(h, d.data(), std::uint32_t(d.size())); }},
    };
    for (const auto& [id, write] : writers) {
        const Bytes image = Image(id, Area(id).Capacity(), static_cast<std::uint32_t>(id[5]));
        clock.ClearWaits();
        EXPECT_EQ(write(image), 0u) << id;
        EXPECT_EQ(monitor.HeldComponent(*FindComponentArea(id)), image) << id;
        EXPECT_EQ(clock.Waits(), VerifyWaits()) << id;
        EXPECT_EQ(MonVerifyComponent(h, id, image.data(), std::uint32_t(image.size())), 0u) << id;
    }
}

TEST_P(TransferTest, RefusedArgumentsAndLengths) {
    Monitor& monitor = AddMonitor();
    const MonitorHandle h = Prepare(monitor);
    const Bytes before = monitor.HeldComponent(1);
    const Bytes image = Image("PRG001", 1024);

    EXPECT_EQ(MonWritePrgComponent(h, 2, image.data(), 1024), kMonBadArgument);
    EXPECT_EQ(MonWritePrgComponent(h, 1, nullptr, 1024), kMonBadArgument);
    EXPECT_EQ(MonWriteAic653Component(h, nullptr, 0), kMonBadArgument);
    EXPECT_EQ(MonVerifyComponent(h, "PRG00", image.data(), 1024), kMonBadArgument);
    EXPECT_TRUE(log.records.empty());

    // PRG001 is 512×4: 1024 bytes fail after the geometry query, before anything is written.
    EXPECT_EQ(MonWritePrgComponent(h, 1, image.data(), 1024), kMonGeometryMismatch);
    if (GetParam() == MonitorKind::OlderNative) {
        EXPECT_EQ(Sequence(log), (std::vector<std::string>{"SET C2 PRG001 0", "GET C3"}));
    }
    EXPECT_EQ(monitor.HeldComponent(1), before);

    // AIC904 is 512×2: 1100 bytes cannot be in it.
    const Bytes longer = Image("AIC904", 1100);
    EXPECT_EQ(MonVerifyComponent(h, "AIC904", longer.data(), 1100), kMonAreaTooSmall);

    // Block indexes travel as 16 bits: an AIC653 image of 65536 blocks would wrap around.
    const Bytes huge(std::size_t{0x10000} * 512, 0x5A);
    log.records.clear();
    EXPECT_EQ(MonWriteAic653Component(h, huge.data(), std::uint32_t(huge.size())), kMonGeometryMismatch);
    EXPECT_EQ(WritesOf(log, 0x00C2).size(), 1u);  // the geometry query's select, and no announcement
    EXPECT_TRUE(WritesOf(log, 0x00C3).empty());
}

TEST_P(TransferTest, DifferencesAreFound) {
    MonitorConfig config = QuietConfig(GetParam());
    // Older monitors are read back; combined ones checksummed.
    config.faults.corruptWrites = Combined() ? 0 : 1;
    config.faults.wrongCrcs = Combined() ? 1 : 0;
    Monitor& monitor = platform.Add(config);
    const MonitorHandle h = Prepare(monitor);

    const Bytes image = Image("INP027", 1024);
    EXPECT_EQ(MonWriteInp027Component(h, image.data(), 1024), kMonVerifyMismatch);
    EXPECT_EQ(MonWriteInp027Component(h, image.data(), 1024), 0u);  // the fault was a one-off
    Bytes other = image;
    other[700] ^= 0x40;
    EXPECT_EQ(MonVerifyComponent(h, "INP027", other.data(), 1024), kMonVerifyMismatch);
    EXPECT_EQ(MonVerifyComponent(h, "INP027", image.data(), 1000), 0u);  // a shorter image compares its span
}

TEST_P(TransferTest, Aic653OfOddLength) {
    Monitor& monitor = AddMonitor();
    const MonitorHandle h = Prepare(monitor);

    // 1300 bytes in blocks of 512: the announcement says 2 blocks, and a third
    // (276 bytes, one zero-padded packet) follows; the monitor takes it.
    const Bytes image = Image("AIC653", 1300);
    EXPECT_EQ(MonWriteAic653Component(h, image.data(), 1300), 0u);
    const Bytes held = monitor.HeldComponent(2);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), held.begin()));

    if (GetParam() == MonitorKind::OlderNative) {
        const std::vector<std::string> sequence = Sequence(log);
        ASSERT_GE(sequence.size(), 10u);
        const std::vector<std::string> written(sequence.begin(), sequence.begin() + 10);
        EXPECT_EQ(written, (std::vector<std::string>{"SET C2 AIC653 0", "GET C3", "SET C2 aic653 0",
                                                     "SET C3 aic653 512x2", "SET C2 aic653 0", "SET C7",
                                                     "SET C2 aic653 1", "SET C7", "SET C2 aic653 2", "SET C7"}));
    }
    if (Combined()) {
        const auto packets = WritesOf(log, 0x00FE);
        ASSERT_EQ(packets.size(), 3u);
        EXPECT_EQ(ReadU16(packets[2], 6), 2);
        EXPECT_EQ(Bytes(packets[2].begin() + 10 + 276, packets[2].begin() + 522), Bytes(236, 0));
    }
}

TEST_P(TransferTest, RefusedBlockEndsTheWriting) {
    Monitor& monitor = AddMonitor();
    const MonitorHandle h = Prepare(monitor);
    // AIC653 has 4 blocks of 512; a fifth block of 52 bytes is refused by the monitor.
    const Bytes image = Image("AIC653", 2100);
    clock.ClearWaits();
    if (Combined()) {
        // Combined packets: the writing stops and the checksum tells.
        EXPECT_EQ(MonWriteAic653Component(h, image.data(), 2100), kMonVerifyMismatch);
        EXPECT_EQ(clock.Waits(), VerifyWaits());
    } else {
        EXPECT_EQ(MonWriteAic653Component(h, image.data(), 2100), kMonTransferFailed);
        ASSERT_FALSE(log.records.empty());
        EXPECT_NE(log.records.back().err, 0);  // nothing after the refused packet
        EXPECT_TRUE(clock.Waits().empty());
    }
}

// The sequence of a 1,024-byte component in blocks of 512 (AIC904: 512×2) on a
// monitor without combined packets, read back afterwards.
TEST_F(LayerTest, ExactSequenceOfTwoBlocks) {
    Monitor& monitor = platform.Add(QuietConfig(MonitorKind::OlderNative));
    const MonitorHandle h = EnterUpdateState(OpenNormal());
    RecordingLog log;
    monitor.SetLog(&log);

    const Bytes image = Image("AIC904", 1024);
    EXPECT_EQ(MonWriteAic904Component(h, image.data(), 1024), 0u);
    EXPECT_EQ(Sequence(log), (std::vector<std::string>{
                                 "SET C2 AIC904 0", "GET C3", "SET C2 aic904 0", "SET C3 aic904 512x2",
                                 "SET C2 aic904 0", "SET C7", "SET C2 aic904 1", "SET C7", "SET C2 aic904 2",
                                 // read-back
                                 "SET C2 aic904 0", "GET C3", "SET C2 aic904 0", "GET C7", "SET C2 aic904 1",
                                 "GET C7", "SET C2 aic904 2"}));
    ASSERT_EQ(log.records.size(), 16u);
    EXPECT_EQ(Bytes(log.records[5].bytes.begin() + 1, log.records[5].bytes.end()),
              Bytes(image.begin(), image.begin() + 512));
    EXPECT_EQ(Bytes(log.records[7].bytes.begin() + 1, log.records[7].bytes.end()), Bytes(image.begin() + 512, image.end()));
    EXPECT_EQ(Bytes(log.records[2].bytes.begin() + 7, log.records[2].bytes.end()), Bytes(4, 0));  // block 0, then 0
    EXPECT_TRUE(clock.Waits().empty());
}

class ChecksumTest : public LayerTest {
protected:
    MonitorHandle Open(FaultPlan faults) {
        MonitorConfig config = QuietConfig(MonitorKind::CombinedTunnel);
        config.faults = faults;
        Monitor& monitor = platform.Add(config);
        const MonitorHandle h = EnterUpdateState(OpenNormal());
        monitor.SetLog(&log);
        return h;
    }
    RecordingLog log;
};

TEST_F(ChecksumTest, CombinedPacketsAndThePoll) {
    const MonitorHandle h = Open({.crcBusyPolls = 3});
    const Bytes image = Image("PRG000", Area("PRG000").Capacity());
    EXPECT_EQ(MonWritePrgComponent(h, 0, image.data(), std::uint32_t(image.size())), 0u);

    // Block g travels as one combined packet [prg000, g, 0, data]; no select, no plain packet.
    const auto packets = WritesOf(log, 0x00FE);
    ASSERT_EQ(packets.size(), 8u);
    for (std::uint16_t g = 0; g < 8; ++g) {
        EXPECT_EQ(std::string(packets[g].begin(), packets[g].begin() + 6), "prg000");
        EXPECT_EQ(ReadU16(packets[g], 6), g);
        EXPECT_EQ(ReadU16(packets[g], 8), 0);
        EXPECT_TRUE(std::equal(packets[g].begin() + 10, packets[g].begin() + 522, image.begin() + g * 512));
    }
    EXPECT_EQ(WritesOf(log, 0x00C7).size(), 0u);
    EXPECT_EQ(WritesOf(log, 0x00C2).size(), 2u);  // the geometry query and the announcement
    const auto requests = WritesOf(log, 0x00FC);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(Bytes(requests[0].begin(), requests[0].begin() + 15),
              (Bytes{'p', 'r', 'g', '0', '0', '0', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0}));
    // Computing for 1.5 s, then three more "still computing" replies: a poll every second.
    EXPECT_EQ(clock.Waits(), Waits(5, kChecksumPollMs));
    for (const TransferRecord& r : log.records) {
        EXPECT_FALSE(!r.isSet && r.tunnelled == (UsageAddress{0xFF02, 0x00C7}));  // nothing read back
    }
}

TEST_F(ChecksumTest, AMonitorStuckComputingIsGivenUpOn) {
    const MonitorHandle h = Open({.crcBusyPolls = FaultPlan::kAlways});
    const Bytes image = Image("AIC904", Area("AIC904").Capacity());
    EXPECT_EQ(MonWriteAic904Component(h, image.data(), std::uint32_t(image.size())), kMonTransferFailed);
    EXPECT_EQ(clock.Waits(), Waits(kChecksumPollLimit, kChecksumPollMs));
}

// A native monitor of the test's own with a geometry the emulator does not
// have, blocks of two packets, and combined packets it can be told to refuse.
class BlockMonitorTest : public LayerTest {
protected:
    void Open(bool combinedPackets = true) {
        FakeDevice& device = fakes.Add("fake:VID_7E51&PID_4001#1");
        device.attributes = {0x7E51, 0x4001, 0x0102};
        device.descriptor = ComponentMonitorDescriptor(combinedPackets, false);
        device.onGet = [this](std::span<std::uint8_t> report) { return Get(report); };
        device.onSet = [this](std::span<const std::uint8_t> report) { return Set(report); };
        MonOpenDevices(kFamilyNormal);
        EXPECT_EQ(MonGetDevice(kFamilyNormal, 0, &h), 0u);
    }

    HidIo Get(std::span<std::uint8_t> report) {
        const auto body = report.subspan(1);
        if (report[0] == 1) std::memcpy(body.data(), "BLOCKS01QB24", 12);
        if (report[0] == 3) {
            WriteU16(body, 6, blockSize);
            WriteU16(body, 8, blockCount);
        }
        if (report[0] == 4) {
            const std::size_t at = std::size_t{block} * blockSize + std::size_t{packet++} * 512;
            for (std::size_t i = 0; i < 512 && i < body.size(); ++i) body[i] = at + i < area.size() ? area[at + i] : 0;
        }
        return HidIo::Ok;
    }

    HidIo Set(std::span<const std::uint8_t> report) {
        const auto body = report.subspan(1);
        if (report[0] == 2) block = ReadU16(body, 6), packet = 0;
        if (report[0] == 4) {
            const std::size_t at = std::size_t{block} * blockSize + std::size_t{packet++} * 512;
            for (std::size_t i = 0; i < 512 && at + i < area.size(); ++i) area[at + i] = body[i];
        }
        if (report[0] == 5) {
            combined.emplace_back(ReadU16(body, 6), ReadU16(body, 8));
            if (combined.size() == refuseCombined) return HidIo::Failed;
            const std::size_t at = std::size_t{ReadU16(body, 6)} * blockSize + std::size_t{ReadU16(body, 8)} * 512;
            for (std::size_t i = 0; i < 512 && at + i < area.size(); ++i) area[at + i] = body[10 + i];
        }
        return HidIo::Ok;
    }

    FakePlatform fakes;
    ScopedHidPlatform useFakes{fakes};
    MonitorHandle h = kNoMonitor;
    std::uint16_t blockSize = 1024, blockCount = 2, block = 0, packet = 0;
    Bytes area = Bytes(2048, 0xFF);
    std::vector<std::pair<std::uint16_t, std::uint16_t>> combined;  // (block, packet) of each combined packet
    std::size_t refuseCombined = 0;                                  // 1-based; 0 refuses none
};

TEST_F(BlockMonitorTest, CombinedPacketsCountWithinTheirBlock) {
    Open();
    Bytes image(2048);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    EXPECT_EQ(MonWritePrgComponent(h, 0, image.data(), 2048), 0u);
    using Pairs = std::vector<std::pair<std::uint16_t, std::uint16_t>>;
    EXPECT_EQ(combined, (Pairs{{0, 0}, {0, 1}, {1, 0}, {1, 1}}));
    EXPECT_EQ(area, image);
}

TEST_F(BlockMonitorTest, ARefusedCombinedPacketLeavesTheVerdictToTheReadBack) {
    Open();
    const Bytes image(2048, 0x11);
    refuseCombined = 2;  // block 0, packet 1
    EXPECT_EQ(MonWritePrgComponent(h, 0, image.data(), 2048), kMonVerifyMismatch);
    using Pairs = std::vector<std::pair<std::uint16_t, std::uint16_t>>;
    EXPECT_EQ(combined, (Pairs{{0, 0}, {0, 1}}));  // the remaining blocks are not written
}

// A block of 600 bytes travels as a full packet and one of 88 bytes, zero-padded.
TEST_F(BlockMonitorTest, ShortLastPacketOfALongBlockIsPadded) {
    for (const bool combinedPackets : {false, true}) {
        MonCloseDevices(kAllFamilies);
        fakes.Remove("fake:VID_7E51&PID_4001#1");
        Open(combinedPackets);
        area.assign(2048, 0xFF);
        Bytes image(1624);
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i % 251 + 1);
        EXPECT_EQ(MonWriteAic653Component(h, image.data(), 1624), 0u) << combinedPackets;
        EXPECT_TRUE(std::equal(image.begin(), image.end(), area.begin())) << combinedPackets;
        EXPECT_EQ(Bytes(area.begin() + 1624, area.end()), Bytes(2048 - 1624, 0)) << combinedPackets;
    }
}

TEST_F(BlockMonitorTest, ZeroBlockSizeIsAFailureNotALoop) {
    Open();
    blockSize = 0;
    blockCount = 0;
    const Bytes none(1);
    EXPECT_EQ(MonWritePrgComponent(h, 0, none.data(), 0), kMonTransferFailed);
    EXPECT_EQ(MonWriteAic653Component(h, none.data(), 0), kMonTransferFailed);
    EXPECT_EQ(MonVerifyComponent(h, "PRG000", none.data(), 0), kMonTransferFailed);
    // With data, the geometry simply does not fit.
    EXPECT_EQ(MonWritePrgComponent(h, 0, none.data(), 1), kMonGeometryMismatch);
    EXPECT_EQ(MonVerifyComponent(h, "PRG000", none.data(), 1), kMonAreaTooSmall);
}

}  // namespace
