#pragma once
// The update of an older-protocol monitor (one without 0xFF02:0x00FE): save
// its settings, restart it into its update state, write the components,
// restart it into the new firmware, check it and put the settings back. The
// stage is kept in the backup record, so an interrupted update resumes where it stopped.
#include "common/status.h"
#include "monitor/registry.h"
#include "package/pkg.h"
#include "update/update_context.h"

// `package` may be kNoPackageHandle when an interrupted update is resumed past
// its first stage. 0 once the record's stage is 1000, else the first failure.
// Afterwards update.monitor is the monitor's present handle: every restart
// gives it a new one (kNoMonitor when it did not come back).
Status RunOlderMonitorUpdate(UpdateContext& update, MonitorHandle monitor, PackageHandle package,
                             PackageHandle record);
