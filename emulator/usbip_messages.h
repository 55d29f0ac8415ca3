#pragma once
// The USB/IP messages between the kernel's vhci_hcd (the host) and a device
// served over a stream socket. Every message starts with a 48-byte header, all
// fields big-endian; the USB setup packet inside it is little-endian, as on the bus.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace usbip {

inline constexpr std::size_t kHeaderSize = 48;
// The largest transfer a request may announce: a control transfer's wLength is
// at most 65535, and an interrupt one is far smaller. Anything above is a broken
// stream, not something to allocate for.
inline constexpr std::int32_t kMaxTransferLength = 64 * 1024;

enum Command : std::uint32_t {
    kCmdSubmit = 1,
    kCmdUnlink = 2,
    kRetSubmit = 3,
    kRetUnlink = 4,
};

enum Direction : std::uint32_t { kOut = 0, kIn = 1 };

// Statuses of replies: negative errno values, as a Linux URB ends.
inline constexpr std::int32_t kStatusStall = -32;        // -EPIPE
inline constexpr std::int32_t kStatusUnlinked = -104;    // -ECONNRESET

struct SetupPacket {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
};

// What every message starts with. Replies echo their command's.
struct BasicHeader {
    std::uint32_t command = 0;
    std::uint32_t seqnum = 0;
    std::uint32_t devid = 0;
    std::uint32_t direction = 0;
    std::uint32_t ep = 0;
};

// A command from the host: CMD_SUBMIT or CMD_UNLINK.
struct Request : BasicHeader {
    // CMD_SUBMIT
    std::uint32_t transferFlags = 0;
    std::int32_t transferLength = 0;
    SetupPacket setup;
    // CMD_UNLINK
    std::uint32_t unlinkSeqnum = 0;

    // Bytes of data that follow the header on the stream.
    std::size_t DataLength() const;
};

// The header of a host's command; nothing, with `fault` set, for one a device
// cannot take: an unknown command, a direction other than IN or OUT, a
// transfer length below zero or above kMaxTransferLength.
std::optional<Request> ParseRequest(std::span<const std::uint8_t, kHeaderSize> header, std::string* fault);

// RET_SUBMIT for `request`; `actualLength` bytes of IN data follow it.
std::array<std::uint8_t, kHeaderSize> RetSubmit(const Request& request, std::int32_t status, std::int32_t actualLength);
// RET_UNLINK for the CMD_UNLINK `request`.
std::array<std::uint8_t, kHeaderSize> RetUnlink(const Request& request, std::int32_t status);

// The host's side, for tests that play the kernel: a command as it sends it,
// and the header of a reply as it reads it.
std::array<std::uint8_t, kHeaderSize> EncodeRequest(const Request& request);

struct Reply : BasicHeader {
    std::int32_t status = 0;
    std::int32_t actualLength = 0;   // RET_SUBMIT only
};
Reply ParseReply(std::span<const std::uint8_t, kHeaderSize> header);

}  // namespace usbip
