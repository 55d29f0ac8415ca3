// Fuzz target: a hostile monitor. The fuzzer's bytes are the interface's
// attributes, its report descriptor and every reply it gives (see
// hostile_monitor.h); the monitor layer goes through discovery, identity, the
// version text and one component write against it, on a virtual clock.
// The whole way: the component was written.
#include "common/clock.h"
#include "fuzz/fuzz_target.h"
#include "fuzz/hostile_monitor.h"

bool fuzz_target::Run(std::span<const std::uint8_t> input) {
    static const std::vector<std::uint8_t> component = hostile_monitor::DriverComponent();
    hostile_monitor::Script script = hostile_monitor::ParseScript(input);
    VirtualClock clock;
    const ScopedClock useClock(clock);
    hostile_monitor::Platform platform(script);
    const ScopedHidPlatform usePlatform(platform);
    return hostile_monitor::DriveMonitorLayer(component);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_target::Run({data, size});
    return 0;
}
