#include "monitor/setting_b8.h"

#include "common/clock.h"
#include "monitor/transactions.h"

namespace {

constexpr std::uint16_t kPage = 0xFF00, kUsage = 0x00B8;

}  // namespace

bool MonHasSettingB8(MonitorHandle handle) {
    std::uint32_t absent = 1;
    return !IsFailure(MonIsUnsupported(handle, kPage, kUsage, &absent)) && absent == 0;
}

Status MonGetSettingB8(MonitorHandle handle, std::int32_t* value) {
    if (value == nullptr) return kMonBadArgument;
    if (!MonHasSettingB8(handle)) return kMonUnavailable;
    std::int32_t read = -1;
    if (IsFailure(MonReadValue(handle, kPage, kUsage, read))) return kMonTransferFailed;
    if (read == 0 || read == 1) *value = read;
    return kStatusSuccess;
}

Status MonSetSettingB8(MonitorHandle handle, std::int32_t value, UpdateProgress* progress) {
    if (!MonHasSettingB8(handle)) return kMonUnavailable;
    if (IsFailure(MonWriteValue(handle, kPage, kUsage, value))) return kMonTransferFailed;
    const std::uint32_t settleMs = SettingB8SettleMs(value);
    const ReportedWait wait(progress, settleMs, settleMs);
    SleepMs(settleMs);
    return kStatusSuccess;
}
