#include "monitor/registry.h"

#include <algorithm>

namespace monitor_registry {

namespace {
std::recursive_mutex g_mutex;
std::vector<Entry> g_entries;
std::uintptr_t g_lastHandle = 0;
}  // namespace

std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(g_mutex); }

std::vector<Entry>& Entries() { return g_entries; }

MonitorHandle Register(std::unique_ptr<HidDevice> device) {
    const auto handle = static_cast<MonitorHandle>(++g_lastHandle);
    g_entries.push_back({handle, std::move(device)});
    return handle;
}

HidDevice* Find(MonitorHandle handle) {
    if (handle == kNoMonitor) return nullptr;
    const auto found =
        std::find_if(g_entries.begin(), g_entries.end(), [handle](const Entry& e) { return e.handle == handle; });
    return found != g_entries.end() ? found->device.get() : nullptr;
}

}  // namespace monitor_registry
