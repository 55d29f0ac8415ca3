#pragma once
// The monitor a run updates: its handle, whether it waits in an update, and
// cached identity and version texts.
#include <cstdint>
#include <string>

#include "monitor/native_access.h"
#include "monitor/registry.h"

struct TargetMonitor {
    MonitorHandle monitorHandle = kNoMonitor;
    // 1 when the monitor waits in an update (in its loader), so that the
    // update does not try to take it there again.
    std::uint32_t loaderFlag = 0;
    // Caches: filled from the backup file or read from the monitor when empty.
    std::string modelName;
    std::string serialNumber;
    std::string currentVersion;

    // A failed read leaves the cache empty and yields ""; the next call tries again.
    const std::string& ModelName();
    const std::string& SerialNumber();
    // The cached version; with `fresh`, read again from the monitor first
    // (whatever the read's status, the text it leaves replaces the cache).
    const std::string& CurrentVersion(bool fresh = false);
    // Reads the version again; the status of the read (the cache is replaced in any case).
    Status RefreshCurrentVersion();
};

// Whether the monitor answers for the usage (a failed test counts as absent).
bool MonitorHasUsage(MonitorHandle monitor, MonUsage usage);
// A monitor without combined block packets: it gets the control lock and the
// saved settings, and is updated by the older sequence.
bool IsOlderProtocolMonitor(MonitorHandle monitor);
