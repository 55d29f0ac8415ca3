#pragma once
// What the monitor layer's tests share: a virtual clock, emulated monitors
// served in-process, and an empty registry before and after every test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/clock.h"
#include "monitor/discovery.h"
#include "monitor/model_platform_testing.h"
#include "monitor/transactions.h"
#include "emulator/monitor.h"

inline constexpr std::uint32_t kAllFamilies = 0xFFFFFFFF;

// A monitor whose transfers take no time, so that the clock holds only the layer's own waits.
inline MonitorConfig QuietConfig(MonitorKind kind, std::string serial = "SN000001", std::string model = "QX2701") {
    MonitorConfig config;
    config.kind = kind;
    config.serial = std::move(serial);
    config.model = std::move(model);
    config.transferTime = {0, 0};
    return config;
}

inline const char* KindName(MonitorKind kind) {
    switch (kind) {
    case MonitorKind::OlderNative: return "OlderNative";
    case MonitorKind::OlderTunnel: return "OlderTunnel";
    case MonitorKind::CombinedTunnel: return "CombinedTunnel";
    }
    return "";
}

class LayerTest : public ::testing::Test {
protected:
    LayerTest() { MonCloseDevices(kAllFamilies); }
    ~LayerTest() override { MonCloseDevices(kAllFamilies); }

    // Registers what is plugged in and returns the index-th family-1 monitor.
    MonitorHandle OpenNormal(std::uint32_t index = 0) {
        MonOpenDevices(kFamilyNormal);
        MonitorHandle handle = kNoMonitor;
        EXPECT_EQ(MonGetDevice(kFamilyNormal, index, &handle), 0u);
        clock.ClearWaits();
        return handle;
    }

    // Readies the only monitor for component writes and returns its present
    // handle: the boot selector 1, and on an older monitor (without combined
    // packets) the restart into its update state.
    MonitorHandle EnterUpdateState(MonitorHandle h) {
        EXPECT_EQ(MonWriteValue(h, 0xFF02, 0x00FB, 1), 0u);
        std::uint32_t absent = 1;
        if (MonIsUnsupported(h, 0xFF02, 0x00FE, &absent) == 0 && absent == 0) return h;
        EXPECT_EQ(MonWriteValue(h, 0xFF02, 0x00F4, 0), 0u);
        clock.Advance(MonitorConfig{}.restartMs);
        MonCloseDevices(kAllFamilies);  // the handle of the earlier plug-in is gone
        return OpenNormal();
    }

    VirtualClock clock{1'000'000};
    ScopedClock useClock{clock};
    ModelPlatform platform;
    ScopedHidPlatform usePlatform{platform};
};

// The same, run once for each of the given kinds.
class KindTest : public LayerTest, public ::testing::WithParamInterface<MonitorKind> {
protected:
    Monitor& AddMonitor() { return platform.Add(QuietConfig(GetParam())); }
};

inline std::string KindTestName(const ::testing::TestParamInfo<MonitorKind>& info) { return KindName(info.param); }
