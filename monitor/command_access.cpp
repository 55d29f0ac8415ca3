#include "monitor/command_access.h"

namespace command_access {

namespace {
Status Transfer(Status status) { return IsFailure(status) ? kMonTransferFailed : kStatusSuccess; }
}  // namespace

bool IsAvailable(MonitorHandle handle, MonUsage usage) {
    std::uint32_t absent = 1;
    return !IsFailure(MonIsUnsupported(handle, usage.page, usage.usage, &absent)) && absent == 0;
}

Status ReadValue(MonitorHandle handle, MonUsage usage, std::int32_t& value) {
    return Transfer(MonReadValue(handle, usage.page, usage.usage, value));
}

Status WriteValue(MonitorHandle handle, MonUsage usage, std::int32_t value) {
    return Transfer(MonWriteValue(handle, usage.page, usage.usage, value));
}

Status ReadBlock(MonitorHandle handle, MonUsage usage, std::span<std::uint8_t> block) {
    return Transfer(MonReadBlock(handle, usage.page, usage.usage, block));
}

Status WriteBlock(MonitorHandle handle, MonUsage usage, std::span<const std::uint8_t> block) {
    return Transfer(MonWriteBlock(handle, usage.page, usage.usage, block));
}

}  // namespace command_access
