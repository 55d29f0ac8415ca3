#include "emulator/usbip_messages.h"

#include "common/bytes.h"

namespace usbip {
namespace {

// The basic header, shared by every message.
constexpr std::size_t kCommand = 0, kSeqnum = 4, kDevid = 8, kDirection = 12, kEp = 16;
// CMD_SUBMIT
constexpr std::size_t kTransferFlags = 20, kTransferLength = 24, kSetup = 40;
// RET_SUBMIT and RET_UNLINK
constexpr std::size_t kStatus = 20, kActualLength = 24;
// CMD_UNLINK
constexpr std::size_t kUnlinkSeqnum = 20;

std::uint32_t ReadBe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) << 24 | static_cast<std::uint32_t>(bytes[offset + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 8 | static_cast<std::uint32_t>(bytes[offset + 3]);
}

void WriteBe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

BasicHeader ParseBasic(std::span<const std::uint8_t, kHeaderSize> header) {
    return {ReadBe32(header, kCommand), ReadBe32(header, kSeqnum), ReadBe32(header, kDevid),
            ReadBe32(header, kDirection), ReadBe32(header, kEp)};
}

std::array<std::uint8_t, kHeaderSize> EncodeBasic(const BasicHeader& basic) {
    std::array<std::uint8_t, kHeaderSize> header{};
    WriteBe32(header, kCommand, basic.command);
    WriteBe32(header, kSeqnum, basic.seqnum);
    WriteBe32(header, kDevid, basic.devid);
    WriteBe32(header, kDirection, basic.direction);
    WriteBe32(header, kEp, basic.ep);
    return header;
}

std::array<std::uint8_t, kHeaderSize> ReplyHeader(const Request& request, std::uint32_t command, std::int32_t status) {
    BasicHeader basic = request;
    basic.command = command;
    auto header = EncodeBasic(basic);
    WriteBe32(header, kStatus, static_cast<std::uint32_t>(status));
    return header;
}

}  // namespace

std::size_t Request::DataLength() const {
    return command == kCmdSubmit && direction == kOut ? static_cast<std::size_t>(transferLength) : 0;
}

std::optional<Request> ParseRequest(std::span<const std::uint8_t, kHeaderSize> header, std::string* fault) {
    Request request;
    static_cast<BasicHeader&>(request) = ParseBasic(header);
    if (request.command == kCmdUnlink) {
        request.unlinkSeqnum = ReadBe32(header, kUnlinkSeqnum);
        return request;
    }
    if (request.command != kCmdSubmit) {
        if (fault) *fault = "unknown USB/IP command " + std::to_string(request.command);
        return std::nullopt;
    }
    if (request.direction != kOut && request.direction != kIn) {
        if (fault) *fault = "USB/IP direction " + std::to_string(request.direction) + " is neither IN nor OUT";
        return std::nullopt;
    }
    request.transferFlags = ReadBe32(header, kTransferFlags);
    request.transferLength = static_cast<std::int32_t>(ReadBe32(header, kTransferLength));
    if (request.transferLength < 0 || request.transferLength > kMaxTransferLength) {
        if (fault) *fault = "USB/IP transfer length " + std::to_string(request.transferLength) + " out of range";
        return std::nullopt;
    }
    const auto setup = header.subspan<kSetup, 8>();
    request.setup = {setup[0], setup[1], ReadU16(setup, 2), ReadU16(setup, 4), ReadU16(setup, 6)};
    return request;
}

std::array<std::uint8_t, kHeaderSize> RetSubmit(const Request& request, std::int32_t status, std::int32_t actualLength) {
    auto header = ReplyHeader(request, kRetSubmit, status);
    // start_frame, number_of_packets and error_count stay 0: nothing here is isochronous.
    WriteBe32(header, kActualLength, static_cast<std::uint32_t>(actualLength));
    return header;
}

std::array<std::uint8_t, kHeaderSize> RetUnlink(const Request& request, std::int32_t status) {
    return ReplyHeader(request, kRetUnlink, status);
}

std::array<std::uint8_t, kHeaderSize> EncodeRequest(const Request& request) {
    auto header = EncodeBasic(request);
    if (request.command == kCmdUnlink) {
        WriteBe32(header, kUnlinkSeqnum, request.unlinkSeqnum);
        return header;
    }
    WriteBe32(header, kTransferFlags, request.transferFlags);
    WriteBe32(header, kTransferLength, static_cast<std::uint32_t>(request.transferLength));
    const std::span<std::uint8_t> setup = std::span(header).subspan(kSetup, 8);
    setup[0] = request.setup.requestType;
    setup[1] = request.setup.request;
    WriteU16(setup, 2, request.setup.value);
    WriteU16(setup, 4, request.setup.index);
    WriteU16(setup, 6, request.setup.length);
    return header;
}

Reply ParseReply(std::span<const std::uint8_t, kHeaderSize> header) {
    Reply reply;
    static_cast<BasicHeader&>(reply) = ParseBasic(header);
    reply.status = static_cast<std::int32_t>(ReadBe32(header, kStatus));
    if (reply.command == kRetSubmit) reply.actualLength = static_cast<std::int32_t>(ReadBe32(header, kActualLength));
    return reply;
}

}  // namespace usbip
