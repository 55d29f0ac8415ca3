// quillon-cli blocks sleep while it updates, under its own name, and says on
// standard error, in one line, when it cannot.
#include <gtest/gtest.h>

#include "app/app_testing.h"
#include "app/system_bus_testing.h"
#include "cli/cli_testing.h"

namespace {

using namespace app_testing;
using namespace cli_testing;

TEST(SleepBlockingTest, TheLockIsHeldUnderTheCommandsNameWhileTheUpdateRuns) {
    const TestSystemBus bus(TestSystemBus::Logind::Granting);
    Bench bench;
    bench.Plug(MonitorKind::CombinedTunnel);
    bench.WritePackage();
    CliRun run(bench);
    // Asked once a second while the update runs.
    std::vector<bool> heldAtTicks;
    run.io.takeStopSignal = [&, inner = run.io.takeStopSignal]() {
        heldAtTicks.push_back(bus.LockHeldHere());
        return inner();
    };

    EXPECT_EQ(run.Run({"update", "--yes"}), 0) << run.err.str();

    EXPECT_EQ(run.err.str(), "");
    const std::vector<InhibitCall> calls = bus.InhibitCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].who, "quillon-cli");
    EXPECT_EQ(calls[0].what, "sleep:shutdown:idle:handle-lid-switch");
    EXPECT_EQ(calls[0].mode, "block");
    ASSERT_FALSE(heldAtTicks.empty());
    EXPECT_EQ(heldAtTicks, std::vector<bool>(heldAtTicks.size(), true));
    EXPECT_FALSE(bus.LockHeldHere());
}

TEST(SleepBlockingTest, WithoutLogindOneLineOnStandardErrorAndTheUpdateCompletes) {
    const TestSystemBus bus(TestSystemBus::Logind::Missing);
    Bench bench;
    bench.Plug(MonitorKind::CombinedTunnel);
    bench.WritePackage();
    CliRun run(bench);

    EXPECT_EQ(run.Run({"update", "--yes"}), 0) << run.err.str();

    const std::vector<std::string> lines = Lines(run.err.str());
    ASSERT_EQ(lines.size(), 1u) << run.err.str();
    EXPECT_TRUE(lines[0].starts_with("quillon-cli: sleep cannot be blocked during this update: Inhibit: "
                                     "org.freedesktop.DBus.Error.ServiceUnknown: "))
        << lines[0];
    EXPECT_EQ(bench.VersionOf(bench.Open()), MemoryText(kAfter));
}

}  // namespace
