#include "emulator/monitor.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "common/bytes.h"
#include "common/clock.h"
#include "common/crc32.h"
#include "emulator/monitor_usages.h"

using namespace monitor_usages;

namespace {

std::uint16_t ProductFor(MonitorKind kind) {
    switch (kind) {
    case MonitorKind::OlderNative: return 0x4001;
    case MonitorKind::OlderTunnel: return 0x4102;
    case MonitorKind::CombinedTunnel: return 0x4203;
    }
    return 0;
}

std::uint16_t VendorFor(MonitorKind kind) {
    switch (kind) {
    case MonitorKind::OlderNative: return 0x7E51;
    case MonitorKind::OlderTunnel: return 0x7E52;
    case MonitorKind::CombinedTunnel: return 0x7E53;
    }
    return 0;
}

// Nothing when a scale of 0, or one that takes a block count past 16 bits, is asked for.
std::optional<std::array<ComponentArea, 5>> ScaledAreas(std::uint32_t scale) {
    std::array<ComponentArea, 5> areas = ComponentAreas();
    for (ComponentArea& area : areas) {
        const auto scaled = ScaledArea(area, scale);
        if (!scaled) return std::nullopt;
        area = *scaled;
    }
    return areas;
}

}  // namespace

Monitor::Monitor(MonitorConfig config) : config_(std::move(config)), areas_(ComponentAreas()) {
    if (const auto scaled = ScaledAreas(config_.areaScale)) {
        areas_ = *scaled;
    } else {
        // Reported like an unusable state file: the monitor keeps its normal areas.
        startupFault_ = "area scale " + std::to_string(config_.areaScale) + " does not fit 16-bit block counts";
    }
    InitialiseDefaults();
    bool powerCycle = false;
    if (!config_.statePath.empty()) {
        if (auto loaded = LoadStateFile(config_.statePath, &startupFault_)) {
            state_ = std::move(*loaded);
            powerCycle = true;
        }
    }
    Boot(powerCycle);
    // A file that could not be read is left as it is for its owner to look at.
    if (startupFault_.empty()) Persist();
}

void Monitor::InitialiseDefaults() {
    const auto& areas = areas_;
    for (std::size_t i = 0; i < areas.size(); ++i) {
        state_.components[i] = MakeImage(areas[i], config_.firmware[areas[i].versionField], areas[i].Capacity(),
                                         Crc32(std::span(reinterpret_cast<const std::uint8_t*>(config_.serial.data()),
                                                         config_.serial.size())) + static_cast<std::uint32_t>(i));
    }
    for (std::size_t i = 0; i < state_.indexedSettings.size(); ++i) {
        state_.indexedSettings[i] = static_cast<std::uint32_t>(i * 3 + 1);
    }
    // Settings of a monitor fresh from the factory; the rest start at zero. Those
    // that an update saves in the backup record lie within the record's ranges,
    // and are not 0, so that putting them back can be seen.
    auto& s = state_.settings;
    s[kSettingB8] = {1};
    s[{0xFF01, 0x0045}] = {1};
    s[{0xFF01, 0x0053}] = {1};
    s[{0xFF01, 0x0054}] = {1, 0};
    s[{0xFF01, 0x00A4}] = {0xB0, 0x04};  // 1200
    s[{0xFF01, 0x0068}] = {1, 0};
    s[{0xFF01, 0x00F0}] = {1, 0};
    s[{0xFF03, 0x0001}] = {1};
    s[{0xFF03, 0x0003}] = {1};
    s[{0xFF03, 0x0022}] = Fitted(std::vector<std::uint8_t>{2, 1, 2, 3}, 64);
    s[{0xFF03, 0x0030}] = Fitted(std::vector<std::uint8_t>{1, 4, 5, 6}, 64);
    s[{0xFF10, 0x0040}] = {1, 0, 1, 0};
    s[kUsageCE] = {0x02, 0x01};
}

void Monitor::Boot(bool powerCycle) {
    ++bootCount_;
    const auto& areas = areas_;
    bool runnable = true;
    for (std::size_t i = 0; i < areas.size(); ++i) {
        const auto version = RunnableVersion(areas[i], state_.components[i]);
        running_[areas[i].versionField] = version.value_or(0);
        runnable = runnable && version.has_value();
    }
    const bool wasUpdating = state_.mode != MonitorMode::Running;
    if (powerCycle) {
        state_.mode = wasUpdating || !runnable ? MonitorMode::Stopped : MonitorMode::Running;
        state_.bootSelector = 0;
    } else if (state_.bootSelector == 1) {
        state_.mode = MonitorMode::Update;
    } else {
        state_.mode = runnable ? MonitorMode::Running : MonitorMode::Stopped;
    }

    pluggedIn_ = true;
    departure_.reset();
    chunkOffset_ = 0;
    pendingReplies_ = {};
    versionSelector_ = 0;
    selection_ = {};
    checksum_ = {};
    completionUntilMs_.reset();
    busy_ = 0;
    indexedWrite_.reset();
    announced_ = {};
    lock_ = {};
    lockUntilMs_ = 0;
    identify_ = 0;
    const std::uint32_t token = Crc32(std::span(reinterpret_cast<const std::uint8_t*>(config_.serial.data()),
                                                config_.serial.size())) +
                                bootCount_ * 0x9E37u;
    tunnelToken_ = static_cast<std::uint16_t>(token) == 0 ? 1 : static_cast<std::uint16_t>(token);
    BuildInterface();
}

void Monitor::BuildInterface() {
    const bool stoppedTunnel = IsTunnel() && state_.mode == MonitorMode::Stopped;
    const DescriptorOptions options{config_.kind, config_.legacySettings, stoppedTunnel, config_.controlLock,
                                    config_.settingB8AndSwitchF0};
    interfaceDescriptor_ = InterfaceDescriptor(options);
    tunnelledDescriptor_ = TunnelledDescriptor(options);
    // The descriptors are fixed tables: failing to read them back is a defect here.
    interfaceLayout_ = ReportLayout::Parse(interfaceDescriptor_).value();
    tunnelledLayout_ = IsTunnel() ? ReportLayout::Parse(tunnelledDescriptor_).value() : ReportLayout{};

    attributes_.vendor = VendorFor(config_.kind);
    attributes_.product = stoppedTunnel ? kProductStoppedInUpdate : ProductFor(config_.kind);
    const bool nativeUpdating = !IsTunnel() && state_.mode != MonitorMode::Running;
    attributes_.version = nativeUpdating ? kVersionNumberInUpdate : kReleaseNumber;
}

InterfaceAttributes Monitor::Attributes() const {
    std::lock_guard lock(mutex_);
    return attributes_;
}

std::vector<std::uint8_t> Monitor::Descriptor() const {
    std::lock_guard lock(mutex_);
    return interfaceDescriptor_;
}

bool Monitor::PluggedIn() const {
    std::lock_guard lock(mutex_);
    return pluggedIn_;
}

std::optional<Departure> Monitor::TakeDeparture() {
    std::lock_guard lock(mutex_);
    return std::exchange(departure_, std::nullopt);
}

void Monitor::PlugIn() {
    std::lock_guard lock(mutex_);
    if (pluggedIn_) return;
    // Coming back after a power loss is a power-on: an update state is not resumed.
    Boot(std::exchange(powerLost_, false));
    Persist();
}

void Monitor::SetLog(TransferLog* log) {
    std::lock_guard lock(mutex_);
    log_ = log;
}

void Monitor::AddFaults(const FaultPlan& f) {
    std::lock_guard lock(mutex_);
    auto& mine = config_.faults;
    if (f.unplugAtTransfer != 0) mine.unplugAtTransfer = static_cast<std::uint32_t>(transfers_) + f.unplugAtTransfer;
    if (f.unplugAfterTransfer != 0)
        mine.unplugAfterTransfer = static_cast<std::uint32_t>(transfers_) + f.unplugAfterTransfer;
    if (f.calibratingReads != 0) mine.calibratingReads = f.calibratingReads;
    if (f.busyReads != 0) mine.busyReads = f.busyReads;
    if (f.mismatchedReplies != 0) mine.mismatchedReplies = f.mismatchedReplies;
    if (f.wrongChunkOffsets != 0) mine.wrongChunkOffsets = f.wrongChunkOffsets;
    if (f.crcBusyPolls != 0) mine.crcBusyPolls = f.crcBusyPolls;
    if (f.wrongCrcs != 0) mine.wrongCrcs = f.wrongCrcs;
    if (f.corruptWrites != 0) mine.corruptWrites = f.corruptWrites;
    mine.noReturn = mine.noReturn || f.noReturn;
    mine.foreignOwner = mine.foreignOwner || f.foreignOwner;
}

MonitorMode Monitor::Mode() const {
    std::lock_guard lock(mutex_);
    return state_.mode;
}

VersionFields Monitor::RunningVersion() const {
    std::lock_guard lock(mutex_);
    return running_;
}

std::vector<std::uint8_t> Monitor::HeldComponent(std::size_t area) const {
    std::lock_guard lock(mutex_);
    return state_.components.at(area);
}

std::uint16_t Monitor::TunnelToken() const {
    std::lock_guard lock(mutex_);
    return tunnelToken_;
}

std::uint16_t Monitor::OwnerValue() const {
    std::lock_guard lock(mutex_);
    return config_.faults.foreignOwner ? static_cast<std::uint16_t>(tunnelToken_ ^ 0x5A5A) : 0;
}

std::uint32_t Monitor::IndexedSetting(std::uint8_t index) const {
    std::lock_guard lock(mutex_);
    return state_.indexedSettings[index];
}

MonitorState Monitor::State() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void Monitor::HoldSetting(UsageAddress address, std::vector<std::uint8_t> value) {
    std::lock_guard lock(mutex_);
    state_.settings[address] = std::move(value);
    Persist();
}

void Monitor::Persist() {
    if (config_.statePath.empty()) return;
    std::string fault;
    if (!SaveStateFile(config_.statePath, state_, &fault)) {
        std::fprintf(stderr, "monitor-emulator: cannot keep state in %s: %s\n", config_.statePath.c_str(), fault.c_str());
    }
}

// A transfer's time on the clock; fractions of a millisecond carry over to the next one.
void Monitor::Charge(std::size_t reportBytes) {
    const auto& t = config_.transferTime;
    debtUs_ += t.perTransferUs + t.perPacketUs * ((reportBytes + 63) / 64);
    const std::uint64_t ms = debtUs_ / 1000;
    debtUs_ %= 1000;
    transferTimeMs_ += ms;
    if (ms > 0) SleepMs(static_cast<std::uint32_t>(ms));
}

std::uint64_t Monitor::TransferTimeMs() const {
    std::lock_guard lock(mutex_);
    return transferTimeMs_;
}

std::uint32_t Monitor::PowerLosses() const {
    std::lock_guard lock(mutex_);
    return powerLosses_;
}

bool Monitor::PowerCutPending() const {
    std::lock_guard lock(mutex_);
    return config_.faults.unplugAtTransfer != 0 || config_.faults.unplugAfterTransfer != 0;
}

bool Monitor::LockHeld() const {
    std::lock_guard lock(mutex_);
    return pluggedIn_ && lock_[0] != 0 && NowMs() < lockUntilMs_;
}

void Monitor::LosePower() {
    ++powerLosses_;
    pluggedIn_ = false;
    departure_ = Departure{config_.restartMs, true, true};
    powerLost_ = true;
    lock_ = {};
}

// Counts the transfer; the power goes before it acts when the plan says so.
bool Monitor::PowerFails() {
    ++transfers_;
    if (config_.faults.unplugAtTransfer == 0 || transfers_ != config_.faults.unplugAtTransfer) return false;
    config_.faults.unplugAtTransfer = 0;
    LosePower();
    return true;
}

// After the counted transfer has acted: the power goes before its answer leaves.
bool Monitor::PowerFailsAfter() {
    if (config_.faults.unplugAfterTransfer == 0 || transfers_ != config_.faults.unplugAfterTransfer) return false;
    config_.faults.unplugAfterTransfer = 0;
    LosePower();
    return true;
}

void Monitor::Log(bool isSet, std::uint8_t reportId, std::optional<UsageAddress> tunnelled, int err,
                  std::span<const std::uint8_t> bytes) {
    if (log_ == nullptr) return;
    const FieldLayout* field = interfaceLayout_.FieldOfReport(reportId);
    log_->Record({NowMs(), isSet, field != nullptr ? field->address : UsageAddress{}, tunnelled, err,
                  std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
}

ReportReply Monitor::GetReport(std::uint8_t reportId) {
    std::lock_guard lock(mutex_);
    if (!pluggedIn_) return {ENODEV, {}};
    const std::uint32_t length = interfaceLayout_.ReportLength(reportId);
    Charge(std::max<std::uint32_t>(length, 1));
    if (PowerFails()) {
        Log(false, reportId, std::nullopt, ENODEV, {});
        return {ENODEV, {}};
    }
    const FieldLayout* field = interfaceLayout_.FieldOfReport(reportId);
    if (field == nullptr) {
        Log(false, reportId, std::nullopt, EIO, {});
        return {EIO, {}};
    }
    std::optional<Bytes> data = IsTunnel() && field->address.page == kPageTunnel
                                    ? GetTunnelInterface(field->address.usage, length - 1)
                                    : GetUsage(field->address, length - 1);
    ReportReply reply;
    if (!data) {
        reply.err = EIO;
    } else {
        reply.data = {reportId};
        reply.data.insert(reply.data.end(), data->begin(), data->end());
        reply.data.resize(length);
    }
    if (PowerFailsAfter()) reply = {ENODEV, {}};
    Log(false, reportId, std::nullopt, reply.err, reply.data);
    return reply;
}

int Monitor::SetReport(std::span<const std::uint8_t> report) {
    std::lock_guard lock(mutex_);
    if (!pluggedIn_) return ENODEV;
    if (report.empty()) return EINVAL;
    const std::uint8_t reportId = report[0];
    Charge(report.size());
    if (PowerFails()) {
        Log(true, reportId, std::nullopt, ENODEV, report);
        return ENODEV;
    }
    const FieldLayout* field = interfaceLayout_.FieldOfReport(reportId);
    std::optional<UsageAddress> tunnelled;
    int err = EIO;
    // A report shorter than its descriptor declares does not carry the whole
    // value and is refused; bytes past it (a host that sends every report at
    // the interface's longest length) are not part of it.
    const std::size_t declared = interfaceLayout_.ReportLength(reportId);
    if (field != nullptr && report.size() >= declared) {
        const auto payload = report.subspan(1, declared - 1);
        err = IsTunnel() && field->address.page == kPageTunnel
                  ? SetTunnelInterface(field->address.usage, payload, tunnelled)
                  : SetUsage(field->address, payload);
    }
    if (PowerFailsAfter()) err = ENODEV;
    Log(true, reportId, tunnelled, err, report);
    return err;
}
