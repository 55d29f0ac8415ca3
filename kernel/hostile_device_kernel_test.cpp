// Devices that misbehave, through the real kernel: an answer that is a
// failure, short or over-long answers, no answer at all while the device goes
// away, and a report descriptor the kernel accepts but that is hostile to our
// parser. Each is an emulated monitor of the tests' own on /dev/uhid whose
// answers the test bends.
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "common/unique_fd.h"
#include "emulator/monitor.h"
#include "emulator/report_layout.h"
#include "emulator/uhid_messages.h"
#include "hid/capabilities.h"
#include "kernel/kernel_testing.h"
#include "monitor/discovery.h"

namespace {

using namespace kernel_testing;

// How the device bends its monitor's answer to a feature report get.
enum class Answer { AsTheMonitor, Failure, Short, OverLong, Never };

// A monitor on /dev/uhid served by a thread of the test; answers to gets of
// `bentReportId` are bent as `answer` says.
class BentUhidDevice {
public:
    BentUhidDevice(MonitorKind kind, std::vector<std::uint8_t> descriptor = {}) : monitor_(app_testing::Bench::Config(kind, "KRN00030")) {
        uhid_ = UniqueFd(::open("/dev/uhid", O_RDWR | O_CLOEXEC));
        EXPECT_TRUE(uhid_) << "/dev/uhid: " << std::strerror(errno);
        auto create = std::make_unique<uhid_event>();
        FillCreate2(monitor_, *create);
        if (!descriptor.empty()) {
            create->u.create2.rd_size = static_cast<std::uint16_t>(descriptor.size());
            std::copy(descriptor.begin(), descriptor.end(), create->u.create2.rd_data);
        }
        EXPECT_EQ(::write(uhid_.get(), create.get(), sizeof *create), static_cast<ssize_t>(sizeof *create));
        thread_ = std::thread([this] { Serve(); });
    }
    ~BentUhidDevice() {
        stop_ = true;
        thread_.join();
        Destroy();
    }

    void Bend(std::uint8_t reportId, Answer answer) {
        bentReportId_ = reportId;
        answer_ = answer;
    }
    // The report ID of a usage in the monitor's own descriptor.
    std::uint8_t ReportIdOf(UsageAddress usage) const {
        return ReportLayout::Parse(monitor_.Descriptor())->Find(usage)->reportId;
    }
    void Destroy() {
        if (destroyed_.exchange(true)) return;
        uhid_event destroy{};
        destroy.type = UHID_DESTROY;
        [[maybe_unused]] const auto n = ::write(uhid_.get(), &destroy, sizeof destroy);
    }
    // Gets that got no answer, so far.
    int Unanswered() const { return unanswered_; }

private:
    void Serve() {
        while (!stop_) {
            pollfd p{uhid_.get(), POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            auto request = std::make_unique<uhid_event>();
            if (::read(uhid_.get(), request.get(), sizeof *request) <= 0) continue;
            auto reply = std::make_unique<uhid_event>();
            if (!AnswerRequest(monitor_, *request, *reply)) continue;
            if (request->type == UHID_GET_REPORT && request->u.get_report.rnum == bentReportId_) {
                auto& r = reply->u.get_report_reply;
                switch (answer_.load()) {
                case Answer::AsTheMonitor: break;
                case Answer::Failure: r.err = EIO; r.size = 0; break;
                case Answer::Short: r.size = 3; break;
                case Answer::OverLong: std::memset(r.data + r.size, 0xA5, 64); r.size += 64; break;
                case Answer::Never: ++unanswered_; continue;
                }
            }
            [[maybe_unused]] const auto n = ::write(uhid_.get(), reply.get(), sizeof *reply);
        }
    }

    Monitor monitor_;
    UniqueFd uhid_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> destroyed_{false};
    std::atomic<std::uint8_t> bentReportId_{0};
    std::atomic<Answer> answer_{Answer::AsTheMonitor};
    std::atomic<int> unanswered_{0};
};

class BentDeviceTest : public ::testing::Test {
protected:
    BentDeviceTest() { MonCloseDevices(0xFFFFFFFF); }
    ~BentDeviceTest() override { MonCloseDevices(0xFFFFFFFF); }

    std::unique_ptr<HidConnection> OpenOlderNative() {
        std::optional<std::string> path;
        EXPECT_TRUE(WaitUntil([&] { return (path = FindInterface(*hidraw, kOlderNative.vendor)).has_value(); },
                              kArrivalLimitMs));
        return path ? hidraw->Open(*path, true) : nullptr;
    }

    std::unique_ptr<HidPlatform> hidraw = MakeHidrawPlatform();
};

// The identity report of an older-native monitor, as a buffer with guard bytes after it.
struct IdentityRead {
    static constexpr std::size_t kGuard = 16;
    std::vector<std::uint8_t> buffer;
    std::size_t length;
    IdentityRead(std::uint8_t reportId, std::size_t reportLength) : buffer(reportLength + kGuard, 0xEE), length(reportLength) {
        buffer[0] = reportId;
    }
    std::span<std::uint8_t> Report() { return std::span(buffer).first(length); }
    bool GuardIntact() const {
        return std::all_of(buffer.end() - kGuard, buffer.end(), [](std::uint8_t b) { return b == 0xEE; });
    }
};

TEST_F(BentDeviceTest, AFailedAnswerFailsThatTransferOnlyAndTheIdentityReadSaysSo) {
    BentUhidDevice device(MonitorKind::OlderNative);
    const std::uint8_t identity = device.ReportIdOf({0xFF00, 0x0035});
    const auto connection = OpenOlderNative();
    ASSERT_NE(connection, nullptr);
    IdentityRead good(identity, 33);
    ASSERT_EQ(connection->GetFeature(good.Report()), HidIo::Ok);

    device.Bend(identity, Answer::Failure);
    IdentityRead bad(identity, 33);
    EXPECT_EQ(connection->GetFeature(bad.Report()), HidIo::Failed);  // not "not connected": the device stays
    ASSERT_EQ(MonOpenDevices(kFamilyNormal), 1u);
    MonitorHandle handle = kNoMonitor;
    ASSERT_EQ(MonGetDevice(kFamilyNormal, 0, &handle), 0u);
    std::string model = "unchanged", serial = "unchanged";
    EXPECT_EQ(MonReadIdentity(handle, model, serial), kMonTransferFailed);
    EXPECT_EQ(serial, "unchanged");

    device.Bend(identity, Answer::AsTheMonitor);
    EXPECT_EQ(MonReadIdentity(handle, model, serial), 0u);
    EXPECT_EQ(serial, "KRN00030");
}

TEST_F(BentDeviceTest, ShortAndOverLongAnswersStayWithinTheBuffer) {
    BentUhidDevice device(MonitorKind::OlderNative);
    const std::uint8_t identity = device.ReportIdOf({0xFF00, 0x0035});
    const auto connection = OpenOlderNative();
    ASSERT_NE(connection, nullptr);
    IdentityRead reference(identity, 33);
    ASSERT_EQ(connection->GetFeature(reference.Report()), HidIo::Ok);

    device.Bend(identity, Answer::OverLong);
    IdentityRead longer(identity, 33);
    EXPECT_EQ(connection->GetFeature(longer.Report()), HidIo::Ok);
    EXPECT_TRUE(std::equal(reference.buffer.begin(), reference.buffer.begin() + 33, longer.buffer.begin()));
    EXPECT_TRUE(longer.GuardIntact());

    device.Bend(identity, Answer::Short);
    IdentityRead shorter(identity, 33);
    std::fill(shorter.buffer.begin() + 1, shorter.buffer.begin() + 33, 0x77);
    EXPECT_EQ(connection->GetFeature(shorter.Report()), HidIo::Ok);
    // The three bytes sent arrive; the rest of the buffer is left as it was.
    EXPECT_TRUE(std::equal(reference.buffer.begin(), reference.buffer.begin() + 3, shorter.buffer.begin()));
    EXPECT_TRUE(std::all_of(shorter.buffer.begin() + 3, shorter.buffer.begin() + 33, [](std::uint8_t b) { return b == 0x77; }));
    EXPECT_TRUE(shorter.GuardIntact());
}

TEST_F(BentDeviceTest, ADeviceThatGoesWhileATransferWaitsEndsItWithoutHanging) {
    auto device = std::make_unique<BentUhidDevice>(MonitorKind::OlderNative);
    const std::uint8_t identity = device->ReportIdOf({0xFF00, 0x0035});
    const auto connection = OpenOlderNative();
    ASSERT_NE(connection, nullptr);
    device->Bend(identity, Answer::Never);
    std::thread unplug([&] {
        WaitUntil([&] { return device->Unanswered() > 0; }, 10'000);
        device->Destroy();
    });
    IdentityRead read(identity, 33);
    const std::uint64_t start = NowMs();
    const HidIo io = connection->GetFeature(read.Report());
    unplug.join();
    EXPECT_NE(io, HidIo::Ok);
    EXPECT_LT(NowMs() - start, 10'000u);
    EXPECT_EQ(connection->GetFeature(read.Report()), HidIo::NotConnected);
    EXPECT_EQ(MonRefreshDevices(), 0u);
}

// Descriptors the kernel takes, each hostile to a parser in its own way.
std::vector<std::uint8_t> DeepCollections() {
    std::vector<std::uint8_t> d{0x06, 0x00, 0xFF, 0x09, 0x01};  // Usage Page 0xFF00, Usage 1
    for (int i = 0; i < 200; ++i) d.insert(d.end(), {0xA1, 0x02});  // Logical collections, nested
    d.insert(d.end(), {0x75, 0x08, 0x95, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x09, 0x35, 0xB1, 0x02});
    for (int i = 0; i < 200; ++i) d.push_back(0xC0);
    return d;
}
std::vector<std::uint8_t> HugeCountsAndReversedRanges() {
    return {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,  // Application collection 0xFF00:1
            0x85, 0x01, 0x1A, 0xFF, 0x00, 0x2A, 0x01, 0x00,  // report 1, Usage Minimum 0xFF > Maximum 1
            0x75, 0x01, 0x95, 0xFF, 0xB1, 0x02,              // 255 one-bit fields
            0x85, 0x02, 0x09, 0x35, 0x75, 0x08, 0x96, 0x00, 0x02, 0xB1, 0x02,  // a 512-byte field
            0xC0};
}

TEST_F(BentDeviceTest, AHostileDescriptorIsParsedWithoutHarmAndHasNoIdentity) {
    for (const auto& descriptor : {DeepCollections(), HugeCountsAndReversedRanges()}) {
        SCOPED_TRACE(descriptor.size());
        BentUhidDevice device(MonitorKind::OlderNative, descriptor);
        const auto connection = OpenOlderNative();
        ASSERT_NE(connection, nullptr);
        const auto got = connection->ReportDescriptor();
        EXPECT_TRUE(std::equal(got.begin(), got.end(), descriptor.begin(), descriptor.end()));
        const HidCapabilities caps = DeriveCapabilities(got);
        EXPECT_LE(caps.caps.numberLinkCollectionNodes, 256u);
        // Vendor and product make it a monitor to the discovery; it has no
        // identity: reading it fails, or (a block of a byte) leaves the texts empty.
        for (std::uint32_t i = 0, n = MonOpenDevices(kFamilyNormal); i < n; ++i) {
            MonitorHandle handle = kNoMonitor;
            ASSERT_EQ(MonGetDevice(kFamilyNormal, i, &handle), 0u);
            std::array<char, 18> model{};
            std::array<char, 10> serial{};
            if (!IsFailure(MonGetModelName(handle, model))) {
                EXPECT_STREQ(model.data(), "");
            }
            if (!IsFailure(MonGetSerialNumber(handle, serial))) {
                EXPECT_STREQ(serial.data(), "");
            }
        }
        MonCloseDevices(0xFFFFFFFF);
        device.Destroy();
        WaitUntil([&] { return !FindInterface(*hidraw, kOlderNative.vendor); }, kArrivalLimitMs);
    }
}

}  // namespace
