// Host CPU and transfers of a whole update through the real kernel (the
// monitor a USB device on vhci_hcd, reached through usbhid and hidraw), beside
// the same update through the emulated backend's socket, in one run. Needs
// root and a kernel with vhci-hcd: run it in the guest of scripts/kernel-test,
//
//   scripts/kernel-test -- kernel/run-in-guest build/bench/kernel_update_bench
//
// The update is the window's, on a combined-tunnel monitor and on an
// older-native one whose component areas are kAreaScale times the real ones
// (about 320 KiB in all), with the emulated timings at their shortest; the
// waits the updater prescribes really pass, so the wall time is mostly waiting.
// Host CPU is this process's user and system time for the whole update
// (discovery, backup file, package, every transfer and wait), per MiB of
// component data written; transfers are counted from the monitor's own
// transfer log. In the guest the CPU is emulated (QEMU without KVM), so the
// figures are many times those of a real machine: compare the two paths.
#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "common/temp_dir_testing.h"
#include "kernel/emulator_process.h"
#include "kernel/kernel_testing.h"

namespace {

using namespace kernel_testing;

constexpr std::uint32_t kAreaScale = 32;

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One update from start to completion; false when it did not complete.
bool MeasureUpdate(const Kind& kind, bool usb) {
    MonCloseDevices(0xFFFFFFFF);
    PkgCloseAll();
    TempDir dir;
    const std::string log = dir.File("transfers.log");
    std::vector<std::string> args =
        EmulatorArgs(usb ? PlugIn(Transport::Usb) : PlugIn(dir.File("")), kind, "KRN00020", "", log);
    args.insert(args.end(), {"--area-scale", std::to_string(kAreaScale)});
    const std::unique_ptr<HidPlatform> emulated = usb ? nullptr : MakeEmulatedPlatform(dir.File(""));
    std::optional<ScopedHidPlatform> useEmulated;
    if (emulated) useEmulated.emplace(*emulated);
    EmulatorProcess monitor(args, 1);
    if (!monitor.Running()) return false;
    if (!WaitUntil([] { return MonOpenDevices(kFamilyNormal) == 1; }, kArrivalLimitMs)) return false;
    MonCloseDevices(0xFFFFFFFF);

    app_testing::PackageContents contents;
    contents.writeSeconds = 1;
    contents.areaScale = kAreaScale;
    app_testing::WritePackageFile(dir.File("update.vfw"), contents);
    std::size_t componentBytes = 0;
    for (const ComponentArea& area : ComponentAreas()) componentBytes += ScaledArea(area, kAreaScale)->Capacity();

    const std::uint64_t startMs = NowMs();
    const double startCpu = CpuSeconds();
    const auto runs = UpdateUntilComplete(dir.File(""), 1);
    const double cpu = CpuSeconds() - startCpu;
    const std::uint64_t wallMs = NowMs() - startMs;
    const bool complete = runs.back() == std::vector<TextId>{text_id::kComplete};
    const LoggedTransfers counts = CountLoggedTransfers(log);
    const double mib = static_cast<double>(componentBytes) / (1024.0 * 1024.0);
    std::printf("%-16s %-7s %-9s %8.1f s %9.1f ms %10.1f ms %9d %8d %9.1f\n", kind.name, usb ? "kernel" : "socket",
                complete ? "complete" : "FAILED", static_cast<double>(wallMs) / 1000.0, cpu * 1000.0, cpu * 1000.0 / mib,
                counts.transfers, counts.packets, static_cast<double>(counts.transfers) / ComponentAreas().size());
    return complete;
}

}  // namespace

int main() {
    std::printf("%-16s %-7s %-9s %10s %12s %13s %9s %8s %9s\n", "kind", "path", "result", "wall", "host CPU",
                "CPU per MiB", "transfers", "packets", "per comp.");
    bool ok = true;
    for (const Kind& kind : {kCombinedTunnel, kOlderNative})
        for (bool usb : {true, false}) ok = MeasureUpdate(kind, usb) && ok;
    return ok ? 0 : 1;
}
