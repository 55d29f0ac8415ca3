#include "monitor/component_transfer.h"

#include <algorithm>
#include <span>
#include <vector>

#include "common/bytes.h"
#include "common/clock.h"
#include "common/crc32.h"
#include "monitor/command_access.h"
#include "monitor/command_usages.h"
#include "monitor/component_steps.h"

using namespace component_wire;
using namespace component_steps;
namespace usage = command_usage;

namespace {

// Upper case to ask and read back, lower case to write.
struct ComponentIds {
    std::string_view upper;
    std::string_view lower;
};
constexpr ComponentIds kPrg000{"PRG000", "prg000"}, kPrg001{"PRG001", "prg001"}, kAic653{"AIC653", "aic653"},
    kInp027{"INP027", "inp027"}, kAic904{"AIC904", "aic904"};

using Bytes = std::span<const std::uint8_t>;

// Tells the bytes moved within one writer call: the written bytes first, then
// those read back, of all the call will move.
class TransferReport {
public:
    TransferReport(UpdateProgress* progress, std::uint64_t total) : progress_(progress), total_(total) {}
    void Moved(std::uint64_t bytes) {
        done_ += bytes;
        if (progress_) progress_->TransferProgress(done_, total_);
    }
    // Bytes move from here on: the time before is not theirs.
    void Start() {
        if (progress_) progress_->TransferProgress(done_, total_);
    }
    UpdateProgress* Progress() const { return progress_; }

private:
    UpdateProgress* progress_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
};

// Blocks g = 0, 1, … while g × block size ≤ length: the last pass is short,
// and empty when the length is a multiple of the block size.
std::uint64_t BlockPasses(std::uint64_t length, std::uint16_t blockSize) { return length / blockSize + 1; }
// Block indexes travel as u16.
constexpr std::uint64_t kMaxBlockPasses = 0x10000;

Bytes BlockOf(Bytes data, std::uint16_t blockSize, std::uint64_t g) {
    const std::uint64_t start = g * blockSize;
    return data.subspan(start, std::min<std::uint64_t>(blockSize, data.size() - start));
}

Status VerifyChecksum(MonitorHandle handle, std::string_view lowerId, Bytes data, UpdateProgress* progress) {
    const std::uint32_t crc = Crc32(data);
    if (const Status status = command_access::WriteBlock(handle, usage::kChecksum, MakeChecksumRequest(lowerId));
        IsFailure(status)) {
        return status;
    }
    // The longest is every poll.
    const ReportedWait wait(progress, kChecksumExpectedWaitMs, kChecksumPollLimit * kChecksumPollMs);
    for (int poll = 0; poll < kChecksumPollLimit; ++poll) {
        SleepMs(kChecksumPollMs);
        ChecksumBlock reply{};
        if (const Status status = command_access::ReadBlock(handle, usage::kChecksum, reply); IsFailure(status)) {
            return status;
        }
        if (reply[kChecksumStatusOffset] == kChecksumComputing) continue;
        return ReadU32(reply, kChecksumCrcOffset) == crc ? kStatusSuccess : kMonVerifyMismatch;
    }
    return kMonTransferFailed;
}

// Reads the data's span of the component back block by block and compares.
Status ReadBackAndCompare(MonitorHandle handle, std::string_view id, Bytes data, std::uint16_t blockSize,
                          TransferReport& report) {
    std::vector<std::uint8_t> block(std::min<std::size_t>(blockSize, data.size()));
    bool equal = true;
    for (std::uint64_t g = 0; g < BlockPasses(data.size(), blockSize); ++g) {
        const Bytes expected = BlockOf(data, blockSize, g);
        const auto got = std::span(block).first(expected.size());
        if (const Status status = ReadBlock(handle, id, got, static_cast<std::uint16_t>(g)); IsFailure(status)) {
            return status;
        }
        equal = equal && std::equal(got.begin(), got.end(), expected.begin());
        report.Moved(got.size());
    }
    return equal ? kStatusSuccess : kMonVerifyMismatch;
}

Status VerifyWritten(MonitorHandle handle, std::string_view lowerId, Bytes data, TransferReport& report) {
    if (command_access::IsAvailable(handle, usage::kChecksum))
        return VerifyChecksum(handle, lowerId, data, report.Progress());
    Geometry geometry;
    if (const Status status = QueryGeometry(handle, lowerId, geometry); IsFailure(status)) return status;
    if (data.size() > geometry.Capacity()) return kMonGeometryMismatch;
    if (geometry.blockSize == 0) return kMonTransferFailed;  // no way through the data
    // The bytes read back are timed from here, without the query before them.
    report.Start();
    return ReadBackAndCompare(handle, lowerId, data, geometry.blockSize, report);
}

enum class Fit {
    Exact,       // the data fills the monitor's area exactly
    WholeBlocks  // AIC653: the announcement counts the data's whole blocks
};

// Whether `length` bytes fit the monitor's area as the writer needs them to.
Status CheckFit(const Geometry& geometry, Fit fit, std::uint32_t length) {
    if (fit == Fit::Exact && length != geometry.Capacity()) return kMonGeometryMismatch;
    // A block size of 0 would leave no way through the data.
    if (geometry.blockSize == 0) return kMonTransferFailed;
    if (fit == Fit::WholeBlocks && BlockPasses(length, geometry.blockSize) > kMaxBlockPasses)
        return kMonGeometryMismatch;
    return kStatusSuccess;
}

Fit FitOf(std::string_view upperId) { return upperId == kAic653.upper ? Fit::WholeBlocks : Fit::Exact; }

Status WriteComponent(MonitorHandle handle, ComponentIds ids, Fit fit, const std::uint8_t* data, std::uint32_t length,
                      UpdateProgress* progress) {
    if (data == nullptr) return kMonBadArgument;
    const auto lock = monitor_registry::Lock();
    const Bytes bytes(data, length);

    Geometry geometry;
    if (const Status status = QueryGeometry(handle, ids.upper, geometry); IsFailure(status)) return status;
    Geometry announced = geometry;
    if (const Status status = CheckFit(geometry, fit, length); IsFailure(status)) return status;
    if (fit == Fit::WholeBlocks) announced.blockCount = static_cast<std::uint16_t>(length / geometry.blockSize);
    if (const Status status = BeginComponent(handle, ids.lower, announced); IsFailure(status)) return status;

    const std::uint64_t passes = BlockPasses(length, geometry.blockSize);
    TransferReport report(progress, MonComponentBytesMoved(handle, length));
    report.Start();
    if (command_access::IsAvailable(handle, usage::kCombinedPacket)) {
        for (std::uint64_t g = 0; g < passes; ++g) {
            const Bytes block = BlockOf(bytes, geometry.blockSize, g);
            if (block.empty()) continue;
            // A block the monitor refused shows up in the verification.
            if (IsFailure(WriteBlockCombined(handle, ids.lower, block, static_cast<std::uint16_t>(g)))) break;
            report.Moved(block.size());
        }
    } else {
        for (std::uint64_t g = 0; g < passes; ++g) {
            const Bytes block = BlockOf(bytes, geometry.blockSize, g);
            if (const Status status = WriteBlock(handle, ids.lower, block, static_cast<std::uint16_t>(g));
                IsFailure(status)) {
                return status;
            }
            report.Moved(block.size());
        }
    }
    return VerifyWritten(handle, ids.lower, bytes, report);
}

}  // namespace

std::uint64_t MonComponentBytesMoved(MonitorHandle handle, std::uint32_t length) {
    const auto lock = monitor_registry::Lock();
    return command_access::IsAvailable(handle, usage::kChecksum) ? length : 2ull * length;
}

Status MonCheckComponentFits(MonitorHandle handle, std::string_view upperId, std::uint32_t length) {
    const auto lock = monitor_registry::Lock();
    Geometry geometry;
    if (const Status status = QueryGeometry(handle, upperId, geometry); IsFailure(status)) return status;
    return CheckFit(geometry, FitOf(upperId), length);
}

Status MonWritePrgComponent(MonitorHandle handle, std::uint32_t index, const std::uint8_t* data,
                            std::uint32_t length, UpdateProgress* progress) {
    if (index > 1) return kMonBadArgument;
    return WriteComponent(handle, index == 0 ? kPrg000 : kPrg001, Fit::Exact, data, length, progress);
}

Status MonWriteInp027Component(MonitorHandle handle, const std::uint8_t* data, std::uint32_t length,
                               UpdateProgress* progress) {
    return WriteComponent(handle, kInp027, Fit::Exact, data, length, progress);
}

Status MonWriteAic904Component(MonitorHandle handle, const std::uint8_t* data, std::uint32_t length,
                               UpdateProgress* progress) {
    return WriteComponent(handle, kAic904, Fit::Exact, data, length, progress);
}

Status MonWriteAic653Component(MonitorHandle handle, const std::uint8_t* data, std::uint32_t length,
                               UpdateProgress* progress) {
    return WriteComponent(handle, kAic653, Fit::WholeBlocks, data, length, progress);
}

// A full-speed bus (12 Mbit/s) moves a report's data in transactions of 64
// bytes; with each one's token, checksum, handshake and gaps, about 80 byte
// times, so at least some 53 µs per 64 bytes.
constexpr double kFullSpeedNsPerByte = 80.0 * 8 * 1000 / 12 / 64;

TransferEstimate MonEstimateTransfer(MonitorHandle handle, std::string_view upperId) {
    constexpr int kCommands = 4;  // of each kind: enough for a millisecond clock
    const auto lock = monitor_registry::Lock();
    const std::uint64_t start = NowMs();
    for (int i = 0; i < kCommands; ++i)
        if (IsFailure(SelectComponent(handle, upperId))) return {};
    const std::uint64_t selected = NowMs();
    Geometry geometry;
    for (int i = 0; i < kCommands; ++i)
        if (IsFailure(ReadGeometry(handle, geometry)) || geometry.blockSize == 0) return {};
    const double writeNs = static_cast<double>(selected - start) * 1e6 / kCommands;
    const double readNs = static_cast<double>(NowMs() - selected) * 1e6 / kCommands;
    const bool combined = command_access::IsAvailable(handle, usage::kCombinedPacket);
    const auto packets = static_cast<double>(PacketCount(geometry.blockSize));
    // The timed commands carry a few bytes each; a packet's bytes take the bus
    // longer, at least the time full speed needs for them.
    const double packetBytesNs = packets * kPacketBytes * kFullSpeedNsPerByte;
    const double writtenBlockNs = writeNs * (packets + (combined ? 0 : 1)) + packetBytesNs;
    const double readBlockNs = writeNs + readNs * packets + packetBytesNs;
    return {.writeNsPerByte = static_cast<std::uint32_t>(writtenBlockNs / geometry.blockSize),
            .readNsPerByte = static_cast<std::uint32_t>(readBlockNs / geometry.blockSize)};
}

Status MonVerifyComponent(MonitorHandle handle, std::string_view id, const std::uint8_t* data, std::uint32_t length,
                          UpdateProgress* progress) {
    if (data == nullptr || id.size() != kIdBytes) return kMonBadArgument;
    const auto lock = monitor_registry::Lock();
    Geometry geometry;
    if (const Status status = QueryGeometry(handle, id, geometry); IsFailure(status)) return status;
    if (geometry.Capacity() < length) return kMonAreaTooSmall;
    if (geometry.blockSize == 0) return kMonTransferFailed;  // no way through the data
    TransferReport report(progress, length);
    report.Start();
    return ReadBackAndCompare(handle, id, Bytes(data, length), geometry.blockSize, report);
}
