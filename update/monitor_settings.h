#pragma once
// The monitor settings an update saves before it writes, switches to neutral
// values while it writes, and puts back afterwards.
#include "common/status.h"
#include "update/update_context.h"

// componentType of the list of indexed settings to store again.
inline constexpr std::uint16_t kSettingListType = 6;

// Reads settings 45 and 53 (and 22, 30, 40 where present) into the context and the record.
Status SaveMonitorSettings(UpdateContext& context);
// Puts the settings to the values the update needs.
// Setting B8's pauses reach `progress` as waits when given.
Status NeutraliseMonitorSettings(MonitorHandle monitor, UpdateProgress* progress = nullptr);
// Writes the saved values back, setting B8 last; a setting the monitor lacks
// counts as put back, one it does not answer for is a failure.
Status RestoreMonitorSettings(const UpdateContext& context);
// Has the monitor store again the indexed settings the package lists (componentType 6),
// then switches setting B8 off and on.
Status RestoreListedSettings(const UpdateContext& context);
