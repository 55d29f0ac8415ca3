#pragma once
// The six operations on an opened monitor, each addressed by (usage page,
// usage). A native monitor serves every usage as a feature usage of its own
// interface; a tunnel monitor carries them as requests and replies on page
// 0xFF30. Every operation refuses an unknown handle with kMonFailed, holds the
// registry lock while it runs, and never throws.
#include <cstdint>
#include <span>

#include "monitor/monitor_status.h"
#include "monitor/registry.h"

// `absent` (may be null) becomes 1 when the monitor lacks the usage, else 0.
// Succeeds in both cases.
Status MonIsUnsupported(MonitorHandle handle, std::uint16_t page, std::uint16_t usage, std::uint32_t* absent);

Status MonReadBlock(MonitorHandle handle, std::uint16_t page, std::uint16_t usage, std::span<std::uint8_t> block);
Status MonWriteBlock(MonitorHandle handle, std::uint16_t page, std::uint16_t usage, std::span<const std::uint8_t> block);

// `value` is written only on success.
Status MonReadValue(MonitorHandle handle, std::uint16_t page, std::uint16_t usage, std::int32_t& value);
Status MonWriteValue(MonitorHandle handle, std::uint16_t page, std::uint16_t usage, std::int32_t value);

// The byte length of the identity block; left as it is when the monitor has none.
Status MonGetIdentityLength(MonitorHandle handle, std::uint32_t& length);
