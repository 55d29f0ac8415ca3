#include "app/target_monitor.h"

#include <array>

#include "monitor/command_usages.h"
#include "monitor/discovery.h"
#include "monitor/firmware_version.h"
#include "monitor/transactions.h"

namespace {

constexpr std::size_t kModelBuffer = 18;   // 17 characters and the terminator
constexpr std::size_t kSerialBuffer = 10;  // 9 characters and the terminator

}  // namespace

const std::string& TargetMonitor::ModelName() {
    if (modelName.empty()) {
        std::array<char, kModelBuffer> text{};
        if (!IsFailure(MonGetModelName(monitorHandle, text))) modelName = text.data();
    }
    return modelName;
}

const std::string& TargetMonitor::SerialNumber() {
    if (serialNumber.empty()) {
        std::array<char, kSerialBuffer> text{};
        if (!IsFailure(MonGetSerialNumber(monitorHandle, text))) serialNumber = text.data();
    }
    return serialNumber;
}

const std::string& TargetMonitor::CurrentVersion(bool fresh) {
    if (fresh) RefreshCurrentVersion();
    return currentVersion;
}

Status TargetMonitor::RefreshCurrentVersion() {
    std::array<char, kVersionTextBytes> text{};
    const Status status = MonGetFirmwareVersion(monitorHandle, text);
    text.back() = '\0';
    currentVersion = text.data();
    return status;
}

bool MonitorHasUsage(MonitorHandle monitor, MonUsage usage) {
    std::uint32_t absent = 1;
    return !IsFailure(MonIsUnsupported(monitor, usage.page, usage.usage, &absent)) && absent == 0;
}

bool IsOlderProtocolMonitor(MonitorHandle monitor) {
    return !MonitorHasUsage(monitor, command_usage::kCombinedPacket);
}
