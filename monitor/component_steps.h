#pragma once
// The steps a component transfer is built of. Every failed transfer is
// kMonTransferFailed. For the component transfer's own use.
#include <cstdint>
#include <span>
#include <string_view>

#include "monitor/component_blocks.h"
#include "monitor/monitor_status.h"
#include "monitor/registry.h"

namespace component_steps {

// Selects the component and reads the monitor's geometry for it.
Status QueryGeometry(MonitorHandle handle, std::string_view id, component_wire::Geometry& geometry);
// The two halves of QueryGeometry: a write, then a read.
Status SelectComponent(MonitorHandle handle, std::string_view id);
Status ReadGeometry(MonitorHandle handle, component_wire::Geometry& geometry);

// Announces a component about to be written.
Status BeginComponent(MonitorHandle handle, std::string_view lowerId, component_wire::Geometry geometry);

// Block `index` (its bytes in `block`): one select, then 512-byte packets. An
// empty block is the select alone.
Status WriteBlock(MonitorHandle handle, std::string_view lowerId, std::span<const std::uint8_t> block,
                  std::uint16_t index);

// Block `index` as combined packets, each carrying the selection.
Status WriteBlockCombined(MonitorHandle handle, std::string_view lowerId, std::span<const std::uint8_t> block,
                          std::uint16_t index);

// Reads block `index` back into `block` (its length says how many bytes).
Status ReadBlock(MonitorHandle handle, std::string_view id, std::span<std::uint8_t> block, std::uint16_t index);

}  // namespace component_steps
