// Fuzz target: a hostile monitor. The fuzzer's bytes are the interface's
// attributes, its report descriptor and every reply it gives (see
// hostile_monitor.h); the monitor layer goes through discovery, identity, the
// version text and one component write against it, on a virtual clock.
#include "common/clock.h"
#include "fuzz/hostile_monitor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::uint8_t> component = hostile_monitor::DriverComponent();
    hostile_monitor::Script script = hostile_monitor::ParseScript({data, size});
    VirtualClock clock;
    const ScopedClock useClock(clock);
    hostile_monitor::Platform platform(script);
    const ScopedHidPlatform usePlatform(platform);
    hostile_monitor::DriveMonitorLayer(component);
    return 0;
}
