// The emulated backend over real sockets in a temporary directory, against
// small device models served by a thread of the test.
#include "hid/emulated_linux.h"

#include <gtest/gtest.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string_view>
#include <thread>

#include "common/system_failure.h"
#include "common/unique_fd.h"
#include "hid/device_list.h"
#include "hid/hid_platform.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes EventBytes(const uhid_event& event) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&event);
    return Bytes(p, p + sizeof event);
}

uhid_event Create2(std::uint16_t vendor, std::uint16_t product, std::uint32_t version, const Bytes& descriptor) {
    uhid_event event{};
    event.type = UHID_CREATE2;
    std::strcpy(reinterpret_cast<char*>(event.u.create2.name), "test device");
    event.u.create2.bus = 0x03;
    event.u.create2.vendor = vendor;
    event.u.create2.product = product;
    event.u.create2.version = version;
    event.u.create2.rd_size = static_cast<std::uint16_t>(descriptor.size());
    std::copy(descriptor.begin(), descriptor.end(), event.u.create2.rd_data);
    return event;
}

// One emulated interface: listens on its socket, greets each connection with
// `greeting` and answers each request with the datagrams `answer` returns.
class DeviceModel {
public:
    using Answer = std::function<std::vector<Bytes>(const uhid_event& request)>;

    DeviceModel(const fs::path& path, Bytes greeting, Answer answer)
        : path_(path), greeting_(std::move(greeting)), answer_(std::move(answer)) {
        listener_ = UniqueFd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener_.get(), 4), 0);
        thread_ = std::thread([this] { Serve(); });
    }
    ~DeviceModel() {
        ::shutdown(listener_.get(), SHUT_RDWR);
        thread_.join();
        ::unlink(path_.c_str());
    }
    std::vector<uhid_event> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void Serve() {
        for (;;) {
            UniqueFd connection(::accept(listener_.get(), nullptr, nullptr));
            if (!connection) return;
            ::send(connection.get(), greeting_.data(), greeting_.size(), MSG_NOSIGNAL);
            for (;;) {
                pollfd pfds[2] = {{connection.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
                if (::poll(pfds, 2, -1) <= 0 || (pfds[1].revents & (POLLHUP | POLLERR)) != 0) return;
                uhid_event request{};
                if (::recv(connection.get(), &request, sizeof request, 0) <= 0) break;
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(request);
                }
                const std::vector<Bytes> replies = answer_(request);
                bool close = false;
                for (const Bytes& reply : replies) {
                    if (reply.empty()) close = true;  // an empty datagram stands for hanging up
                    else ::send(connection.get(), reply.data(), reply.size(), MSG_NOSIGNAL);
                }
                if (close) break;
            }
        }
    }

    fs::path path_;
    Bytes greeting_;
    Answer answer_;
    UniqueFd listener_;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<uhid_event> requests_;
};

uhid_event GetReply(const uhid_event& request, std::uint16_t err, Bytes data, std::uint16_t size = 0xFFFF) {
    uhid_event reply{};
    reply.type = UHID_GET_REPORT_REPLY;
    reply.u.get_report_reply.id = request.u.get_report.id;
    reply.u.get_report_reply.err = err;
    reply.u.get_report_reply.size = size == 0xFFFF ? static_cast<std::uint16_t>(data.size()) : size;
    std::copy(data.begin(), data.end(), reply.u.get_report_reply.data);
    return reply;
}

uhid_event SetReply(const uhid_event& request, std::uint16_t err) {
    uhid_event reply{};
    reply.type = UHID_SET_REPORT_REPLY;
    reply.u.set_report_reply.id = request.u.set_report.id;
    reply.u.set_report_reply.err = err;
    return reply;
}

// Interface descriptor: report 1 carries a 16-bit value 0xFF00:0x0010.
const Bytes kDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x10, 0x15, 0x00,
                           0x26, 0xFF, 0x00, 0x75, 0x10, 0x95, 0x01, 0xB1, 0x02, 0xC0};

class EmulatedTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hid_emulated_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        platform_ = MakeEmulatedPlatform(dir_.string(), kEmulatedReplyTimeoutMs);
        silentPlatform_ = MakeEmulatedPlatform(dir_.string(), kSilentDeviceTimeoutMs);
    }
    void TearDown() override {
        models_.clear();
        fs::remove_all(dir_);
    }

    std::string Plug(const std::string& name, DeviceModel::Answer answer,
                     Bytes greeting = EventBytes(Create2(0x7E51, 0x4001, 0x0102, kDescriptor))) {
        const fs::path path = dir_ / name;
        models_.push_back(std::make_unique<DeviceModel>(path, std::move(greeting), std::move(answer)));
        return path.string();
    }
    // A model that answers every read with `data` and accepts every write.
    static DeviceModel::Answer Echo(Bytes data) {
        return [data](const uhid_event& request) -> std::vector<Bytes> {
            if (request.type == UHID_GET_REPORT) return {EventBytes(GetReply(request, 0, data))};
            return {EventBytes(SetReply(request, 0))};
        };
    }

    // A device that answers is given the updater's own reply timeout (5 s), a
    // margin that no load of the machine uses up; one that never answers is
    // waited for briefly, through silentPlatform_, as no load makes it answer.
    static constexpr int kSilentDeviceTimeoutMs = 50;
    HidPlatform& PlatformFor(bool silent) { return silent ? *silentPlatform_ : *platform_; }
    fs::path dir_;
    std::unique_ptr<HidPlatform> platform_;
    std::unique_ptr<HidPlatform> silentPlatform_;
    std::vector<std::unique_ptr<DeviceModel>> models_;
};

TEST(EmulatedNameTest, DeviceNames) {
    const struct {
        const char* name;
        bool device;
    } cases[] = {
        {"VID_7E51&PID_4001#0003", true}, {"VID_ABCD&PID_EF09#x", true}, {"VID_7e51&PID_4001#0003", false},
        {"VID_7E51&PID_4001#", false},    {"VID_7E51&PID_4001", false},  {"VID_7E5&PID_40011#0003", false},
        {"XID_7E51&PID_4001#1", false},   {"VID_7E51-PID_4001#1", false}, {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsEmulatedDeviceName(c.name), c.device) << c.name;
}

TEST_F(EmulatedTest, EnumeratesOnlyDeviceSockets) {
    const std::string b = Plug("VID_7E51&PID_4001#0002", Echo({}));
    const std::string a = Plug("VID_7E51&PID_4001#0001", Echo({}));
    Plug("not-a-device", Echo({}));
    std::ofstream(dir_ / "VID_7E51&PID_4001#0009") << "a plain file";
    const auto paths = platform_->EnumeratePaths();
    ASSERT_TRUE(paths);
    EXPECT_EQ(*paths, (std::vector<std::string>{a, b}));
    EXPECT_FALSE(MakeEmulatedPlatform((dir_ / "missing").string())->EnumeratePaths());
}

TEST_F(EmulatedTest, OpenReadsAttributesAndDescriptor) {
    const std::string path = Plug("VID_7E51&PID_4001#0001", Echo({}));
    auto connection = platform_->Open(path, false);
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->Attributes().vendorId, 0x7E51);
    EXPECT_EQ(connection->Attributes().productId, 0x4001);
    EXPECT_EQ(connection->Attributes().versionNumber, 0x0102);
    EXPECT_EQ(Bytes(connection->ReportDescriptor().begin(), connection->ReportDescriptor().end()), kDescriptor);
    Bytes report(4);
    EXPECT_EQ(connection->ReadInput(report, 0), HidInput::Failed);  // no input reports here
}

TEST_F(EmulatedTest, OpenRefusesBadGreetings) {
    uhid_event oversized = Create2(0x7E51, 0x4001, 1, kDescriptor);
    oversized.u.create2.rd_size = HID_MAX_DESCRIPTOR_SIZE + 1;
    uhid_event notCreate{};
    notCreate.type = UHID_DESTROY;
    const Bytes whole = EventBytes(Create2(0x7E51, 0x4001, 1, kDescriptor));
    const struct {
        const char* name;
        Bytes greeting;
    } cases[] = {
        {"descriptor longer than allowed", EventBytes(oversized)},
        {"not a create event", EventBytes(notCreate)},
        {"short datagram", Bytes(whole.begin(), whole.begin() + 100)},
        {"nothing at all", Bytes{}},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string path = Plug("VID_7E51&PID_4001#" + std::to_string(++n), Echo({}), c.greeting);
        EXPECT_FALSE(PlatformFor(c.greeting.empty()).Open(path, false)) << c.name;
    }
    EXPECT_FALSE(platform_->Open((dir_ / "VID_7E51&PID_4001#missing").string(), false));
}

TEST_F(EmulatedTest, FeatureReportsTravelWithReportIdAndRequestId) {
    const std::string path = Plug("VID_7E51&PID_4001#0001", Echo({1, 0x34, 0x12}));
    auto connection = platform_->Open(path, false);
    ASSERT_TRUE(connection);
    Bytes report{1, 0, 0};
    EXPECT_EQ(connection->GetFeature(report), HidIo::Ok);
    EXPECT_EQ(report, (Bytes{1, 0x34, 0x12}));
    const Bytes sent{1, 0xCD, 0xAB};
    EXPECT_EQ(connection->SetFeature(sent), HidIo::Ok);

    const std::vector<uhid_event> requests = models_.back()->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].type, UHID_GET_REPORT);
    EXPECT_EQ(requests[0].u.get_report.rnum, 1);
    EXPECT_EQ(requests[0].u.get_report.rtype, UHID_FEATURE_REPORT);
    EXPECT_EQ(requests[1].type, UHID_SET_REPORT);
    EXPECT_EQ(requests[1].u.set_report.size, 3);
    EXPECT_EQ(Bytes(requests[1].u.set_report.data, requests[1].u.set_report.data + 3), sent);
    EXPECT_NE(requests[0].u.get_report.id, requests[1].u.set_report.id);
}

TEST_F(EmulatedTest, HostileRepliesNeverOverrun) {
    const struct {
        const char* name;
        std::function<std::vector<Bytes>(const uhid_event&)> answer;
        HidIo expected;
        Bytes report;  // after the read, from {1, 0, 0} plus a guard byte outside the span
    } cases[] = {
        {"longer than asked", [](const uhid_event& r) { return std::vector<Bytes>{EventBytes(GetReply(r, 0, Bytes(50, 0x77)))}; },
         HidIo::Ok, {0x77, 0x77, 0x77, 0xEE}},
        {"shorter than asked", [](const uhid_event& r) { return std::vector<Bytes>{EventBytes(GetReply(r, 0, {1, 9}))}; },
         HidIo::Ok, {1, 9, 0, 0xEE}},
        {"size beyond the data field",
         [](const uhid_event& r) { return std::vector<Bytes>{EventBytes(GetReply(r, 0, {1, 2, 3}, UHID_DATA_MAX + 1))}; },
         HidIo::Failed, {1, 0, 0, 0xEE}},
        {"device error", [](const uhid_event& r) { return std::vector<Bytes>{EventBytes(GetReply(r, EIO, {1, 2, 3}))}; },
         HidIo::Failed, {1, 0, 0, 0xEE}},
        {"short datagram, then stale id, then the reply",
         [](const uhid_event& r) {
             uhid_event stale = GetReply(r, 0, {1, 5, 5});
             stale.u.get_report_reply.id = r.u.get_report.id + 100;
             const Bytes whole = EventBytes(GetReply(r, 0, {1, 6, 6}));
             return std::vector<Bytes>{Bytes(whole.begin(), whole.begin() + 8), EventBytes(stale), whole};
         },
         HidIo::Ok, {1, 6, 6, 0xEE}},
        {"no answer", [](const uhid_event&) { return std::vector<Bytes>{}; }, HidIo::Failed, {1, 0, 0, 0xEE}},
        {"unplugged", [](const uhid_event&) {
             uhid_event destroy{};
             destroy.type = UHID_DESTROY;
             return std::vector<Bytes>{EventBytes(destroy), Bytes{}};
         },
         HidIo::NotConnected, {1, 0, 0, 0xEE}},
        {"hangs up", [](const uhid_event&) { return std::vector<Bytes>{Bytes{}}; }, HidIo::NotConnected, {1, 0, 0, 0xEE}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Plug("VID_7E51&PID_4001#" + std::to_string(++n), c.answer);
        auto connection = PlatformFor(std::string_view(c.name) == "no answer").Open(path, false);
        ASSERT_TRUE(connection);
        Bytes buffer{1, 0, 0, 0xEE};
        EXPECT_EQ(connection->GetFeature(std::span(buffer).first(3)), c.expected);
        EXPECT_EQ(buffer, c.report);
        if (c.expected == HidIo::NotConnected) {
            EXPECT_EQ(connection->SetFeature(buffer), HidIo::NotConnected);  // and stays so
        }
    }
}

TEST_F(EmulatedTest, WritesTooLongForTheWireFailUnsent) {
    const std::string path = Plug("VID_7E51&PID_4001#0001", Echo({}));
    auto connection = platform_->Open(path, false);
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->SetFeature(Bytes(UHID_DATA_MAX + 1, 1)), HidIo::Failed);
    EXPECT_EQ(connection->SetFeature(Bytes{}), HidIo::Failed);
    EXPECT_TRUE(models_.back()->Requests().empty());
}

TEST_F(EmulatedTest, VanishedSocketFileIsNotConnected) {
    const std::string path = Plug("VID_7E51&PID_4001#0001", Echo({1, 2, 3}));
    auto connection = platform_->Open(path, false);
    ASSERT_TRUE(connection);
    ::unlink(path.c_str());
    Bytes report{1, 0, 0};
    EXPECT_EQ(connection->GetFeature(report), HidIo::NotConnected);
}

TEST_F(EmulatedTest, DeviceEventsReportArrivalAndRemoval) {
    auto events = platform_->WatchDevices();
    ASSERT_TRUE(events);
    EXPECT_FALSE(events->Next());
    const std::string path = Plug("VID_7E51&PID_4001#0001", Echo({}));
    std::ofstream(dir_ / "unrelated") << "x";
    pollfd pfd{events->Fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&pfd, 1, 1000), 1);  // returns at once: the event is already queued
    const std::optional<DeviceEvent> arrival = events->Next();
    ASSERT_TRUE(arrival);
    EXPECT_EQ(arrival->kind, DeviceEvent::Kind::Arrival);
    EXPECT_EQ(arrival->path, path);
    EXPECT_FALSE(events->Next());  // the unrelated file is skipped
    models_.clear();  // unplug
    const std::optional<DeviceEvent> removal = events->Next();
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->kind, DeviceEvent::Kind::Removal);
    EXPECT_EQ(removal->path, path);
}

TEST_F(EmulatedTest, DeviceListOverEmulatedDevices) {
    Plug("VID_7E51&PID_4001#0001", Echo({1, 0x34, 0x12}));
    Plug("VID_1234&PID_0001#0001", Echo({}), EventBytes(Create2(0x1234, 0x0001, 1, kDescriptor)));
    ScopedHidPlatform use(*platform_);
    DeviceList list;
    EXPECT_EQ(CreateDeviceList(list, std::vector<std::uint16_t>{0x7E51}, std::nullopt, 0), 1u);
    std::uint32_t value = 0;
    EXPECT_EQ(list[0]->GetFeatureValue(0xFF00, 0x0010, value), kStatusSuccess);
    EXPECT_EQ(value, 0x1234u);
    EXPECT_TRUE(list[0]->IsConnected());
    models_.clear();
    EXPECT_FALSE(list[0]->IsConnected());
}

// Each failed transfer leaves the request, the device and the errno for the
// message that reports it; a transfer that succeeds leaves none, even after an
// earlier failure.
TEST_F(EmulatedTest, FailedTransfersNoteTheirCause) {
    const auto answerWith = [](std::uint16_t err) {
        return [err](const uhid_event& r) {
            return std::vector<Bytes>{EventBytes(r.type == UHID_GET_REPORT ? GetReply(r, err, {1, 2, 3}) : SetReply(r, err))};
        };
    };
    const struct {
        const char* name;
        DeviceModel::Answer answer;
        bool set;              // SetFeature instead of GetFeature
        bool unlinkFirst;      // the socket file vanishes before the transfer
        std::optional<int> error;  // of the noted cause, whose operation is the request and the path
    } cases[] = {
        {"answers", Echo({1, 2, 3}), false, false, std::nullopt},
        {"device error on a read", answerWith(EIO), false, false, EIO},
        {"device error on a write", answerWith(EPROTO), true, false, EPROTO},
        {"no answer", [](const uhid_event&) { return std::vector<Bytes>{}; }, false, false, ETIMEDOUT},
        {"unplugged", [](const uhid_event&) {
             uhid_event destroy{};
             destroy.type = UHID_DESTROY;
             return std::vector<Bytes>{EventBytes(destroy), Bytes{}};
         },
         false, false, ENODEV},
        {"hangs up", [](const uhid_event&) { return std::vector<Bytes>{Bytes{}}; }, true, false, ENODEV},
        {"socket file vanished", Echo({1, 2, 3}), false, true, ENOENT},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Plug("VID_7E51&PID_4001#" + std::to_string(++n), c.answer);
        auto connection = PlatformFor(c.error == ETIMEDOUT).Open(path, false);
        ASSERT_TRUE(connection);
        if (c.unlinkFirst) ::unlink(path.c_str());
        NoteSystemFailure("an earlier failure", EIO);
        Bytes report{1, 0, 0};
        const HidIo io = c.set ? connection->SetFeature(report) : connection->GetFeature(report);
        EXPECT_EQ(io == HidIo::Ok, !c.error);
        const std::optional<SystemFailure> cause = TakeSystemFailure();
        if (!c.error) {
            EXPECT_EQ(cause, std::nullopt);
            continue;
        }
        EXPECT_EQ(cause, (SystemFailure{(c.set ? "UHID_SET_REPORT " : "UHID_GET_REPORT ") + path, *c.error}));
    }
}

TEST_F(EmulatedTest, AFailedOpenNotesTheConnect) {
    const std::string path = (dir_ / "VID_7E51&PID_4001#missing").string();
    EXPECT_FALSE(platform_->Open(path, false));
    EXPECT_EQ(TakeSystemFailure(), (SystemFailure{"connect " + path, ENOENT}));
}

}  // namespace
