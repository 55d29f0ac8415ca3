// What a monitor refuses, as a real one would: component writes outside the
// modes that take them, packets outside what was announced, settings outside
// their values or cut short, and a control lock that is not kept for ever.
// Each refusal is the transfer failing (EIO), checked on every kind it applies to.
#include <cerrno>

#include <gtest/gtest.h>

#include "common/bytes.h"
#include "emulator/emulator_testing.h"

namespace {

constexpr UsageAddress kRestart{0xFF02, 0x00F4}, kBootSelector{0xFF02, 0x00FB}, kSelect{0xFF02, 0x00C2},
    kGeometry{0xFF02, 0x00C3}, kPacket{0xFF02, 0x00C7}, kCombined{0xFF02, 0x00FE};
constexpr UsageAddress kLock{0xFF03, 0x0080};

bool IsCombined(MonitorKind kind) { return kind == MonitorKind::CombinedTunnel; }

std::string KindName(const ::testing::TestParamInfo<MonitorKind>& info) {
    switch (info.param) {
    case MonitorKind::OlderNative: return "OlderNative";
    case MonitorKind::OlderTunnel: return "OlderTunnel";
    case MonitorKind::CombinedTunnel: return "CombinedTunnel";
    }
    return "?";
}

std::vector<std::uint8_t> IdBlock(std::string_view id, std::size_t size, std::uint16_t first = 0,
                                  std::uint16_t second = 0) {
    std::vector<std::uint8_t> block(size);
    std::copy(id.begin(), id.end(), block.begin());
    WriteU16(block, 6, first);
    WriteU16(block, 8, second);
    return block;
}

class RefusalTest : public ::testing::TestWithParam<MonitorKind> {
protected:
    RefusalTest() : scoped_(clock_), served_(TestConfig(GetParam()), dir_.Path()), host_(served_.Connect()) {}

    bool Combined() const { return IsCombined(GetParam()); }

    void Restart(std::uint8_t bootSelector) {
        ASSERT_EQ(host_.WriteValue(kBootSelector, bootSelector), 0);
        ASSERT_EQ(host_.WriteValue(kRestart, 0), 0);
        host_ = served_.Connect();
    }

    // Announces INP027 (256-byte blocks) with `blocks` blocks.
    int Announce(std::uint16_t blocks) {
        host_.Write(kSelect, IdBlock("inp027", 10));
        return host_.Write(kGeometry, IdBlock("inp027", 16, 256, blocks));
    }

    // One packet into block `block` of INP027, the way this kind writes packets.
    int WritePacket(std::uint16_t block) {
        std::vector<std::uint8_t> data(512, 0x5A);
        if (Combined()) {
            std::vector<std::uint8_t> combined = IdBlock("inp027", 522, block, 0);
            std::copy(data.begin(), data.end(), combined.begin() + 10);
            return host_.Write(kCombined, combined);
        }
        if (const int err = host_.Write(kSelect, IdBlock("inp027", 10, block)); err != 0) return err;
        return host_.Write(kPacket, data);
    }

    VirtualClock clock_;
    ScopedClock scoped_;
    TempDir dir_;
    ServedMonitor served_;
    TestHost host_;
};
INSTANTIATE_TEST_SUITE_P(AllKinds, RefusalTest,
                         ::testing::Values(MonitorKind::OlderNative, MonitorKind::OlderTunnel,
                                           MonitorKind::CombinedTunnel),
                         KindName);

TEST_P(RefusalTest, ComponentWritesOnlyWhereTheMonitorTakesThem) {
    const auto held = served_.monitor->HeldComponent(3);
    // Running its firmware, no kind takes an announcement or a packet; reads work.
    EXPECT_EQ(Announce(2), EIO);
    EXPECT_EQ(WritePacket(0), EIO);
    EXPECT_EQ(served_.monitor->HeldComponent(3), held);  // nothing erased, nothing written
    ASSERT_EQ(host_.Write(kSelect, IdBlock("INP027", 10)), 0);
    const auto geometry = host_.Read(kGeometry);
    ASSERT_TRUE(geometry);
    EXPECT_EQ(ReadU16(*geometry, 6), 256);
    if (!Combined()) {
        const auto packet = host_.Read(kPacket);
        ASSERT_TRUE(packet);
        EXPECT_TRUE(std::equal(held.begin(), held.begin() + 256, packet->begin()));
    }

    // The boot selector 1 is enough for a combined monitor; an older one also needs the restart.
    ASSERT_EQ(host_.WriteValue(kBootSelector, 1), 0);
    EXPECT_EQ(Announce(2), Combined() ? 0 : EIO);
    if (!Combined()) {
        Restart(1);
        EXPECT_EQ(served_.monitor->Mode(), MonitorMode::Update);
        EXPECT_EQ(Announce(2), 0);
    }
    EXPECT_EQ(WritePacket(0), 0);

    // A combined monitor whose boot selector is 0 again takes nothing more.
    if (Combined()) {
        ASSERT_EQ(host_.WriteValue(kBootSelector, 0), 0);
        EXPECT_EQ(WritePacket(1), EIO);
    }
}

TEST_P(RefusalTest, PacketsOnlyIntoTheBlocksAnnouncedSinceTheLastRestart) {
    Restart(1);  // every kind takes components now
    EXPECT_EQ(WritePacket(0), EIO);  // nothing announced since the restart
    ASSERT_EQ(Announce(2), 0);
    EXPECT_EQ(WritePacket(0), 0);
    EXPECT_EQ(WritePacket(1), 0);
    EXPECT_EQ(WritePacket(2), 0);    // the short last block after an announcement rounded down
    EXPECT_EQ(WritePacket(3), EIO);  // past that, though within the area
    const auto held = served_.monitor->HeldComponent(3);
    EXPECT_EQ(held[3 * 256], 0xFF);
    Restart(1);  // a restart forgets the announcement
    EXPECT_EQ(WritePacket(0), EIO);
    EXPECT_EQ(served_.monitor->HeldComponent(3), held);
}

struct SettingCase {
    const char* name;
    UsageAddress address;
    std::vector<std::uint8_t> valid;
    std::vector<std::uint8_t> invalid;
};

// Each setting's values: those an update saves lie within what its backup record holds.
const SettingCase kSettings[] = {
    {"B8", {0xFF00, 0x00B8}, {0}, {2}},
    {"45", {0xFF01, 0x0045}, {0}, {2}},
    {"53", {0xFF01, 0x0053}, {0}, {2}},
    {"54", {0xFF01, 0x0054}, {2, 0}, {3, 0}},
    {"68", {0xFF01, 0x0068}, {0, 0}, {2, 0}},
    {"F0", {0xFF01, 0x00F0}, {0, 0}, {0, 1}},
    {"22", {0xFF03, 0x0022}, {3, 9, 9}, {4, 9, 9}},
    {"30", {0xFF03, 0x0030}, {2, 9, 9}, {3, 9, 9}},
    {"40", {0xFF10, 0x0040}, {7, 7, 0, 0}, {7, 7, 2, 0}},
    {"boot selector", {0xFF02, 0x00FB}, {1}, {2}},
    {"busy flag", {0xFF03, 0x0004}, {0}, {2}},
    {"identification", {0xFF00, 0x000F}, {0x00, 0x80}, {0x01, 0x80}},
    {"lock mode 2 present", {0xFF03, 0x0001}, {}, {1}},
    {"lock mode 5 present", {0xFF03, 0x0003}, {}, {1}},
};

TEST_P(RefusalTest, SettingsTakeOnlyTheirValues) {
    for (const SettingCase& c : kSettings) {
        SCOPED_TRACE(c.name);
        const auto before = host_.Read(c.address);
        ASSERT_TRUE(before);
        EXPECT_EQ(host_.Write(c.address, c.invalid), EIO);
        EXPECT_EQ(host_.Read(c.address), before);
        if (c.valid.empty()) continue;  // read-only
        EXPECT_EQ(host_.Write(c.address, c.valid), 0);
        auto expected = c.valid;
        expected.resize(before->size());
        EXPECT_EQ(host_.Read(c.address), expected);
    }
}

TEST_P(RefusalTest, ASettingCutShortIsRefused) {
    if (GetParam() == MonitorKind::OlderNative) {
        // A report shorter than its descriptor declares.
        const std::uint8_t id = host_.Layout().Find({0xFF01, 0x0054})->reportId;
        EXPECT_EQ(host_.SetReport({id, 2}), EIO);
        EXPECT_EQ(host_.SetReport({id, 2, 0}), 0);
        EXPECT_EQ(host_.SetReport({id, 0, 0, 0xEE}), 0);  // bytes past the report are not part of it
    } else {
        // A 64-byte block on the short channel, which carries 34 bytes of data.
        EXPECT_EQ(host_.TunnelWrite(0x0002, {0xFF03, 0x0022}, host_.Token(), std::vector<std::uint8_t>(34, 1)), EIO);
        EXPECT_EQ(host_.TunnelWrite(0x0004, {0xFF03, 0x0022}, host_.Token(), std::vector<std::uint8_t>(64, 1)), 0);
    }
    EXPECT_EQ(host_.Read({0xFF03, 0x0022})->at(0), GetParam() == MonitorKind::OlderNative ? 2 : 1);
}

TEST_P(RefusalTest, TheControlLockIsHeldForItsSecondsAndNotAcrossAPowerOn) {
    EXPECT_EQ(host_.Write(kLock, {5, 0}), EIO);  // a mode without a time
    EXPECT_EQ(host_.Write(kLock, {0, 60}), EIO); // a release with a time
    EXPECT_EQ(host_.Write(kLock, {4, 60}), EIO); // not a lock mode
    ASSERT_EQ(host_.Write(kLock, {5, 60}), 0);
    EXPECT_TRUE(served_.monitor->LockHeld());
    clock_.Advance(59'999);
    EXPECT_EQ(host_.Read(kLock), (std::vector<std::uint8_t>{5, 60}));
    clock_.Advance(1);
    EXPECT_FALSE(served_.monitor->LockHeld());
    EXPECT_EQ(host_.Read(kLock), (std::vector<std::uint8_t>{0, 0}));  // expired

    ASSERT_EQ(host_.Write(kLock, {5, 60}), 0);
    ASSERT_EQ(host_.Write(kLock, {0, 0}), 0);  // released
    EXPECT_FALSE(served_.monitor->LockHeld());

    ASSERT_EQ(host_.Write(kLock, {2, 60}), 0);
    FaultPlan cut;
    cut.unplugAtTransfer = 1;
    served_.monitor->AddFaults(cut);
    EXPECT_NE(host_.Write(kLock, {2, 60}), 0);
    EXPECT_EQ(served_.monitor->PowerLosses(), 1u);
    host_ = served_.Connect();
    EXPECT_FALSE(served_.monitor->LockHeld());
    EXPECT_EQ(host_.Read(kLock), (std::vector<std::uint8_t>{0, 0}));
}

TEST_P(RefusalTest, ASetCanTakeEffectAndThePowerGoBeforeItsAnswer) {
    FaultPlan cut;
    cut.unplugAfterTransfer = 1;
    served_.monitor->AddFaults(cut);
    EXPECT_TRUE(served_.monitor->PowerCutPending());
    EXPECT_NE(host_.WriteValue({0xFF01, 0x0054}, 2), 0);  // the host sees the write fail
    EXPECT_FALSE(served_.monitor->PowerCutPending());
    EXPECT_EQ(served_.monitor->PowerLosses(), 1u);
    host_ = served_.Connect();
    EXPECT_EQ(host_.ReadValue({0xFF01, 0x0054}), 2u);  // and yet it was stored
}

}  // namespace
