#pragma once
// Indexed settings (0xFF01:0x00F1 selects, 0xFF01:0x00F2 carries the value),
// present when the monitor has 0xFF01:0x00F0.
#include <cstdint>

#include "monitor/command_status.h"
#include "monitor/registry.h"

Status MonReadIndexedSetting(MonitorHandle handle, std::uint8_t index, std::int32_t* value);

// Tells the monitor to store the setting again with its present value.
Status MonRewriteIndexedSetting(MonitorHandle handle, std::uint8_t index);
