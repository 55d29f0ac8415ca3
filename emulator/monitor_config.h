#pragma once
// Everything that sets up one emulated monitor: its kind and identity, its
// timings and the faults it is to show.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "emulator/descriptors.h"
#include "emulator/firmware_image.h"

// Time a transfer takes on the clock: a full-speed control transfer is
// scheduled in 1 ms frames and moves its data in 64-byte packets.
struct TransferTimeModel {
    std::uint32_t perTransferUs = 1000;
    std::uint32_t perPacketUs = 100;  // per 64 bytes of the report, report ID included
};

// Counts are "how many of the next such events go wrong"; 0 means none.
struct FaultPlan {
    static constexpr std::uint32_t kAlways = std::numeric_limits<std::uint32_t>::max();

    std::uint32_t unplugAtTransfer = 0;   // power lost at this transfer (1 = the first); 0 = never
    // power lost once this transfer has acted, before its answer leaves (a set
    // has taken effect, the host sees it fail); 0 = never
    std::uint32_t unplugAfterTransfer = 0;
    std::uint32_t calibratingReads = 0;   // control lock reads that show the calibrating state
    std::uint32_t busyReads = 0;          // busy flag reads that give 1 whatever was written
    std::uint32_t mismatchedReplies = 0;  // tunnel replies that echo another usage
    std::uint32_t wrongChunkOffsets = 0;  // descriptor chunks that skip ahead
    std::uint32_t crcBusyPolls = 0;       // checksum reads that still give status 1 after the computation
    std::uint32_t wrongCrcs = 0;          // checksum results that are off
    std::uint32_t corruptWrites = 0;      // component packets stored with a byte flipped
    bool noReturn = false;                // after a restart the monitor never comes back
    bool foreignOwner = false;            // the owner value belongs to another program instance
};

// The identity block starts with the serial number's field.
inline constexpr std::size_t kSerialFieldBytes = 8;

struct MonitorConfig {
    MonitorKind kind = MonitorKind::CombinedTunnel;
    // The serial number 1 to 8 bytes (a shorter one is padded with zero bytes), the
    // model 1 to 24; both are served as they are, whatever the bytes.
    std::string serial = "EMU00001";
    std::string model = "QM27-EMU";
    VersionFields firmware{102, 201, 3, 4, 5};
    bool legacySettings = false;
    bool controlLock = true;              // false: no 0xFF03:0x0080 (in-process use only)
    // false: no setting 0xFF00:0x00B8 and no switch 0xFF01:0x00F0, as on some
    // older monitors (in-process use only)
    bool settingB8AndSwitchF0 = true;
    // false: the identity block cannot be read outside the running firmware, as
    // a loader that knows nothing of it would answer (in-process use only)
    bool identityOutsideFirmware = true;
    std::uint32_t restartMs = 5000;
    std::uint32_t crcMs = 1500;           // time to compute a checksum
    std::uint32_t completionMs = 3000;    // time the completion command works
    TransferTimeModel transferTime;
    // Multiplies the block count of every component area (block sizes stay), for
    // components larger than the real ones; every count must still fit 16 bits.
    std::uint32_t areaScale = 1;
    FaultPlan faults;
    std::string statePath;                // empty: nothing kept across runs
};
