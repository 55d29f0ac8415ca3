#pragma once
// The transactions as the commands use them: availability as a yes/no, and
// every failed transfer reported as kMonTransferFailed.
#include <cstdint>
#include <span>

#include "monitor/native_access.h"
#include "monitor/transactions.h"

namespace command_access {

// The monitor reports the usage present; a failed query counts as absent.
bool IsAvailable(MonitorHandle handle, MonUsage usage);

Status ReadValue(MonitorHandle handle, MonUsage usage, std::int32_t& value);
Status WriteValue(MonitorHandle handle, MonUsage usage, std::int32_t value);
Status ReadBlock(MonitorHandle handle, MonUsage usage, std::span<std::uint8_t> block);
Status WriteBlock(MonitorHandle handle, MonUsage usage, std::span<const std::uint8_t> block);

}  // namespace command_access
