#pragma once
// The update of a monitor that takes combined block packets (0xFF02:0x00FE):
// switch it to accept components without a restart, write the components whose
// version differs, restart once and check. The stage is kept in the backup
// record, so an interrupted update resumes where it stopped.
#include "common/status.h"
#include "monitor/registry.h"
#include "package/pkg.h"
#include "update/update_context.h"

// As RunOlderMonitorUpdate.
Status RunCombinedPacketUpdate(UpdateContext& update, MonitorHandle monitor, PackageHandle package,
                               PackageHandle record);
