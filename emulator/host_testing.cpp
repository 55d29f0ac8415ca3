#include "emulator/host_testing.h"

#include <linux/uhid.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/bytes.h"

TestHost::TestHost(const std::string& path, std::function<void()> pump)
    : fd_(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0)), pump_(std::move(pump)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), std::min(path.size() + 1, sizeof address.sun_path - 1));
    if (::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return;
    pump_();
    auto event = std::make_unique<uhid_event>();
    if (!Receive(UHID_CREATE2, event.get())) return;
    const auto& c = event->u.create2;
    create_ = {reinterpret_cast<const char*>(c.name), c.bus, c.vendor, c.product, c.version,
               std::vector<std::uint8_t>(c.rd_data, c.rd_data + c.rd_size)};
    auto layout = ReportLayout::Parse(create_.descriptor);
    if (!layout) return;
    layout_ = *layout;
    connected_ = true;
}

bool TestHost::Receive(std::uint32_t type, void* out) {
    auto event = static_cast<uhid_event*>(out);
    // A test never waits on a device that has nothing to say: the server has run.
    if (::recv(fd_.get(), event, sizeof *event, MSG_DONTWAIT) != static_cast<ssize_t>(sizeof *event)) return false;
    return event->type == type;
}

int TestHost::GetReport(std::uint8_t reportId, std::vector<std::uint8_t>& data) {
    auto event = std::make_unique<uhid_event>();
    event->type = UHID_GET_REPORT;
    event->u.get_report = {nextId_++, reportId, UHID_FEATURE_REPORT};
    if (::send(fd_.get(), event.get(), sizeof *event, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof *event)) return -1;
    pump_();
    if (!Receive(UHID_GET_REPORT_REPLY, event.get())) return -1;
    const auto& reply = event->u.get_report_reply;
    data.assign(reply.data, reply.data + reply.size);
    return reply.err;
}

int TestHost::SetReport(const std::vector<std::uint8_t>& data) {
    auto event = std::make_unique<uhid_event>();
    event->type = UHID_SET_REPORT;
    event->u.set_report.id = nextId_++;
    event->u.set_report.rnum = data.empty() ? 0 : data[0];
    event->u.set_report.rtype = UHID_FEATURE_REPORT;
    event->u.set_report.size = static_cast<std::uint16_t>(data.size());
    std::copy(data.begin(), data.end(), event->u.set_report.data);
    if (::send(fd_.get(), event.get(), sizeof *event, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof *event)) return -1;
    pump_();
    if (!Receive(UHID_SET_REPORT_REPLY, event.get())) return -1;
    return event->u.set_report_reply.err;
}

std::optional<std::vector<std::uint8_t>> TestHost::Get(UsageAddress address) {
    const FieldLayout* field = layout_.Find(address);
    if (field == nullptr) return std::nullopt;
    std::vector<std::uint8_t> report;
    if (GetReport(field->reportId, report) != 0 || report.size() != layout_.ReportLength(field->reportId)) {
        return std::nullopt;
    }
    // Every emulated field starts on a byte.
    const std::size_t first = 1 + field->bitOffset / 8;
    return std::vector<std::uint8_t>(report.begin() + static_cast<std::ptrdiff_t>(first),
                                     report.begin() + static_cast<std::ptrdiff_t>(first + field->ByteLength()));
}

int TestHost::Set(UsageAddress address, const std::vector<std::uint8_t>& fieldBytes) {
    const FieldLayout* field = layout_.Find(address);
    if (field == nullptr) return -1;
    std::vector<std::uint8_t> report(layout_.ReportLength(field->reportId));
    report[0] = field->reportId;
    std::copy_n(fieldBytes.begin(), std::min(fieldBytes.size(), report.size() - 1), report.begin() + 1);
    return SetReport(report);
}

std::optional<std::vector<std::uint8_t>> TestHost::ReadTunnelledDescriptor() {
    const FieldLayout* field = layout_.Find({0xFF30, 0x0001});
    if (field == nullptr) return std::nullopt;
    const std::size_t n = field->ByteLength();
    std::vector<std::uint8_t> request(n);
    if (Set({0xFF30, 0x0001}, request) != 0) return std::nullopt;
    std::vector<std::uint8_t> descriptor;
    std::uint16_t expected = 0;
    for (int mismatches = 0;;) {
        const auto chunk = Get({0xFF30, 0x0001});
        if (!chunk) return std::nullopt;
        const std::uint16_t offset = ReadU16(*chunk, 0), total = ReadU16(*chunk, 2);
        if (offset == expected) {
            mismatches = 0;
            const std::size_t k = std::min<std::size_t>(static_cast<std::uint16_t>(total - offset), n - 4);
            descriptor.insert(descriptor.end(), chunk->begin() + 4, chunk->begin() + 4 + static_cast<std::ptrdiff_t>(k));
            expected = static_cast<std::uint16_t>(expected + k);
            if (total <= expected) return descriptor;
            continue;
        }
        if (++mismatches > 20) return std::nullopt;
        std::fill(request.begin(), request.end(), 0);
        WriteU16(request, 0, expected);
        if (Set({0xFF30, 0x0001}, request) != 0) return std::nullopt;
    }
}

namespace {
std::vector<std::uint8_t> TunnelRequest(std::size_t length, std::uint16_t channel, UsageAddress address,
                                        std::uint16_t token, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> request(length);
    std::size_t at = 0;
    if (channel >= 0x000B) {
        WriteU16(request, 0, token);
        at = 2;
    }
    WriteU16(request, at, address.page);
    WriteU16(request, at + 2, address.usage);
    WriteU16(request, at + 4, token);
    if (at + 6 + data.size() <= length) std::copy(data.begin(), data.end(), request.begin() + static_cast<std::ptrdiff_t>(at + 6));
    return request;
}
}  // namespace

int TestHost::TunnelWrite(std::uint16_t channel, UsageAddress address, std::uint16_t token,
                          const std::vector<std::uint8_t>& data) {
    const FieldLayout* field = layout_.Find({0xFF30, channel});
    if (field == nullptr) return -1;
    return Set({0xFF30, channel}, TunnelRequest(field->ByteLength(), channel, address, token, data));
}

std::optional<std::vector<std::uint8_t>> TestHost::TunnelRead(std::uint16_t channel, UsageAddress address,
                                                              std::uint16_t token) {
    const FieldLayout* field = layout_.Find({0xFF30, channel});
    if (field == nullptr) return std::nullopt;
    if (Set({0xFF30, channel}, TunnelRequest(field->ByteLength(), channel, address, token, {})) != 0) {
        return std::nullopt;
    }
    return Get({0xFF30, channel});
}

bool TestHost::Destroyed() {
    auto event = std::make_unique<uhid_event>();
    const ssize_t got = ::recv(fd_.get(), event.get(), sizeof *event, MSG_DONTWAIT);
    return got == 0 || (got == static_cast<ssize_t>(sizeof *event) && event->type == UHID_DESTROY);
}

bool TestHost::OpenTunnel() {
    if (layout_.Find({0xFF30, 0x0001}) == nullptr) return true;
    const auto token = Get({0xFF30, 0x0006});
    const auto descriptor = ReadTunnelledDescriptor();
    if (!token || !descriptor) return false;
    token_ = ReadU16(*token, 0);
    tunnelled_ = ReportLayout::Parse(*descriptor);
    return tunnelled_.has_value();
}

namespace {
// The two usages a tunnel monitor serves natively under page 0xFF30.
UsageAddress Remapped(UsageAddress address) {
    if (address == UsageAddress{0xFF00, 0x0035}) return {0xFF30, 0x0008};
    if (address == UsageAddress{0xFF00, 0x00CE}) return {0xFF30, 0x0009};
    return address;
}
}  // namespace

std::optional<std::vector<std::uint8_t>> TestHost::Read(UsageAddress address) {
    if (!tunnelled_) return Get(address);
    if (Remapped(address) != address) return Get(Remapped(address));
    const FieldLayout* field = tunnelled_->Find(address);
    if (field == nullptr) return std::nullopt;
    const std::uint16_t channel = field->ByteLength() > 32 ? 0x0005 : 0x0003;
    const auto reply = TunnelRead(channel, address, token_);
    if (!reply || ReadU16(*reply, 0) != address.page || ReadU16(*reply, 2) != address.usage ||
        ReadU16(*reply, 4) != token_) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(reply->begin() + 6, reply->begin() + 6 + static_cast<std::ptrdiff_t>(field->ByteLength()));
}

int TestHost::Write(UsageAddress address, const std::vector<std::uint8_t>& data) {
    if (!tunnelled_) return Set(address, data);
    if (Remapped(address) != address) return Set(Remapped(address), data);
    const FieldLayout* field = tunnelled_->Find(address);
    if (field == nullptr) return -1;
    return TunnelWrite(field->ByteLength() > 32 ? 0x0004 : 0x0002, address, token_, data);
}

std::optional<std::uint32_t> TestHost::ReadValue(UsageAddress address) {
    auto bytes = Read(address);
    if (!bytes) return std::nullopt;
    bytes->resize(4);
    return ReadU32(*bytes, 0);
}

int TestHost::WriteValue(UsageAddress address, std::uint32_t value) {
    std::vector<std::uint8_t> bytes(4);
    WriteU32(bytes, 0, value);
    return Write(address, bytes);
}
