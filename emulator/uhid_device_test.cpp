// The /dev/uhid device, with a socket pair standing in for the kernel.
#include <sys/socket.h>

#include <memory>

#include <gtest/gtest.h>

#include "common/clock.h"
#include "emulator/emulator_testing.h"
#include "emulator/uhid_device.h"
#include "emulator/uhid_messages.h"

namespace {

class UhidDeviceTest : public ::testing::Test {
protected:
    UhidDeviceTest() : scoped_(clock_) {
        int fds[2];
        ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds);
        kernel_ = UniqueFd(fds[0]);
        device_ = std::make_unique<UhidDevice>(monitor_, UniqueFd(fds[1]));
    }

    std::unique_ptr<uhid_event> Receive() {
        auto event = std::make_unique<uhid_event>();
        if (::recv(kernel_.get(), event.get(), sizeof *event, MSG_DONTWAIT) != static_cast<ssize_t>(sizeof *event)) {
            event->type = 0;
        }
        return event;
    }
    void Send(const uhid_event& event) { ::send(kernel_.get(), &event, sizeof event, 0); }

    VirtualClock clock_;
    ScopedClock scoped_;
    Monitor monitor_{TestConfig(MonitorKind::OlderNative)};
    UniqueFd kernel_;
    std::unique_ptr<UhidDevice> device_;
};

TEST_F(UhidDeviceTest, CreatesAnswersAndRestartsOnOneHandle) {
    std::string fault;
    ASSERT_TRUE(device_->PlugIn(&fault));
    auto create = Receive();
    ASSERT_EQ(create->type, UHID_CREATE2);
    EXPECT_EQ(create->u.create2.vendor, 0x7E51u);
    EXPECT_EQ(create->u.create2.rd_size, monitor_.Descriptor().size());

    // The kernel's own events need no answer.
    auto start = std::make_unique<uhid_event>();
    start->type = UHID_START;
    Send(*start);
    device_->ServeOnce(0);
    EXPECT_EQ(Receive()->type, 0u);

    const auto layout = ReportLayout::Parse(monitor_.Descriptor());
    auto get = std::make_unique<uhid_event>();
    get->type = UHID_GET_REPORT;
    get->u.get_report = {77, layout->Find({0xFF00, 0x00B8})->reportId, UHID_FEATURE_REPORT};
    Send(*get);
    device_->ServeOnce(0);
    auto reply = Receive();
    ASSERT_EQ(reply->type, UHID_GET_REPORT_REPLY);
    EXPECT_EQ(reply->u.get_report_reply.id, 77u);
    EXPECT_EQ(reply->u.get_report_reply.size, 2);
    EXPECT_EQ(reply->u.get_report_reply.data[1], 1);

    auto restart = std::make_unique<uhid_event>();
    restart->type = UHID_SET_REPORT;
    restart->u.set_report.id = 78;
    restart->u.set_report.rnum = layout->Find({0xFF02, 0x00F4})->reportId;
    restart->u.set_report.size = 2;
    restart->u.set_report.data[0] = restart->u.set_report.rnum;
    Send(*restart);
    device_->ServeOnce(0);
    EXPECT_EQ(Receive()->type, UHID_SET_REPORT_REPLY);
    EXPECT_EQ(Receive()->type, UHID_DESTROY);
    EXPECT_EQ(Receive()->type, UHID_CREATE2);
    EXPECT_EQ(clock_.NowMs(), 5000u + kUhidAnswerBeforeDepartureMs);
}

TEST(UhidOpenTest, MissingDeviceFileIsReported) {
    std::string fault;
    EXPECT_FALSE(UhidDevice::Open("/nonexistent/uhid", &fault));
    EXPECT_NE(fault.find("/nonexistent/uhid"), std::string::npos);
}

}  // namespace
