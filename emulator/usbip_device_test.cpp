// The USB/IP device, with the test playing the kernel: a fake vhci_hcd folder
// (status, attach, detach) and the kernel's end of each attached socket.
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "common/bytes.h"
#include "common/clock.h"
#include "emulator/emulator_testing.h"
#include "emulator/usbip_device.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using usbip::SetupPacket;

std::string StatusText(const std::vector<std::pair<std::string, int>>& ports) {
    std::string text = "hub port sta spd dev      sockfd local_busid\n";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        char line[96];
        const bool used = ports[i].second == 2;
        std::snprintf(line, sizeof line, "%s  %04zu %03d %03d %08x %016x %s\n", ports[i].first.c_str(), i,
                      ports[i].second, used ? 3 : 0, used ? 0x10002u : 0u, used ? 5u : 0u, used ? "1-1" : "0-0");
        text += line;
    }
    return text;
}

// Eight high-speed and eight super-speed ports, as the module's default.
std::string AllFree() {
    std::vector<std::pair<std::string, int>> ports;
    for (int i = 0; i < 8; ++i) ports.emplace_back("hs", 4);
    for (int i = 0; i < 8; ++i) ports.emplace_back("ss", 4);
    return StatusText(ports);
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A vhci_hcd folder of the test's own; keeps the kernel's end of every attached socket.
class FakeVhci final : public VhciHcd {
public:
    explicit FakeVhci(const TempDir& dir, const std::string& status = AllFree()) : VhciHcd(dir.Path()) {
        std::ofstream(dir.File("status")) << status;
        std::ofstream(dir.File("attach"));
        std::ofstream(dir.File("detach"));
    }
    std::vector<UniqueFd> kernelEnds;
    std::set<int> takenMeanwhile;  // ports another program attaches to after the status was read

private:
    int WriteFile(const std::string& name, const std::string& text) override {
        if (name == "attach" && takenMeanwhile.count(std::stoi(text)) != 0) return EBUSY;
        return VhciHcd::WriteFile(name, text);
    }
    void Attached(int, const UniqueFd& socket) override { kernelEnds.emplace_back(::dup(socket.get())); }
};

struct Returned {
    usbip::Reply header;
    Bytes data;
};

class UsbipDeviceTest : public ::testing::Test {
protected:
    UsbipDeviceTest() : scoped_(clock_) {}

    void Start(MonitorConfig config) {
        monitor_ = std::make_unique<Monitor>(std::move(config));
        device_ = std::make_unique<UsbipDevice>(*monitor_, vhci_);
        std::string fault;
        ASSERT_TRUE(device_->PlugIn(&fault)) << fault;
    }
    int Kernel() const { return vhci_.kernelEnds.back().get(); }

    void SendRaw(std::span<const std::uint8_t> bytes) {
        ASSERT_EQ(::send(Kernel(), bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    void Submit(std::uint32_t seqnum, std::uint32_t direction, std::uint32_t ep, SetupPacket setup,
                std::int32_t length, const Bytes& out = {}) {
        usbip::Request request;
        request.command = usbip::kCmdSubmit;
        request.seqnum = seqnum;
        request.devid = 0x10001;
        request.direction = direction;
        request.ep = ep;
        request.transferLength = length;
        request.setup = setup;
        SendRaw(usbip::EncodeRequest(request));
        if (!out.empty()) SendRaw(out);
    }
    void Unlink(std::uint32_t seqnum, std::uint32_t unlinked) {
        usbip::Request request;
        request.command = usbip::kCmdUnlink;
        request.seqnum = seqnum;
        request.unlinkSeqnum = unlinked;
        SendRaw(usbip::EncodeRequest(request));
    }
    // The next reply the device has sent, its IN data read after the header.
    std::optional<Returned> Receive() { return Receive(Kernel()); }
    std::optional<Returned> Receive(int kernel) {
        std::array<std::uint8_t, usbip::kHeaderSize> header{};
        if (::recv(kernel, header.data(), header.size(), MSG_DONTWAIT) != static_cast<ssize_t>(header.size())) {
            return std::nullopt;
        }
        Returned r{usbip::ParseReply(header), {}};
        if (r.header.command == usbip::kRetSubmit && r.header.direction == usbip::kIn && r.header.actualLength > 0) {
            r.data.resize(static_cast<std::size_t>(r.header.actualLength));
            if (::recv(kernel, r.data.data(), r.data.size(), MSG_DONTWAIT) != r.header.actualLength) return std::nullopt;
        }
        return r;
    }
    // One control transfer on endpoint 0, as the kernel submits it.
    Returned Control(SetupPacket setup, const Bytes& out = {}) {
        const std::uint32_t seqnum = nextSeqnum_++;
        const bool in = (setup.requestType & 0x80) != 0;
        Submit(seqnum, in ? usbip::kIn : usbip::kOut, 0, setup,
               in ? setup.length : static_cast<std::int32_t>(out.size()), out);
        const int kernel = Kernel();  // a restart answers, then attaches anew
        device_->ServeOnce(0);
        const std::optional<Returned> reply = Receive(kernel);
        if (!reply) return {{}, {}};
        EXPECT_EQ(reply->header.command, usbip::kRetSubmit);
        EXPECT_EQ(reply->header.seqnum, seqnum);
        return *reply;
    }
    Bytes GetDescriptor(std::uint16_t value, std::uint16_t length, std::uint8_t requestType = 0x80) {
        const Returned r = Control({requestType, 0x06, value, static_cast<std::uint16_t>(requestType == 0x81 ? 0 : 0x0409), length});
        EXPECT_EQ(r.header.status, 0) << std::hex << value;
        return r.data;
    }
    Bytes GetFeature(std::uint8_t reportId, std::uint16_t length, std::int32_t* status = nullptr) {
        const Returned r = Control({0xA1, 0x01, static_cast<std::uint16_t>(0x0300 | reportId), 0, length});
        if (status) *status = r.header.status;
        return r.data;
    }
    std::int32_t SetFeature(const Bytes& report) {
        return Control({0x21, 0x09, static_cast<std::uint16_t>(0x0300 | report[0]), 0,
                        static_cast<std::uint16_t>(report.size())},
                       report)
            .header.status;
    }
    // A whole feature report carrying `value` in the usage's field.
    Bytes Report(UsageAddress usage, std::uint8_t value) const {
        const auto layout = ReportLayout::Parse(monitor_->Descriptor());
        const FieldLayout* field = layout->Find(usage);
        Bytes report(layout->ReportLength(field->reportId));
        report[0] = field->reportId;
        report[1 + field->bitOffset / 8] = value;
        return report;
    }

    VirtualClock clock_;
    ScopedClock scoped_;
    TempDir dir_;
    FakeVhci vhci_{dir_};
    std::unique_ptr<Monitor> monitor_;
    std::unique_ptr<UsbipDevice> device_;
    std::uint32_t nextSeqnum_ = 1;
};

Bytes Utf16(const std::string& text) {
    Bytes d{static_cast<std::uint8_t>(2 + 2 * text.size()), 0x03};
    for (char c : text) d.insert(d.end(), {static_cast<std::uint8_t>(c), 0});
    return d;
}

TEST_F(UsbipDeviceTest, EnumeratesAsTheKernelDoes) {
    struct Case {
        MonitorKind kind;
        std::uint16_t vendor, product;
    };
    for (const Case c : {Case{MonitorKind::OlderNative, 0x7E51, 0x4001}, Case{MonitorKind::OlderTunnel, 0x7E52, 0x4102},
                         Case{MonitorKind::CombinedTunnel, 0x7E53, 0x4203}}) {
        SCOPED_TRACE(c.vendor);
        Start(TestConfig(c.kind));
        // The attach line: port, the kernel's socket, device id, high speed.
        std::istringstream attach(ReadText(dir_.File("attach")));
        int port = -1, fd = -1, speed = 0;
        std::uint32_t devid = 0;
        ASSERT_TRUE(attach >> port >> fd >> devid >> speed);
        EXPECT_EQ(port, 0);
        EXPECT_EQ(speed, 3);
        char where[64];
        std::snprintf(where, sizeof where, "usbip port 0 (VID_%04X&PID_%04X)", c.vendor, c.product);
        EXPECT_EQ(device_->Where(), where);

        // The first read asks for 64 bytes and gets the 18 there are; the second asks for 18.
        const Bytes first = GetDescriptor(0x0100, 64);
        ASSERT_EQ(first.size(), 18u);
        EXPECT_EQ(GetDescriptor(0x0100, 18), first);
        EXPECT_EQ(first[0], 18);
        EXPECT_EQ(ReadU16(first, 2), 0x0200);  // bcdUSB
        EXPECT_EQ(first[7], 64);               // bMaxPacketSize0
        EXPECT_EQ(ReadU16(first, 8), c.vendor);
        EXPECT_EQ(ReadU16(first, 10), c.product);
        EXPECT_EQ(ReadU16(first, 12), 0x0102);  // bcdDevice: the HID version number
        EXPECT_EQ(first[17], 1);

        const Bytes head = GetDescriptor(0x0200, 9);
        ASSERT_EQ(head.size(), 9u);
        const std::uint16_t total = ReadU16(head, 2);
        ASSERT_EQ(total, 9 + 9 + 9 + 7);
        const Bytes config = GetDescriptor(0x0200, total);
        ASSERT_EQ(config.size(), total);
        EXPECT_EQ(config[4], 1);  // one interface
        const std::span<const std::uint8_t> interface(config.data() + 9, 9), hid(config.data() + 18, 9),
            endpoint(config.data() + 27, 7);
        EXPECT_EQ(interface[1], 0x04);
        EXPECT_EQ(interface[4], 1);  // one endpoint
        EXPECT_EQ(interface[5], 0x03);  // HID, no boot subclass or protocol
        EXPECT_EQ(interface[6], 0);
        EXPECT_EQ(interface[7], 0);
        EXPECT_EQ(hid[1], 0x21);
        EXPECT_EQ(ReadU16(hid, 2), 0x0111);
        EXPECT_EQ(hid[5], 1);
        EXPECT_EQ(hid[6], 0x22);
        EXPECT_EQ(ReadU16(hid, 7), monitor_->Descriptor().size());
        EXPECT_EQ(endpoint[1], 0x05);
        EXPECT_EQ(endpoint[2], 0x81);
        EXPECT_EQ(endpoint[3], 0x03);  // interrupt
        EXPECT_EQ(ReadU16(endpoint, 4), 64);

        EXPECT_EQ(GetDescriptor(0x0300, 255), (Bytes{4, 3, 0x09, 0x04}));
        EXPECT_EQ(GetDescriptor(0x0301, 255), Utf16("Quillon"));
        EXPECT_EQ(GetDescriptor(0x0302, 255), Utf16("QX2701"));
        EXPECT_EQ(GetDescriptor(0x0303, 255), Utf16("SN123456"));
        EXPECT_EQ(GetDescriptor(0x0303, 2), (Bytes{18, 3}));  // a short read is the descriptor's start

        EXPECT_EQ(Control({0x00, 0x09, 1, 0, 0}).header.status, 0);  // SET_CONFIGURATION
        EXPECT_EQ(Control({0x80, 0x08, 0, 0, 1}).data, Bytes{1});  // GET_CONFIGURATION
        EXPECT_EQ(Control({0x21, 0x0A, 0, 0, 0}).header.status, 0);  // SET_IDLE
        EXPECT_EQ(GetDescriptor(0x2200, 4096, 0x81), monitor_->Descriptor());
        EXPECT_EQ(GetDescriptor(0x2100, 9, 0x81), Bytes(hid.begin(), hid.end()));
        EXPECT_EQ(Control({0x80, 0x00, 0, 0, 2}).data, (Bytes{0, 0}));  // GET_STATUS
        EXPECT_EQ(Control({0x82, 0x00, 0, 0x81, 2}).data, (Bytes{0, 0}));
        EXPECT_EQ(Control({0x02, 0x01, 0, 0x81, 0}).header.status, 0);  // CLEAR_FEATURE(ENDPOINT_HALT)
        EXPECT_EQ(Control({0x01, 0x0B, 0, 0, 0}).header.status, 0);  // SET_INTERFACE
        EXPECT_FALSE(Receive());
        device_.reset();
        monitor_.reset();
        vhci_.kernelEnds.clear();
    }
}

// Byte for byte, as vhci_hcd writes and reads them: big-endian header fields,
// the setup packet little-endian inside, IN data right after RET_SUBMIT.
TEST_F(UsbipDeviceTest, WireBytesAsTheKernelSendsThem) {
    Start(TestConfig(MonitorKind::CombinedTunnel));
    const Bytes getDevice{
        0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x07, 0x00, 0x01, 0x00, 0x02,  // CMD_SUBMIT, seqnum 7, devid
        0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,                          // IN, endpoint 0
        0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x40,                          // URB_DIR_IN, 64 bytes
        0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00,  // start frame, packets, interval
        0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x40, 0x00,                          // GET_DESCRIPTOR device, 64
    };
    SendRaw(getDevice);
    device_->ServeOnce(0);
    Bytes got(48 + 18 + 1);
    ASSERT_EQ(::recv(Kernel(), got.data(), got.size(), MSG_DONTWAIT), 48 + 18);
    got.resize(48 + 18);
    const Bytes header{
        0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x07, 0x00, 0x01, 0x00, 0x02,  // RET_SUBMIT, seqnum 7, devid
        0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,                          // IN, endpoint 0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12,                          // status 0, 18 bytes
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // start frame, packets, errors
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                          // padding
    };
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 48), header);
    EXPECT_EQ(Bytes(got.begin() + 48, got.begin() + 56), (Bytes{18, 0x01, 0x00, 0x02, 0, 0, 0, 64}));
    EXPECT_EQ(Bytes(got.begin() + 56, got.begin() + 62), (Bytes{0x53, 0x7E, 0x03, 0x42, 0x02, 0x01}));

    const Bytes unlink{
        0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x02,  // CMD_UNLINK, seqnum 256
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,             // unlinks seqnum 7
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    };
    SendRaw(unlink);
    device_->ServeOnce(0);
    got.assign(49, 0);
    ASSERT_EQ(::recv(Kernel(), got.data(), got.size(), MSG_DONTWAIT), 48);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 24),
              (Bytes{0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0,
                     0x00, 0x00, 0x00, 0x00}));  // RET_UNLINK, status 0: it was answered already
}

TEST_F(UsbipDeviceTest, FeatureReportsAnswerAsOnTheSocket) {
    TempDir socketDir;
    ServedMonitor served(TestConfig(MonitorKind::OlderNative), socketDir.Path());
    TestHost host = served.Connect();
    Start(TestConfig(MonitorKind::OlderNative));

    // A setting of page 0xFF00 and one of page 0xFF01, each in a report of its own.
    for (const UsageAddress usage : {UsageAddress{0xFF00, 0x00B8}, UsageAddress{0xFF01, 0x0045}}) {
        const FieldLayout* field = host.Layout().Find(usage);
        ASSERT_NE(field, nullptr);
        const Bytes report = Report(usage, 0);
        ASSERT_EQ(host.SetReport(report), 0);
        ASSERT_EQ(SetFeature(report), 0);
        Bytes onSocket;
        ASSERT_EQ(host.GetReport(report[0], onSocket), 0);
        std::int32_t status = -1;
        EXPECT_EQ(GetFeature(report[0], 1024, &status), onSocket);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(onSocket[1 + field->bitOffset / 8], 0);
    }
    // The identity, 32 bytes behind its report ID.
    const std::uint8_t identity = host.Layout().Find({0xFF00, 0x0035})->reportId;
    Bytes onSocket;
    ASSERT_EQ(host.GetReport(identity, onSocket), 0);
    EXPECT_EQ(GetFeature(identity, 1024), onSocket);
    // A short read gives the report's start, as a USB device does.
    EXPECT_EQ(GetFeature(identity, 5), Bytes(onSocket.begin(), onSocket.begin() + 5));
}

TEST_F(UsbipDeviceTest, RefusalsAndUnknownRequestsStall) {
    Start(TestConfig(MonitorKind::OlderNative));
    const auto layout = ReportLayout::Parse(monitor_->Descriptor());
    const std::uint8_t identity = layout->Find({0xFF00, 0x0035})->reportId;
    const Bytes identityReport(layout->ReportLength(identity), 0);
    Bytes readOnly = identityReport;
    readOnly[0] = identity;

    struct Case {
        const char* what;
        std::uint32_t ep;
        SetupPacket setup;
        Bytes out;
    };
    const std::vector<Case> cases{
        {"set of the read-only identity", 0, {0x21, 0x09, static_cast<std::uint16_t>(0x0300 | identity), 0, 0}, readOnly},
        {"get of a report ID the monitor lacks", 0, {0xA1, 0x01, 0x03EE, 0, 64}, {}},
        {"get of an input report", 0, {0xA1, 0x01, static_cast<std::uint16_t>(0x0100 | identity), 0, 64}, {}},
        {"get of report type 0", 0, {0xA1, 0x01, identity, 0, 64}, {}},
        {"set without data", 0, {0x21, 0x09, static_cast<std::uint16_t>(0x0300 | identity), 0, 0}, {}},
        {"class request to interface 1", 0, {0xA1, 0x01, static_cast<std::uint16_t>(0x0300 | identity), 1, 64}, {}},
        {"vendor request", 0, {0xC0, 0x01, 0, 0, 8}, {}},
        {"device qualifier", 0, {0x80, 0x06, 0x0600, 0, 10}, {}},
        {"string 4", 0, {0x80, 0x06, 0x0304, 0x0409, 255}, {}},
        {"configuration 2", 0, {0x00, 0x09, 2, 0, 0}, {}},
        {"interface alternate setting 1", 0, {0x01, 0x0B, 1, 0, 0}, {}},
        {"a set of the device's remote wakeup", 0, {0x00, 0x03, 1, 0, 0}, {}},
        {"endpoint 2", 2, {}, {}},
        {"OUT on endpoint 1", 1, {}, Bytes(8, 1)},
    };
    std::uint32_t seqnum = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool in = c.out.empty() && (c.ep != 0 || (c.setup.requestType & 0x80) != 0);
        Submit(++seqnum, in ? usbip::kIn : usbip::kOut, c.ep, c.setup,
               in ? std::max<std::int32_t>(c.setup.length, 8) : static_cast<std::int32_t>(c.out.size()), c.out);
        device_->ServeOnce(0);
        const auto reply = Receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->header.command, usbip::kRetSubmit);
        EXPECT_EQ(reply->header.seqnum, seqnum);
        EXPECT_EQ(reply->header.status, -32);  // -EPIPE: a stall
        EXPECT_EQ(reply->header.actualLength, 0);
        EXPECT_TRUE(device_->Attached());
    }
}

TEST_F(UsbipDeviceTest, InterruptUrbWaitsUntilUnlinked) {
    Start(TestConfig(MonitorKind::CombinedTunnel));
    Submit(10, usbip::kIn, 1, {}, 64);
    device_->ServeOnce(0);
    EXPECT_FALSE(Receive()) << "the monitor has no input reports";

    // Control transfers go on meanwhile; their answers carry their own seqnum.
    nextSeqnum_ = 11;
    EXPECT_EQ(Control({0x80, 0x00, 0, 0, 2}).header.seqnum, 11u);

    struct Case {
        std::uint32_t unlinked;
        std::int32_t status;
    };
    // Pending: dropped (-ECONNRESET); answered already, or unlinked already: 0.
    std::uint32_t seqnum = 20;
    for (const Case c : {Case{10, -104}, Case{11, 0}, Case{10, 0}, Case{999, 0}}) {
        SCOPED_TRACE(c.unlinked);
        Unlink(++seqnum, c.unlinked);
        device_->ServeOnce(0);
        const auto reply = Receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->header.command, usbip::kRetUnlink);
        EXPECT_EQ(reply->header.seqnum, seqnum);
        EXPECT_EQ(reply->header.status, c.status);
        EXPECT_FALSE(Receive()) << "no RET_SUBMIT for an unlinked URB";
    }
}

TEST_F(UsbipDeviceTest, BrokenStreamEndsTheConnectionWithAMessage) {
    const auto header = [](std::uint32_t command, std::uint32_t direction, std::int32_t length) {
        usbip::Request request;
        request.command = command;
        request.seqnum = 1;
        request.direction = direction;
        request.transferLength = length;
        return usbip::EncodeRequest(request);
    };
    const auto shortHeader = header(usbip::kCmdSubmit, usbip::kIn, 8);
    const auto shortData = header(usbip::kCmdSubmit, usbip::kOut, 16);
    struct Case {
        const char* what;
        Bytes bytes;
        bool closeAfter;      // the kernel's end closes after the bytes
        const char* message;
        bool detached;        // the device wrote its port to detach
    };
    const auto bytesOf = [](const auto& h) { return Bytes(h.begin(), h.end()); };
    Bytes partOfData = bytesOf(shortData);
    partOfData.resize(usbip::kHeaderSize + 4);
    const std::vector<Case> cases{
        {"a header cut short", Bytes(shortHeader.begin(), shortHeader.begin() + 20), true, "middle of a USB/IP message", false},
        {"OUT data cut short", partOfData, true, "middle of a USB/IP message", false},
        {"the kernel closing", {}, true, "closed the connection", false},
        {"an over-long transfer", bytesOf(header(usbip::kCmdSubmit, usbip::kOut, 64 * 1024 + 1)), false,
         "transfer length 65537 out of range", true},
        {"a huge transfer", bytesOf(header(usbip::kCmdSubmit, usbip::kIn, 0x7FFFFFFF)), false, "out of range", true},
        {"a negative transfer", bytesOf(header(usbip::kCmdSubmit, usbip::kOut, -1)), false, "out of range", true},
        {"an unknown command", bytesOf(header(7, usbip::kIn, 0)), false, "unknown USB/IP command 7", true},
        {"a reply where a command belongs", bytesOf(header(usbip::kRetSubmit, usbip::kIn, 0)), false,
         "unknown USB/IP command 3", true},
        {"a direction of 2", bytesOf(header(usbip::kCmdSubmit, 2, 0)), false, "neither IN nor OUT", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(dir_.File("detach"));
        Start(TestConfig(MonitorKind::OlderNative));
        if (!c.bytes.empty()) SendRaw(c.bytes);
        if (c.closeAfter) ::shutdown(Kernel(), SHUT_WR);
        testing::internal::CaptureStderr();
        device_->ServeOnce(0);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_FALSE(device_->Attached());
        EXPECT_EQ(ReadText(dir_.File("detach")), c.detached ? "0" : "");
        EXPECT_FALSE(Receive());
        // Whatever ended the connection, the kernel's end sees it closed.
        char byte;
        EXPECT_EQ(::recv(Kernel(), &byte, 1, MSG_DONTWAIT), 0);
        device_.reset();
        EXPECT_EQ(ReadText(dir_.File("detach")), c.detached ? "0" : "") << "detached once only";
    }
}

TEST_F(UsbipDeviceTest, RestartDetachesAndAttachesTheNewMode) {
    Start(TestConfig(MonitorKind::OlderNative));
    ASSERT_EQ(ReadU16(GetDescriptor(0x0100, 18), 12), 0x0102);
    ASSERT_EQ(SetFeature(Report({0xFF02, 0x00FB}, 1)), 0);  // boot into the update state
    const int before = Kernel();
    ASSERT_EQ(SetFeature(Report({0xFF02, 0x00F4}, 0)), 0);  // restart: the set is answered first

    EXPECT_EQ(ReadText(dir_.File("detach")), "0");
    char byte;
    EXPECT_EQ(::recv(before, &byte, 1, MSG_DONTWAIT), 0) << "the old connection is closed";
    EXPECT_GE(clock_.NowMs(), 5000u) << "off the bus for the restart time";
    ASSERT_EQ(vhci_.kernelEnds.size(), 2u) << "attached again: a new plug-in";
    EXPECT_TRUE(device_->Attached());

    nextSeqnum_ = 1;
    const Bytes device = GetDescriptor(0x0100, 64);
    ASSERT_EQ(device.size(), 18u);
    EXPECT_EQ(ReadU16(device, 10), 0x4001);
    EXPECT_EQ(ReadU16(device, 12), 40000);  // the update state's version number
    EXPECT_EQ(GetDescriptor(0x2200, 4096, 0x81), monitor_->Descriptor());
}

TEST_F(UsbipDeviceTest, PowerCutAnswersNothingAndComesBackAsAPowerOn) {
    for (const bool set : {false, true}) {
        SCOPED_TRACE(set ? "SET_REPORT" : "GET_REPORT");
        std::ofstream(dir_.File("detach"));
        vhci_.kernelEnds.clear();
        MonitorConfig config = TestConfig(MonitorKind::OlderNative);
        config.faults.unplugAtTransfer = 1;
        Start(config);
        const Bytes report = Report({0xFF00, 0x00B8}, 1);
        const SetupPacket setup{static_cast<std::uint8_t>(set ? 0x21 : 0xA1), static_cast<std::uint8_t>(set ? 0x09 : 0x01),
                                static_cast<std::uint16_t>(0x0300 | report[0]), 0,
                                static_cast<std::uint16_t>(report.size())};
        Submit(5, set ? usbip::kOut : usbip::kIn, 0, setup, static_cast<std::int32_t>(report.size()), set ? report : Bytes{});
        const int before = Kernel();
        device_->ServeOnce(0);
        char byte;
        EXPECT_EQ(::recv(before, &byte, 1, MSG_DONTWAIT), 0) << "no RET_SUBMIT: the connection just closes";
        EXPECT_EQ(ReadText(dir_.File("detach")), "0");
        EXPECT_EQ(vhci_.kernelEnds.size(), 2u) << "back after the restart time";
        EXPECT_EQ(monitor_->Boots(), 2u);
        device_.reset();
    }
}

TEST_F(UsbipDeviceTest, StopDetachesCleanly) {
    Start(TestConfig(MonitorKind::CombinedTunnel));
    Submit(1, usbip::kIn, 1, {}, 64);
    std::atomic<bool> stop{true};
    device_->Run(stop, -1);
    EXPECT_EQ(ReadText(dir_.File("detach")), "0");
    EXPECT_FALSE(device_->Attached());
    device_.reset();
    EXPECT_EQ(ReadText(dir_.File("detach")), "0");
}

TEST(VhciPortsTest, FreeHighSpeedPortsFromTheStatus) {
    struct Case {
        const char* what;
        std::string status;
        std::vector<int> free;
    };
    std::vector<std::pair<std::string, int>> mixed{{"hs", 2}, {"hs", 4}, {"hs", 1}, {"hs", 4}, {"ss", 4}};
    std::vector<std::pair<std::string, int>> taken{{"hs", 2}, {"hs", 2}, {"ss", 4}, {"ss", 4}};
    const std::vector<Case> cases{
        {"all free", AllFree(), {0, 1, 2, 3, 4, 5, 6, 7}},
        {"used, not assigned and super-speed ports skipped", StatusText(mixed), {1, 3}},
        {"all high-speed ports taken", StatusText(taken), {}},
        {"only the heading", "hub port sta spd dev      sockfd local_busid\n", {}},
        {"not a status file", "hs\nhs x 004\n\n", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(FreeHighSpeedPorts(c.status), c.free) << c.what;
}

TEST(VhciPortsTest, PortsTakenMeanwhileAreSteppedOver) {
    struct Case {
        std::set<int> taken;
        std::optional<int> port;
    };
    for (const Case& c : {Case{{}, 0}, Case{{0, 1}, 2}, Case{{0, 2, 3, 4, 5, 6, 7}, 1},
                          Case{{0, 1, 2, 3, 4, 5, 6, 7}, std::nullopt}}) {
        TempDir dir;
        FakeVhci vhci(dir);
        vhci.takenMeanwhile = c.taken;
        const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        std::string fault;
        EXPECT_EQ(vhci.Attach(socket, &fault), c.port) << c.taken.size();
        if (!c.port) {
            EXPECT_NE(fault.find("no free high-speed port"), std::string::npos) << fault;
        }
    }
}

TEST(VhciPortsTest, PortsStillUnpluggingTheirDeviceComeLast) {
    struct Case {
        std::vector<std::string> devices;  // USB devices still in sysfs
        int port;
    };
    for (const Case& c : {Case{{}, 0}, Case{{"usb1/1-1"}, 1}, Case{{"usb1/1-1", "usb1/1-2", "usb2/2-3"}, 3},
                          Case{{"usb1/1-1", "usb1/1-2", "usb1/1-3", "usb1/1-4", "usb1/1-5", "usb1/1-6", "usb1/1-7",
                                "usb1/1-8"},
                               0}}) {
        TempDir dir;
        FakeVhci vhci(dir);
        for (const std::string& device : c.devices) std::filesystem::create_directories(dir.File(device));
        const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        std::string fault;
        EXPECT_EQ(vhci.Attach(socket, &fault), c.port) << c.devices.size() << " " << fault;
    }
}

TEST(VhciPortsTest, PortsOfFurtherControllersAreUsed) {
    TempDir dir;
    std::vector<std::pair<std::string, int>> taken{{"hs", 2}, {"ss", 4}};
    FakeVhci vhci(dir, StatusText(taken));
    // The second controller numbers its ports after the first's 16.
    std::ofstream(dir.File("status.1")) << "hub port sta spd dev      sockfd local_busid\n"
                                           "hs  0016 002 003 00010002 000005 1-1\n"
                                           "hs  0017 004 000 00000000 000000 0-0\n"
                                           "ss  0024 004 000 00000000 000000 0-0\n";
    const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    std::string fault;
    EXPECT_EQ(vhci.Attach(socket, &fault), 17) << fault;
    std::istringstream attach(ReadText(dir.File("attach")));
    int port = -1;
    EXPECT_TRUE(attach >> port);
    EXPECT_EQ(port, 17);
}

TEST(VhciPortsTest, AttachFailuresAreExplained) {
    TempDir dir;
    const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    std::string fault;
    VhciHcd missing(dir.File("vhci_hcd.0"));
    EXPECT_FALSE(missing.Attach(socket, &fault));
    EXPECT_NE(fault.find("cannot read " + dir.File("vhci_hcd.0/status")), std::string::npos) << fault;

    std::vector<std::pair<std::string, int>> taken{{"hs", 2}, {"ss", 4}};
    std::ofstream(dir.File("status")) << StatusText(taken);
    VhciHcd full(dir.Path());
    EXPECT_FALSE(full.Attach(socket, &fault));
    EXPECT_NE(fault.find("no free high-speed port"), std::string::npos) << fault;

    std::ofstream(dir.File("status")) << AllFree();  // but no attach file
    EXPECT_FALSE(full.Attach(socket, &fault));
    EXPECT_NE(fault.find("cannot attach to " + dir.File("attach")), std::string::npos) << fault;
}

}  // namespace
