// Whole updates through the hidraw backend on the real kernel, as the window
// runs them, on each kind of monitor plugged in as a USB device; and a power
// cut in the middle of a component (the emulator killed, then started again
// from its state file) with the next run resuming to completion.
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "app/app_testing.h"
#include "kernel/emulator_process.h"
#include "kernel/kernel_testing.h"

namespace {

using namespace app_testing;
using kernel_testing::EmulatorArgs;
using kernel_testing::Kind;
using kernel_testing::Transport;
using kernel_testing::WaitUntil;

// A user starts the updater again after a failed run, up to this many times in all.
constexpr int kMaxRuns = 4;

struct UpdateCase {
    Kind kind;
    int cutAtPacket;  // 0: no power cut
};

class UpdateTest : public ::testing::TestWithParam<UpdateCase> {
protected:
    UpdateTest() {
        MonCloseDevices(0xFFFFFFFF);
        PkgCloseAll();
    }
    ~UpdateTest() override {
        MonCloseDevices(0xFFFFFFFF);
        PkgCloseAll();
    }

    std::vector<std::string> Args() const {
        return EmulatorArgs(Transport::Usb, GetParam().kind, "KRN00010", dir.File("monitor.state"), dir.File("transfers.log"));
    }

    // The monitor with the test's serial number, once the kernel shows it.
    MonitorHandle OpenMonitor() {
        MonitorHandle found = kNoMonitor;
        WaitUntil(
            [&] {
                MonCloseDevices(0xFFFFFFFF);
                const std::uint32_t count = MonOpenDevices(kFamilyNormal);
                for (std::uint32_t i = 0; i < count; ++i) {
                    MonitorHandle h = kNoMonitor;
                    std::string model, serial;
                    if (MonGetDevice(kFamilyNormal, i, &h) == 0 && MonReadIdentity(h, model, serial) == 0 &&
                        serial == "KRN00010")
                        found = h;
                }
                return found != kNoMonitor;
            },
            kernel_testing::kArrivalLimitMs);
        return found;
    }

    TempDir dir;
};

TEST_P(UpdateTest, EndsWithThePackagesFirmwareAndTheSettingsBack) {
    const UpdateCase& c = GetParam();
    std::mutex emulatorMutex;
    auto emulator = std::make_unique<EmulatorProcess>(Args(), 1);
    ASSERT_TRUE(emulator->Running());

    MonitorHandle handle = OpenMonitor();
    ASSERT_NE(handle, kNoMonitor);
    const Settings before = update_testing::GiveUnusualSettings(handle);
    MonCloseDevices(0xFFFFFFFF);
    PackageContents contents;
    contents.writeSeconds = 1;
    WritePackageFile(dir.File("update.vfw"), contents);

    // The power cut: the emulator is killed at the chosen packet and started
    // again at once from its state file, as a power-on.
    std::atomic<bool> finished{false};
    std::atomic<bool> cut{false};
    std::thread powerCut;
    if (c.cutAtPacket > 0) {
        powerCut = std::thread([&] {
            if (!WaitUntil([&] { return finished || kernel_testing::CountLoggedTransfers(dir.File("transfers.log")).packets >= c.cutAtPacket; },
                           600'000) || finished)
                return;
            std::lock_guard lock(emulatorMutex);
            emulator->Kill();
            emulator = std::make_unique<EmulatorProcess>(Args(), 1);
            cut = true;
        });
    }

    const auto messagesPerRun = kernel_testing::UpdateUntilComplete(dir.File(""), kMaxRuns);
    finished = true;
    if (powerCut.joinable()) powerCut.join();

    std::string runs;
    for (const auto& messages : messagesPerRun) {
        runs += " [";
        for (TextId id : messages) runs += " " + std::to_string(id);
        runs += " ]";
    }
    SCOPED_TRACE("messages per run:" + runs);
    ASSERT_EQ(messagesPerRun.back(), std::vector<TextId>{text_id::kComplete});
    if (c.cutAtPacket > 0) {
        EXPECT_TRUE(cut) << "the power cut never came";
        EXPECT_GE(messagesPerRun.size(), 2u) << "the cut run was not interrupted";
    }
    handle = OpenMonitor();
    ASSERT_NE(handle, kNoMonitor);
    std::array<char, kVersionTextBytes> version{};
    EXPECT_EQ(MonGetFirmwareVersion(handle, version), 0u);
    EXPECT_EQ(std::string(version.data()), MemoryText(kAfter));
    EXPECT_EQ(update_testing::ReadSettings(handle), before);
    EXPECT_FALSE(std::filesystem::exists(dir.File(kBackupFileName)));
}

std::string CaseName(const ::testing::TestParamInfo<UpdateCase>& info) {
    const std::string name = kernel_testing::TestName(info.param.kind.name);
    return info.param.cutAtPacket > 0 ? name + "_PowerCutMidComponent" : name;
}

INSTANTIATE_TEST_SUITE_P(Kernel, UpdateTest,
                         ::testing::Values(UpdateCase{kernel_testing::kOlderNative, 0},
                                           UpdateCase{kernel_testing::kOlderTunnel, 3},
                                           UpdateCase{kernel_testing::kCombinedTunnel, 3}),
                         CaseName);

}  // namespace
