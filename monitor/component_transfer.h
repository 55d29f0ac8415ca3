#pragma once
// Writing a firmware component into the monitor block by block, and checking
// it: by the monitor's checksum where it has one (0xFF02:0x00FC), else by
// reading it back. Monitors with 0xFF02:0x00FE take combined packets.
#include <cstdint>
#include <string_view>

#include "common/update_progress.h"
#include "monitor/monitor_status.h"
#include "monitor/registry.h"

// The monitor's area is smaller than the data (read-back check).
inline constexpr Status kMonAreaTooSmall = 0x80000019;
// The data length does not fit the monitor's geometry.
inline constexpr Status kMonGeometryMismatch = 0x8000001A;
// The component in the monitor differs from the data.
inline constexpr Status kMonVerifyMismatch = 0x8000001B;

// The checksum is polled once a second while the monitor reports it is still
// computing; a monitor stuck there gives kMonTransferFailed after this many polls.
inline constexpr int kChecksumPollLimit = 300;
inline constexpr std::uint32_t kChecksumPollMs = 1000;
// A monitor computes a component's checksum in about 1.5 s, so the polls
// usually find it at the second: the wait a checksum is expected to take.
inline constexpr std::uint32_t kChecksumComputeMs = 1500;
inline constexpr std::uint32_t kChecksumExpectedWaitMs = PolledWaitMs(kChecksumComputeMs, kChecksumPollMs);

// Each writer: kMonBadArgument for null data, kMonTransferFailed when the
// geometry cannot be read or a block (older monitors) cannot be written,
// kMonGeometryMismatch when the data does not fill the monitor's area exactly,
// then the result of the verification. On monitors with combined packets a
// failed block ends the writing and the verification decides. With a
// `progress`, each block written or read back is told as bytes moved of all the
// call moves (the data once, twice where it is read back), and the checksum
// polls as a wait.
Status MonWritePrgComponent(MonitorHandle handle, std::uint32_t index, const std::uint8_t* data, std::uint32_t length,
                            UpdateProgress* progress = nullptr);
Status MonWriteInp027Component(MonitorHandle handle, const std::uint8_t* data, std::uint32_t length,
                               UpdateProgress* progress = nullptr);
Status MonWriteAic904Component(MonitorHandle handle, const std::uint8_t* data, std::uint32_t length,
                               UpdateProgress* progress = nullptr);
// AIC653 may be shorter or longer than the monitor's geometry: the
// announcement counts its whole blocks, the writing covers every byte.
Status MonWriteAic653Component(MonitorHandle handle, const std::uint8_t* data, std::uint32_t length,
                               UpdateProgress* progress = nullptr);

// Whether `length` bytes of component `upperId` ("PRG000", "AIC653", ...) fit the
// monitor's area as its writer needs them to (AIC653 in whole blocks, every
// other exactly): kMonGeometryMismatch when they do not, kMonTransferFailed when
// the geometry cannot be read. Only the component's selection is written, so an
// update can ask for every component before it announces the first.
Status MonCheckComponentFits(MonitorHandle handle, std::string_view upperId, std::uint32_t length);

// An estimate of the time a byte of component `upperId` takes to move, in
// nanoseconds, before any has moved, written and read back: a few selections
// (writes) and geometry reads timed on this monitor give the time of a write
// and of a read command, apart, since a monitor may take longer to answer a
// read (through the tunnel, a request and its reply). A block written takes a
// selection and its packets (one combined packet each, where the monitor takes
// those), a block read back a selection and its packet reads; a packet's bytes
// add at least the time a full-speed bus needs for them. 0s when the monitor
// does not answer.
struct TransferEstimate {
    std::uint32_t writeNsPerByte = 0;
    std::uint32_t readNsPerByte = 0;
};
TransferEstimate MonEstimateTransfer(MonitorHandle handle, std::string_view upperId);
// The bytes a writer moves for `length` bytes of data, as it reports them: the
// data written, and read back again on a monitor without the checksum.
std::uint64_t MonComponentBytesMoved(MonitorHandle handle, std::uint32_t length);

// Reads the component `id` (six characters, as the monitor knows it) back and
// compares it with the data: kMonAreaTooSmall when the data exceeds the monitor's area.
Status MonVerifyComponent(MonitorHandle handle, std::string_view id, const std::uint8_t* data, std::uint32_t length,
                          UpdateProgress* progress = nullptr);
