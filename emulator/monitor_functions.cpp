// What the monitor does for each vendor usage, however the usage was reached.
#include "emulator/monitor.h"

#include <algorithm>
#include <cerrno>
#include <utility>
#include <cstdio>

#include "common/bytes.h"
#include "common/clock.h"
#include "common/crc32.h"
#include "emulator/monitor_usages.h"
#include "emulator/setting_values.h"

using namespace monitor_usages;

std::string Monitor::VersionRecordText(std::uint16_t selector) const {
    const auto at = std::find(kVersionSelectors.begin(), kVersionSelectors.end(), selector);
    if (at == kVersionSelectors.end()) return {};
    const std::size_t field = static_cast<std::size_t>(at - kVersionSelectors.begin());
    const unsigned value = running_[field];
    char text[16];
    // Fields 1 to 4 read as "1.02" (the host drops the point), field 5 in hexadecimal.
    if (field == 4) {
        std::snprintf(text, sizeof text, "%x", value);
    } else {
        std::snprintf(text, sizeof text, "%u.%02u", value / 100, value % 100);
    }
    return text;
}

std::optional<std::size_t> Monitor::PacketOffset(std::size_t area, std::uint16_t block, std::uint16_t packet) const {
    const ComponentArea& a = areas_[area];
    const std::size_t inBlock = std::size_t{packet} * kPacketBytes;
    const std::size_t offset = std::size_t{block} * a.blockSize + inBlock;
    if (inBlock >= a.blockSize || offset >= a.Capacity()) return std::nullopt;
    return offset;
}

bool Monitor::TakesComponents() const {
    // A combined kind takes components once its boot selector is 1, without a
    // restart; an older kind only in its update state or stopped in an update.
    if (config_.kind == MonitorKind::CombinedTunnel) return state_.bootSelector == 1;
    return state_.mode != MonitorMode::Running;
}

int Monitor::WritePacket(std::size_t area, std::uint16_t block, std::uint16_t packet,
                         std::span<const std::uint8_t> data) {
    // Only into an area announced since this boot, and within the blocks announced
    // plus one: hosts announce an image whose length is not a whole number of
    // blocks rounded down, then send its short last block after them.
    if (!TakesComponents() || !announced_[area] || block > *announced_[area]) return EIO;
    const auto offset = PacketOffset(area, block, packet);
    if (!offset) return EIO;
    const ComponentArea& a = areas_[area];
    const std::size_t n = std::min({kPacketBytes, a.blockSize - std::size_t{packet} * kPacketBytes,
                                    a.Capacity() - *offset, data.size()});
    auto& held = state_.components[area];
    std::copy_n(data.begin(), n, held.begin() + static_cast<std::ptrdiff_t>(*offset));
    if (config_.faults.corruptWrites > 0 && n > 0) {
        Decrement(config_.faults.corruptWrites);
        held[*offset + n / 2] ^= 0x01;
    }
    Persist();
    return 0;
}

std::optional<std::vector<std::uint8_t>> Monitor::GetUsage(UsageAddress address, std::size_t length) {
    Bytes data(length);
    if (address == kIdentityBlock) {
        if (!config_.identityOutsideFirmware && state_.mode != MonitorMode::Running) return std::nullopt;
        // The serial number fills a field of its own; a shorter one is padded with zero bytes.
        std::string identity = config_.serial;
        identity.resize(kSerialFieldBytes, '\0');
        identity += config_.model;
        return Fitted(std::span(reinterpret_cast<const std::uint8_t*>(identity.data()), identity.size()), length);
    }
    if (address == kVersionRecord) {
        WriteU16(data, 0, versionSelector_);
        const std::string text = VersionRecordText(versionSelector_);
        std::copy_n(text.begin(), std::min(text.size(), length - kVersionTextOffset - 1),
                    data.begin() + kVersionTextOffset);
        return data;
    }
    if (address == kGeometry) {
        std::copy(selection_.id.begin(), selection_.id.end(), data.begin());
        if (selection_.area) {
            const ComponentArea& a = areas_[*selection_.area];
            WriteU16(data, kGeometrySizeOffset, a.blockSize);
            WriteU16(data, kGeometryCountOffset, a.blockCount);
        }
        return data;
    }
    if (address == kPacket) {
        if (!selection_.area) return std::nullopt;
        const auto offset = PacketOffset(*selection_.area, selection_.block, selection_.packet);
        if (!offset) return std::nullopt;
        const ComponentArea& a = areas_[*selection_.area];
        const std::size_t n = std::min({kPacketBytes, a.blockSize - std::size_t{selection_.packet} * kPacketBytes,
                                        a.Capacity() - *offset, length});
        const auto& held = state_.components[*selection_.area];
        std::copy_n(held.begin() + static_cast<std::ptrdiff_t>(*offset), n, data.begin());
        ++selection_.packet;
        return data;
    }
    if (address == kChecksum) {
        if (!checksum_.requested) return data;
        std::copy(checksum_.request.begin(), checksum_.request.end(), data.begin());
        if (NowMs() < checksum_.readyAtMs || config_.faults.crcBusyPolls > 0) {
            if (NowMs() >= checksum_.readyAtMs) Decrement(config_.faults.crcBusyPolls);
            data[kChecksumStatusOffset] = 1;
            return data;
        }
        std::uint32_t crc = checksum_.crc;
        if (config_.faults.wrongCrcs > 0) {
            Decrement(config_.faults.wrongCrcs);
            crc ^= 0x00000100;
        }
        WriteU32(data, kChecksumCrcOffset, crc);
        return data;
    }
    if (address == kCompletion) {
        data[0] = !completionUntilMs_            ? kCompletionIdle
                  : NowMs() < *completionUntilMs_ ? kCompletionWorking
                                                  : kCompletionDone;
        return data;
    }
    if (address == kBusy) {
        data[0] = busy_;
        if (config_.faults.busyReads > 0) {
            Decrement(config_.faults.busyReads);
            data[0] = 1;
        }
        return data;
    }
    if (address == kLock) return GetLock(length);
    if (address == kIdentify) {
        WriteU16(data, 0, identify_);
        return data;
    }
    if (address == kIndexValue) {
        WriteU32(data, 0, indexedValue_);
        return data;
    }
    if (address == kBootSelector) {
        data[0] = state_.bootSelector;
        return data;
    }
    const auto stored = state_.settings.find(address);
    if (stored != state_.settings.end()) return Fitted(stored->second, length);
    return data;
}

std::optional<std::vector<std::uint8_t>> Monitor::GetLock(std::size_t length) {
    Bytes data(length);
    if (config_.faults.calibratingReads > 0) {
        Decrement(config_.faults.calibratingReads);
        data[0] = kLockCalibrating;
        return data;
    }
    if (lock_[0] != 0 && NowMs() >= lockUntilMs_) lock_ = {};  // expired
    std::copy_n(lock_.begin(), std::min(length, lock_.size()), data.begin());
    return data;
}

// [mode, seconds]: a mode (2 or 5) held for its seconds, or [0, 0], the release.
int Monitor::SetLock(std::span<const std::uint8_t> data) {
    if (config_.faults.calibratingReads > 0 || data.size() < lock_.size()) return EIO;
    const std::uint8_t mode = data[0], seconds = data[1];
    const bool release = mode == 0 && seconds == 0;
    const bool take = (mode == 2 || mode == 5) && seconds > 0;
    if (!release && !take) return EIO;
    lock_ = {mode, seconds};
    lockUntilMs_ = NowMs() + std::uint64_t{seconds} * 1000;
    return 0;
}

int Monitor::SetUsage(UsageAddress address, std::span<const std::uint8_t> data) {
    if (address == kIdentityBlock || address == kLockMode2 || address == kLockMode5) return EIO;  // read-only
    if (!IsValidSettingValue(address, data)) return EIO;
    if (address == kVersionRecord) {
        versionSelector_ = ReadU16(data, 0);
        return 0;
    }
    if (address == kSelect) {
        selection_ = {FindComponentArea(data.first(kComponentIdBytes)), {}, ReadU16(data, kBlockIndexOffset), 0};
        std::copy_n(data.begin(), kComponentIdBytes, selection_.id.begin());
        return 0;
    }
    if (address == kGeometry) {
        // Announces a component: the geometry must be the monitor's own; its area is erased.
        const auto area = FindComponentArea(data.first(kComponentIdBytes));
        if (!area) return EIO;
        const ComponentArea& a = areas_[*area];
        const std::size_t size = ReadU16(data, kGeometrySizeOffset), count = ReadU16(data, kGeometryCountOffset);
        if (!TakesComponents() || size != a.blockSize || size * count > a.Capacity()) return EIO;
        announced_[*area] = static_cast<std::uint16_t>(count);
        std::fill(state_.components[*area].begin(), state_.components[*area].end(), 0xFF);
        Persist();
        return 0;
    }
    if (address == kPacket) {
        if (!selection_.area) return EIO;
        const int err = WritePacket(*selection_.area, selection_.block, selection_.packet, data);
        if (err == 0) ++selection_.packet;
        return err;
    }
    if (address == kCombined) {
        const auto area = FindComponentArea(data.first(kComponentIdBytes));
        if (!area) return EIO;
        return WritePacket(*area, ReadU16(data, kBlockIndexOffset), ReadU16(data, kPacketIndexOffset),
                           data.subspan(kCombinedDataOffset));
    }
    if (address == kChecksum) {
        const auto area = FindComponentArea(data.first(kComponentIdBytes));
        if (!area) return EIO;
        const auto& held = state_.components[*area];
        checksum_.requested = true;
        std::copy_n(data.begin(), checksum_.request.size(), checksum_.request.begin());
        checksum_.crc = Crc32(std::span(held).first(ChecksummedLength(held)));
        checksum_.readyAtMs = NowMs() + config_.crcMs;
        return 0;
    }
    if (address == kCompletion) {
        if (data[0] != kCompletionStart) return EIO;
        completionUntilMs_ = NowMs() + config_.completionMs;
        return 0;
    }
    if (address == kRestart) {
        if (LittleEndian(data) != 0) return 0;  // only 0 restarts
        pluggedIn_ = false;
        departure_ = Departure{config_.restartMs, !config_.faults.noReturn, false};
        return 0;
    }
    if (address == kBootSelector) {
        state_.bootSelector = data[0];
        Persist();
        return 0;
    }
    if (address == kBusy) {
        busy_ = data[0];
        return 0;
    }
    if (address == kLock) return SetLock(data);
    if (address == kIdentify) {
        const std::uint16_t value = ReadU16(data, 0);
        if (value != 0x8000 && value != 0x4000 && value != 0x0010) return EIO;
        identify_ = value;
        return 0;
    }
    if (address == kIndexSelect) {
        const std::uint8_t index = data[0], operation = data[1];
        if (operation == kIndexRead) {
            indexedValue_ = state_.indexedSettings[index];
            indexedWrite_.reset();
            return 0;
        }
        if (operation == kIndexWrite) {
            indexedWrite_ = index;
            return 0;
        }
        return EIO;
    }
    if (address == kIndexValue) {
        if (!indexedWrite_) return EIO;
        state_.indexedSettings[*std::exchange(indexedWrite_, std::nullopt)] = LittleEndian(data);
        Persist();
        return 0;
    }
    state_.settings[address] = Bytes(data.begin(), data.end());
    Persist();
    return 0;
}
