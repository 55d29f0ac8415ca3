// The final check of the monitor's version against the record's target, with
// targets of every length a damaged record could hold.
#include "update/monitor_steps.h"

#include "update/update_fixture_testing.h"
#include "update/update_status.h"

namespace {

using namespace update_testing;

class VersionCheckTest : public UpdateFixture {};

TEST_F(VersionCheckTest, OnlyAWholeTargetCanConfirmTheMonitorsVersion) {
    Plug(MonitorKind::CombinedTunnel);
    update.monitor = handle;
    const std::string running = MemoryText(kBefore);
    struct Case {
        const char* what;
        std::string target;
        Status status;
    };
    const Case cases[] = {
        {"the running version", running, kStatusSuccess},
        {"wildcards where it differs", "00000" + running.substr(5, 10) + "00000" + running.substr(20), kStatusSuccess},
        {"all wildcards", "0000000000000000000000000", kStatusSuccess},
        {"another version", MemoryText(kAfter), kUpdVersionMismatch},
        {"four fields of it", running.substr(0, 20), kUpdVersionMismatch},
        {"one wildcard field", "00000", kUpdVersionMismatch},
        {"none", "", kUpdVersionMismatch},
        {"it and more", running + "0", kUpdVersionMismatch},
    };
    for (const Case& c : cases) {
        update.targetVersion = c.target;
        EXPECT_EQ(CheckMonitorVersions(update), c.status) << c.what;
    }
}

}  // namespace
