#include "hid/hid_device.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "common/clock.h"
#include "hid/device_list.h"
#include "hid/hid_platform_testing.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class HidDeviceTest : public ::testing::Test {
protected:
    std::unique_ptr<HidDevice> Create(const std::string& path) {
        auto record = std::make_unique<HidInterfaceRecord>();
        EXPECT_TRUE(OpenHidInterface(path, false, *record));
        return std::make_unique<HidDevice>(std::move(record));
    }
    // A device whose only interface descriptor is `descriptor`, answering reads with `reply`.
    FakeDevice& AddDevice(const std::string& path, Bytes descriptor, Bytes reply = {}) {
        FakeDevice& device = platform_.Add(path);
        device.descriptor = std::move(descriptor);
        device.onGet = [reply](std::span<std::uint8_t> report) {
            std::copy_n(reply.begin(), std::min(reply.size(), report.size()), report.begin());
            return HidIo::Ok;
        };
        return device;
    }
    static std::vector<Bytes> Sets(const FakeDevice& device) {
        std::vector<Bytes> sets;
        for (const auto& t : device.transfers) if (t.set) sets.push_back(t.bytes);
        return sets;
    }
    static std::vector<Bytes> Gets(const FakeDevice& device) {
        std::vector<Bytes> gets;
        for (const auto& t : device.transfers) if (!t.set) gets.push_back(t.bytes);
        return gets;
    }

    FakePlatform platform_;
    ScopedHidPlatform usePlatform_{platform_};
    VirtualClock clock_;
    ScopedClock useClock_{clock_};
};

Bytes PlainValueDescriptor() {
    DescriptorBuilder d;
    d.UsagePage(0xFF00).Usage(0x0001).Application().ReportId(1).FeatureValue(0x0010, 16).End();
    return d.bytes;  // feature report length 3
}

TEST_F(HidDeviceTest, DeviceWithoutTunnelIsCreatedWithoutIo) {
    FakeDevice& device = AddDevice("plain", PlainValueDescriptor());
    auto hid = Create("plain");
    EXPECT_TRUE(device.transfers.empty());
    EXPECT_FALSE(hid->HasDescriptor());
    EXPECT_EQ(hid->TunnelToken(), 0);
    EXPECT_EQ(hid->Root().prefix, 0);
    EXPECT_EQ(hid->Root().value, 0);
    EXPECT_TRUE(hid->Root().items.empty());
    EXPECT_TRUE(hid->Root().children.empty());
    EXPECT_TRUE(PassesDescriptorTest(*hid));
    EXPECT_EQ(hid->GetDevicePath(), "plain");
}

TEST_F(HidDeviceTest, UnknownUsageFailsWithoutTransfer) {
    FakeDevice& device = AddDevice("plain", PlainValueDescriptor());
    auto hid = Create("plain");
    std::uint32_t value = 77;
    EXPECT_EQ(hid->GetFeatureValue(0xFF00, 0x0011, value), kHidNoSuchUsage);
    EXPECT_EQ(value, 0u);
    value = 77;
    EXPECT_EQ(hid->GetFeatureButton(0xFF00, 0x0010, value), kHidNoSuchUsage);  // a value, not a button
    EXPECT_EQ(value, 0u);
    Bytes buffer(4, 0xEE);
    EXPECT_EQ(hid->GetFeatureReport(0xFF01, 0x0010, buffer), kHidNoSuchUsage);
    EXPECT_EQ(buffer, Bytes(4, 0));
    EXPECT_EQ(hid->SetFeatureValue(0xFF00, 0x0011, 1), kHidNoSuchUsage);
    EXPECT_EQ(hid->SetFeatureReport(0xFF00, 0x0011, buffer), kHidNoSuchUsage);
    bool notFound = false;
    EXPECT_EQ(hid->GetUsageInfo(0xFF00, 0x0011, nullptr, nullptr, nullptr, &notFound, nullptr), kHidNoSuchUsage);
    EXPECT_TRUE(notFound);
    std::vector<std::uint16_t> usages;
    EXPECT_EQ(hid->GetUsages(0xFF01, usages), kHidNoSuchUsage);
    EXPECT_TRUE(device.transfers.empty());
}

TEST_F(HidDeviceTest, ValueTransfersUseAtMostFiveBytes) {
    // Report length 3: [ID, 16-bit value].
    FakeDevice& device = AddDevice("short", PlainValueDescriptor(), {1, 0x34, 0x12});
    auto hid = Create("short");
    EXPECT_EQ(hid->SetFeatureValue(0xFF00, 0x0010, 0x1234ABCD), kStatusSuccess);
    std::uint32_t value = 0;
    EXPECT_EQ(hid->GetFeatureValue(0xFF00, 0x0010, value), kStatusSuccess);
    EXPECT_EQ(value, 0x1234u);
    EXPECT_EQ(Sets(device), (std::vector<Bytes>{{1, 0xCD, 0xAB}}));
    EXPECT_EQ(Gets(device), (std::vector<Bytes>{{1, 0, 0}}));

    // Report length 9: [ID, 32-bit value, 32-bit value]; only 5 bytes travel.
    DescriptorBuilder d;
    d.UsagePage(0xFF00).Usage(0x0001).Application().ReportId(4).FeatureValue(0x0020, 32).FeatureValue(0x0021, 32).End();
    FakeDevice& wide = AddDevice("wide", d.bytes, {4, 0x78, 0x56, 0x34, 0x12, 0xFF});
    auto wideHid = Create("wide");
    EXPECT_EQ(wideHid->GetFeatureValue(0xFF00, 0x0020, value), kStatusSuccess);
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_EQ(wideHid->SetFeatureValue(0xFF00, 0x0020, 0x01020304), kStatusSuccess);
    EXPECT_EQ(Gets(wide), (std::vector<Bytes>{{4, 0, 0, 0, 0}}));
    EXPECT_EQ(Sets(wide), (std::vector<Bytes>{{4, 4, 3, 2, 1}}));
}

TEST_F(HidDeviceTest, ValueAtLaterBitPositionIsRightAligned) {
    DescriptorBuilder d;
    d.UsagePage(0xFF00).Usage(0x0001).Application().ReportId(3).FeatureValue(0x0030, 8).FeatureValue(0x0031, 16).End();
    AddDevice("dev", d.bytes, {3, 0xAA, 0x34, 0x12});
    auto hid = Create("dev");
    std::uint32_t value = 0;
    EXPECT_EQ(hid->GetFeatureValue(0xFF00, 0x0031, value), kStatusSuccess);
    EXPECT_EQ(value, 0x1234u);
    // A buffer as long as the report's data gets the whole report; the field comes first.
    Bytes buffer(3, 0xEE);
    EXPECT_EQ(hid->GetFeatureReport(0xFF00, 0x0031, buffer), kStatusSuccess);
    EXPECT_EQ(buffer[0], 0x34);
    EXPECT_EQ(buffer[1], 0x12);
}

TEST_F(HidDeviceTest, FeatureReportIsCutToTheReportLength) {
    // Report 2 carries a 32-byte array: feature report length 33.
    DescriptorBuilder d;
    d.UsagePage(0xFF00).Usage(0x0001).Application().ReportId(2).FeatureValue(0x0040, 8, 32).End();
    Bytes reply(33);
    reply[0] = 2;
    for (std::size_t i = 1; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(i);
    FakeDevice& device = AddDevice("dev", d.bytes, reply);
    auto hid = Create("dev");

    Bytes buffer(100);
    for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<std::uint8_t>(0x80 + i);
    EXPECT_EQ(hid->SetFeatureReport(0xFF00, 0x0040, buffer), kStatusSuccess);
    Bytes expectedSent{2};
    expectedSent.insert(expectedSent.end(), buffer.begin(), buffer.begin() + 32);
    EXPECT_EQ(Sets(device), std::vector<Bytes>{expectedSent});

    std::fill(buffer.begin(), buffer.end(), 0xEE);
    EXPECT_EQ(hid->GetFeatureReport(0xFF00, 0x0040, buffer), kStatusSuccess);
    EXPECT_EQ(Gets(device).back().size(), 33u);
    Bytes expected(100, 0);  // the array, a zero byte after it, the rest zeroed
    std::copy(reply.begin() + 1, reply.end(), expected.begin());
    EXPECT_EQ(buffer, expected);

    Bytes small(4, 0xEE);  // a short buffer asks for length + 1 bytes and gets only its own length
    EXPECT_EQ(hid->GetFeatureReport(0xFF00, 0x0040, small), kStatusSuccess);
    EXPECT_EQ(Gets(device).back().size(), 5u);
    EXPECT_EQ(small, (Bytes{1, 2, 3, 4}));
}

TEST_F(HidDeviceTest, FailedTransfersReportTheirStatusAndLeaveTheObjectUsable) {
    DescriptorBuilder d;
    d.UsagePage(0xFF00).Usage(0x0001).Application().ReportId(1).FeatureValue(0x0010, 16);
    d.ReportId(5).FeatureButton(0x0050).End();
    FakeDevice& device = AddDevice("dev", d.bytes);
    auto hid = Create("dev");
    HidIo outcome = HidIo::Failed;
    device.onGet = [&](std::span<std::uint8_t>) { return outcome; };
    device.onSet = [&](std::span<const std::uint8_t>) { return outcome; };
    std::uint32_t value = 0;
    Bytes buffer(2);
    for (HidIo failure : {HidIo::Failed, HidIo::NotConnected}) {
        outcome = failure;
        EXPECT_EQ(hid->GetFeatureValue(0xFF00, 0x0010, value), kHidTransferFailed);
        EXPECT_EQ(hid->SetFeatureValue(0xFF00, 0x0010, 1), kHidTransferFailed);
        EXPECT_EQ(hid->GetFeatureReport(0xFF00, 0x0010, buffer), kHidTransferFailed);
        EXPECT_EQ(hid->SetFeatureReport(0xFF00, 0x0010, buffer), kHidTransferFailed);
        EXPECT_EQ(hid->GetFeatureButton(0xFF00, 0x0050, value), kHidButtonFailed);
        EXPECT_EQ(hid->SetFeatureButton(0xFF00, 0x0050, 1), kHidButtonFailed);
    }
    outcome = HidIo::Ok;
    EXPECT_EQ(hid->GetFeatureValue(0xFF00, 0x0010, value), kStatusSuccess);
}

TEST_F(HidDeviceTest, ButtonInsideLinkCollection) {
    // Report 5: an 8-bit value, then a one-bit button inside collection 0xFF10:0x0020.
    DescriptorBuilder d;
    d.UsagePage(0xFF10).Usage(0x0001).Application().ReportId(5).FeatureValue(0x0002, 8);
    d.Usage(0x0020).Logical().FeatureButton(0x0021).End();
    d.End();
    FakeDevice& device = AddDevice("dev", d.bytes, {5, 0x80, 0x01, 0x02, 0x03});
    auto hid = Create("dev");
    EXPECT_TRUE(hid->HasUsage(0xFF10, 0x0020));
    EXPECT_TRUE(hid->HasUsage(0xFF10, 0x0021));
    std::uint8_t reportId = 0;
    bool notFound = true;
    std::int32_t byteSize = -1;
    EXPECT_FALSE(IsFailure(hid->GetUsageInfo(0xFF10, 0x0020, &reportId, nullptr, nullptr, &notFound, &byteSize)));
    EXPECT_EQ(reportId, 5);
    EXPECT_FALSE(notFound);
    EXPECT_EQ(byteSize, 0);

    std::uint32_t value = 0;  // bytes 1..4 unchanged, whatever the button's bit position
    EXPECT_EQ(hid->GetFeatureButton(0xFF10, 0x0020, value), kStatusSuccess);
    EXPECT_EQ(value, 0x03020180u);
    EXPECT_EQ(Gets(device), (std::vector<Bytes>{{5, 0, 0, 0, 0}}));
    EXPECT_EQ(hid->SetFeatureButton(0xFF10, 0x0021, 0xA1B2C3D4), kStatusSuccess);
    EXPECT_EQ(Sets(device), (std::vector<Bytes>{{5, 0xD4, 0xC3, 0xB2, 0xA1}}));
}

TEST_F(HidDeviceTest, UsageInfoOfValue) {
    DescriptorBuilder d;
    d.UsagePage(0xFF00).Usage(0x0001).Application().ReportId(9);
    d.Usage(0x0035).Logical(0, 0xFF).ReportSize(8).ReportCount(16).Feature().End();
    AddDevice("dev", d.bytes);
    auto hid = Create("dev");
    std::uint8_t reportId = 0;
    std::int32_t max = 0, min = -1, byteSize = 0;
    std::uint16_t bits = 0, count = 0;
    bool notFound = true;
    EXPECT_FALSE(IsFailure(hid->GetUsageInfoEx(0xFF00, 0x0035, &reportId, &max, &min, &notFound, &byteSize, &bits, &count)));
    EXPECT_EQ(reportId, 9);
    EXPECT_EQ(max, 0xFF);
    EXPECT_EQ(min, 0);
    EXPECT_FALSE(notFound);
    EXPECT_EQ(byteSize, 16);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(count, 16);
}

TEST_F(HidDeviceTest, UsagePagesAndUsagesAscend) {
    DescriptorBuilder d;
    d.UsagePage(0xFF03).Usage(0x0001).Application().ReportId(1).FeatureValue(0x0080, 8).FeatureValue(0x0004, 8);
    d.UsagePage(0xFF01).FeatureValue(0x0002, 8).End();
    AddDevice("dev", d.bytes);
    auto hid = Create("dev");
    std::vector<std::uint16_t> pages;
    EXPECT_EQ(hid->GetUsagePages(pages), kStatusSuccess);
    EXPECT_EQ(pages, (std::vector<std::uint16_t>{0xFF01, 0xFF03}));
    std::vector<std::uint16_t> usages;
    EXPECT_EQ(hid->GetUsages(0xFF03, usages), kStatusSuccess);
    EXPECT_EQ(usages, (std::vector<std::uint16_t>{0x0004, 0x0080}));
    EXPECT_TRUE(hid->HasUsagePage(0xFF01));
    EXPECT_FALSE(hid->HasUsagePage(0xFF02));
}

TEST_F(HidDeviceTest, ProductClass) {
    const struct {
        std::uint16_t product, productClass;
    } cases[] = {{0x0002, 0x0002}, {0x0006, 0x0006}, {0x4000, 0x4000}, {0x4123, 0x4000}, {0x7FFF, 0x4000},
                 {0x8312, 0x8300}, {0xBFFF, 0xBF00}, {0xC001, 0xC001}};
    for (const auto& c : cases) {
        AddDevice("dev", PlainValueDescriptor()).attributes = {0x7E51, c.product, 0x0100};
        auto hid = Create("dev");
        EXPECT_EQ(hid->GetProductClass(), c.productClass) << std::hex << c.product;
        EXPECT_EQ(hid->GetProductId(), c.product);
        EXPECT_EQ(hid->GetVendorId(), 0x7E51);
        EXPECT_EQ(hid->GetVersionNumber(), 0x0100);
    }
}

TEST_F(HidDeviceTest, IsConnectedOnlyFailsWhenTheDeviceIsGone) {
    FakeDevice& device = AddDevice("dev", PlainValueDescriptor());
    auto hid = Create("dev");
    for (const auto& [outcome, connected] :
         {std::pair{HidIo::Ok, true}, std::pair{HidIo::Failed, true}, std::pair{HidIo::NotConnected, false}}) {
        device.onGet = [outcome = outcome](std::span<std::uint8_t>) { return outcome; };
        EXPECT_EQ(hid->IsConnected(), connected);
        EXPECT_EQ(device.transfers.back().bytes, Bytes(10, 0));
    }
}

TEST_F(HidDeviceTest, ClosedInterfaceKnowsNoUsages) {
    AddDevice("dev", PlainValueDescriptor());
    auto hid = Create("dev");
    EXPECT_EQ(hid->CloseInterface(), kStatusSuccess);
    std::uint32_t value = 0;
    EXPECT_FALSE(hid->HasUsage(0xFF00, 0x0010));
    EXPECT_EQ(hid->GetFeatureValue(0xFF00, 0x0010, value), kHidNoSuchUsage);
    EXPECT_FALSE(hid->IsConnected());
    EXPECT_EQ(hid->GetDevicePath(), "");
    EXPECT_EQ(hid->StartInputReader(nullptr, nullptr, nullptr, false), kHidButtonFailed);
}

TEST_F(HidDeviceTest, IdentStrings) {
    const struct {
        std::uint16_t length;
        std::string bytes, text1, text2;
    } cases[] = {
        {16, std::string("SN123456Model X\0", 16), "SN123456", "Model"},
        {16, std::string("AB\0CDEFGH\0IJKLMNO", 16), "AB", "H"},  // each field ends at its first zero
        {10, "S1234567MX", "S1234567", "MX"},                     // a short usage gives what exists
        {4, "S123", "S123", ""},
    };
    for (const auto& c : cases) {
        DescriptorBuilder d;
        d.UsagePage(0xFF00).Usage(0x0001).Application().ReportId(7).FeatureValue(0x0035, 8, c.length).End();
        Bytes reply{7};
        reply.insert(reply.end(), c.bytes.begin(), c.bytes.end());
        AddDevice("dev", d.bytes, reply);
        auto hid = Create("dev");
        std::string text1 = "x", text2 = "y";
        EXPECT_EQ(hid->GetIdentStrings(text1, text2), kStatusSuccess);
        EXPECT_EQ(text1, c.text1);
        EXPECT_EQ(text2, c.text2);
    }
    AddDevice("dev", PlainValueDescriptor());
    std::string text1, text2;
    EXPECT_EQ(Create("dev")->GetIdentStrings(text1, text2), kHidButtonFailed);
}

// --- the tunnel: token and descriptor transfer ---

class DescriptorTransferTest : public HidDeviceTest {
protected:
    std::unique_ptr<HidDevice> CreateTunnel(std::size_t descriptorSize, std::size_t chunkLength, std::uint16_t token = 0) {
        server_.descriptor = MonitorDescriptor(descriptorSize);
        server_.chunkLength = chunkLength;
        device_ = &platform_.Add("tunnel");
        ServeTunnel(*device_, server_, token);
        return Create("tunnel");
    }
    static void ExpectRetryWaits(const std::vector<std::uint32_t>& waits) {
        for (std::uint32_t wait : waits) {
            EXPECT_TRUE(wait >= 50 && wait <= 500 && wait % 50 == 0) << wait;
        }
    }

    ChunkServer server_;
    FakeDevice* device_ = nullptr;
};

TEST_F(DescriptorTransferTest, ReadsTheDescriptorInChunks) {
    auto hid = CreateTunnel(150, 64, 0xBEEF);
    EXPECT_EQ(hid->TunnelToken(), 0xBEEF);
    EXPECT_TRUE(hid->HasDescriptor());
    EXPECT_EQ(server_.offsetsServed, (std::vector<std::uint16_t>{0, 60, 120}));
    EXPECT_TRUE(clock_.Waits().empty());
    // The transfer starts with an all-zero request of the chunk length.
    const std::vector<Bytes> sets = Sets(*device_);
    ASSERT_EQ(sets.size(), 1u);
    Bytes start(65, 0);
    start[0] = 1;  // report ID
    EXPECT_EQ(sets[0], start);
    // The parsed root is the monitor's Application collection: it passes the device-list test.
    EXPECT_EQ(hid->Root().value, 1);
    EXPECT_TRUE(PassesDescriptorTest(*hid));
}

TEST_F(DescriptorTransferTest, WrongOffsetIsAskedForAgainAfterAWait) {
    server_.tamper = [](std::span<std::uint8_t> chunk, int read) {
        if (read == 1) chunk[0] = 99;  // the second chunk claims the wrong offset
    };
    auto hid = CreateTunnel(150, 64);
    const std::vector<Bytes> sets = Sets(*device_);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[1][1] | sets[1][2] << 8, 60);  // the expected offset
    ASSERT_EQ(clock_.Waits().size(), 1u);
    ExpectRetryWaits(clock_.Waits());
    EXPECT_EQ(server_.offsetsServed, (std::vector<std::uint16_t>{0, 99, 60, 120}));
    EXPECT_TRUE(PassesDescriptorTest(*hid));
}

TEST_F(DescriptorTransferTest, TransferThatNeverSynchronisesIsAbandoned) {
    server_.tamper = [](std::span<std::uint8_t> chunk, int) { chunk[0] = 0xFF; };
    auto hid = CreateTunnel(150, 64);
    EXPECT_EQ(server_.reads, 21);
    EXPECT_EQ(clock_.Waits().size(), 20u);
    ExpectRetryWaits(clock_.Waits());
    EXPECT_TRUE(hid->HasDescriptor());
    EXPECT_TRUE(hid->Root().items.empty());
    EXPECT_FALSE(PassesDescriptorTest(*hid));
}

TEST_F(DescriptorTransferTest, RetryDelaysFollowTheSeed) {
    server_.tamper = [](std::span<std::uint8_t> chunk, int) { chunk[0] = 0xFF; };
    std::vector<std::vector<std::uint32_t>> runs;
    for (std::uint32_t seed : {7u, 7u, 8u}) {
        SeedHidRetryRandom(seed);
        clock_.ClearWaits();
        server_.reads = 0;
        CreateTunnel(150, 64);
        runs.push_back(clock_.Waits());
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_NE(runs[0], runs[2]);
}

TEST_F(DescriptorTransferTest, MismatchesAreBoundedOverTheWholeTransfer) {
    // Twenty wrong chunks before every right one would otherwise stall forever on a large total.
    server_.tamper = [](std::span<std::uint8_t> chunk, int read) {
        chunk[2] = 0xFF;
        chunk[3] = 0xFF;  // total 65535
        if (read % 21 != 20) chunk[0] ^= 0x01;
    };
    auto hid = CreateTunnel(150, 64);
    EXPECT_EQ(clock_.Waits().size(), static_cast<std::size_t>(kMaxDescriptorMismatchesInAll));
    EXPECT_FALSE(PassesDescriptorTest(*hid));
}

TEST_F(DescriptorTransferTest, ChangingTotalNeverOverrunsOrHangs) {
    const struct {
        const char* name;
        std::function<void(std::span<std::uint8_t>, int)> tamper;
        int maxReads;
    } cases[] = {
        // The total shrinks below the offset: nothing more is taken.
        {"shrinks", [](std::span<std::uint8_t> chunk, int read) { if (read == 1) chunk[2] = 30, chunk[3] = 0; }, 2},
        // The total grows ahead of every chunk: the transfer still ends at 65535 bytes.
        {"grows", [](std::span<std::uint8_t> chunk, int) { chunk[2] = 0xFF, chunk[3] = 0xFF; }, 65535 / 60 + 1},
        // A first chunk with total 0 is an empty descriptor.
        {"empty", [](std::span<std::uint8_t> chunk, int) { chunk[2] = 0, chunk[3] = 0; }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_ = ChunkServer{};
        server_.tamper = c.tamper;
        auto hid = CreateTunnel(150, 64);
        EXPECT_LE(server_.reads, c.maxReads);
        EXPECT_TRUE(clock_.Waits().empty());
        EXPECT_TRUE(hid->HasDescriptor());
    }
}

TEST_F(DescriptorTransferTest, BytesBeyondTheTotalAreNotTaken) {
    // The collection closes in the second chunk, but that chunk claims a total of 30:
    // its payload lies beyond the total and is not taken, so the descriptor stays unclosed.
    server_.tamper = [](std::span<std::uint8_t> chunk, int read) {
        if (read == 1) chunk[2] = 30, chunk[3] = 0;
    };
    auto hid = CreateTunnel(120, 64);
    EXPECT_EQ(server_.reads, 2);
    EXPECT_TRUE(hid->Root().children.empty());
    EXPECT_FALSE(PassesDescriptorTest(*hid));
}

TEST_F(DescriptorTransferTest, ChunkWithoutRoomForPayloadIsNotTransferred) {
    for (std::size_t chunkLength : {1u, 4u}) {
        auto hid = CreateTunnel(150, chunkLength);
        EXPECT_EQ(server_.reads, 0);
        EXPECT_TRUE(Sets(*device_).empty());
        EXPECT_TRUE(hid->HasDescriptor());
        EXPECT_FALSE(PassesDescriptorTest(*hid));
    }
    // Declared only as a button: chunk length 0.
    DescriptorBuilder d;
    d.UsagePage(0xFF30).Usage(0x0001).Application().ReportId(1).FeatureButton(0x0001).End();
    FakeDevice& button = AddDevice("button", d.bytes);
    auto hid = Create("button");
    EXPECT_TRUE(button.transfers.empty());
    EXPECT_TRUE(hid->HasDescriptor());
    EXPECT_FALSE(PassesDescriptorTest(*hid));
}

TEST_F(DescriptorTransferTest, FailedTokenReadGivesZero) {
    server_.chunkLength = 64;
    server_.descriptor = MonitorDescriptor(40);
    FakeDevice& device = platform_.Add("tunnel");
    ServeTunnel(device, server_, 0x1234);
    auto serve = device.onGet;
    device.onGet = [serve](std::span<std::uint8_t> report) { return report[0] == 2 ? HidIo::Failed : serve(report); };
    auto hid = Create("tunnel");
    EXPECT_EQ(hid->TunnelToken(), 0);
    EXPECT_TRUE(PassesDescriptorTest(*hid));
}

// --- the input reader ---

class InputReaderTest : public HidDeviceTest {
protected:
    struct Seen {
        std::uint16_t page, usage, size, count;
        Bytes data;
    };
    static void OnInput(HidDevice*, std::uint16_t page, std::uint16_t usage, std::uint16_t size, std::uint16_t count,
                        std::span<const std::uint8_t> data, void* user) {
        auto* self = static_cast<InputReaderTest*>(user);
        std::lock_guard lock(self->mutex_);
        self->seen_.push_back({page, usage, size, count, {data.begin(), data.end()}});
        self->changed_.notify_all();
    }
    static void OnStopped(HidDevice*, void* user) { ++static_cast<InputReaderTest*>(user)->stopped_; }

    // Safety net only: the report is normally there at once.
    bool WaitForInputs(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return seen_.size() >= count; });
    }

    FakeDevice& AddInputDevice() {
        DescriptorBuilder d;
        d.UsagePage(0xFF00).Usage(0x0001).Application().ReportId(7);
        d.Usage(0x0040).Logical(0, 0xFF).ReportSize(16).ReportCount(1).Input().End();
        return AddDevice("dev", d.bytes);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Seen> seen_;
    int stopped_ = 0;
    ChunkServer server_;
};

TEST_F(InputReaderTest, DeliversFreshFieldsAndStops) {
    FakeDevice& device = AddInputDevice();
    auto hid = Create("dev");
    EXPECT_EQ(hid->StopInputReader(), kHidButtonFailed);  // not running
    EXPECT_EQ(hid->StartInputReader(OnInput, OnStopped, this, false), kStatusSuccess);
    EXPECT_EQ(device.opens, 2);  // a record of its own
    device.PushInput({7, 0x34, 0x12});
    ASSERT_TRUE(WaitForInputs(1));
    device.PushInput({8, 0x99, 0x99});  // no field of this report: nothing is delivered
    device.PushInput({7, 0x78, 0x56});
    ASSERT_TRUE(WaitForInputs(2));
    EXPECT_EQ(hid->StopInputReader(), kStatusSuccess);
    EXPECT_EQ(stopped_, 1);
    EXPECT_EQ(hid->StopInputReader(), kHidButtonFailed);
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[0].page, 0xFF00);
    EXPECT_EQ(seen_[0].usage, 0x0040);
    EXPECT_EQ(seen_[0].size, 16);
    EXPECT_EQ(seen_[0].count, 1);
    // The whole report buffer, the field right-aligned over its first bytes.
    EXPECT_EQ(Bytes(seen_[0].data.begin(), seen_[0].data.begin() + 2), (Bytes{0x34, 0x12}));
    EXPECT_EQ(Bytes(seen_[1].data.begin(), seen_[1].data.begin() + 2), (Bytes{0x78, 0x56}));
    EXPECT_EQ(seen_[1].data.size(), 3u);
}

TEST_F(InputReaderTest, RestartAndDestructionStopTheRunningReader) {
    AddInputDevice();
    auto hid = Create("dev");
    EXPECT_EQ(hid->StartInputReader(OnInput, OnStopped, this, true), kStatusSuccess);
    EXPECT_EQ(hid->StartInputReader(OnInput, OnStopped, this, true), kStatusSuccess);
    EXPECT_EQ(stopped_, 1);
    hid.reset();
    EXPECT_EQ(stopped_, 2);
}

TEST_F(InputReaderTest, ReaderThatCannotOpenOrReadEnds) {
    FakeDevice& device = AddInputDevice();
    auto hid = Create("dev");
    device.failOpen = true;
    EXPECT_EQ(hid->StartInputReader(OnInput, OnStopped, this, false), kHidButtonFailed);
    EXPECT_EQ(hid->StopInputReader(), kHidButtonFailed);
    device.failOpen = false;
    device.inputFails = true;  // the loop ends by itself; stopping still reports the end
    EXPECT_EQ(hid->StartInputReader(OnInput, OnStopped, this, false), kStatusSuccess);
    EXPECT_EQ(hid->StopInputReader(), kStatusSuccess);
    EXPECT_EQ(stopped_, 1);
    EXPECT_TRUE(seen_.empty());
}

TEST_F(InputReaderTest, TunnelledReportNamesItsOwnUsage) {
    // Interface: the tunnel, plus a 16-byte input report 3.
    server_.chunkLength = 64;
    DescriptorBuilder vendor;
    vendor.UsagePage(0x80).Usage(0x0001).Application();
    vendor.UsagePage(0xFF01).Usage(0x0042).Logical(0, 0xFF).ReportSize(8).ReportCount(6).Input().End();
    server_.descriptor = vendor.bytes;
    FakeDevice& device = platform_.Add("dev");
    ServeTunnel(device, server_);
    DescriptorBuilder d;
    d.bytes = TunnelInterfaceDescriptor(64);
    d.bytes.pop_back();  // reopen the collection for one more report
    d.ReportId(3).Usage(0x0010).Logical(0, 0xFF).ReportSize(8).ReportCount(16).Input().End();
    device.descriptor = d.bytes;
    auto hid = Create("dev");
    ASSERT_TRUE(PassesDescriptorTest(*hid));

    EXPECT_EQ(hid->StartInputReader(OnInput, OnStopped, this, false), kStatusSuccess);
    // After unpacking, the array starts at byte 0: page 0xFF01, usage 0x0042, two skipped bytes, data.
    device.PushInput({3, 0x01, 0xFF, 0x42, 0x00, 0xAA, 0xBB, 'd', 'a', 't', 'a', 0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(WaitForInputs(1));
    EXPECT_EQ(hid->StopInputReader(), kStatusSuccess);
    EXPECT_EQ(seen_[0].page, 0xFF01);
    EXPECT_EQ(seen_[0].usage, 0x0042);
    EXPECT_EQ(seen_[0].size, 8);
    EXPECT_EQ(seen_[0].count, 6);
    ASSERT_GE(seen_[0].data.size(), 4u);
    EXPECT_EQ(Bytes(seen_[0].data.begin(), seen_[0].data.begin() + 4), (Bytes{'d', 'a', 't', 'a'}));
}

}  // namespace
