// monitor-emulator: emulated monitors on the UNIX-socket device contract, /dev/uhid or USB/IP.
#include <signal.h>
#include <sys/eventfd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include "common/atomic_file.h"
#include "common/unique_fd.h"
#include "emulator/monitor.h"
#include "tools/monitor-emulator/options.h"
#include "emulator/socket_server.h"
#include "emulator/stale_sockets.h"
#include "emulator/uhid_device.h"
#include "emulator/usbip_device.h"
#include "emulator/vhci_hcd.h"
#include "tools/monitor-emulator/socket_dir.h"
#include "tools/monitor-emulator/usbip_access.h"

namespace {

constexpr const char* kUhidPath = "/dev/uhid";

int WriteImage(const ImageOptions& options) {
    const ComponentArea& area = ComponentAreas()[*FindComponentArea(options.component)];
    const auto image = MakeImage(area, options.version, options.length.value_or(area.Capacity()), options.version);
    std::string fault;
    if (!WriteFileAtomically(options.output, image, &fault)) {
        std::fprintf(stderr, "monitor-emulator: %s: %s\n", options.output.c_str(), fault.c_str());
        return 1;
    }
    return 0;
}

struct Served {
    std::unique_ptr<FileLog> log;
    std::unique_ptr<Monitor> monitor;
    std::unique_ptr<DeviceTransport> server;
};

int Serve(const ServeOptions& options) {
    // SIGTERM and SIGINT are taken by sigwait below, never by a handler.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    VhciHcd vhci;
    if (options.usbip) {
        if (const std::string problem = UsbipUnavailable(vhci); !problem.empty()) {
            std::fprintf(stderr, "monitor-emulator: %s\n", problem.c_str());
            return 1;
        }
    } else if (!options.uhid) {
        std::string fault;
        if (!MakeSocketDir(options.dir, fault)) {
            std::fprintf(stderr, "monitor-emulator: %s\n", fault.c_str());
            return 1;
        }
        RemoveStaleSockets(options.dir);
    }
    std::vector<Served> served;
    for (const MonitorOptions& m : options.monitors) {
        Served s;
        s.monitor = std::make_unique<Monitor>(m.config);
        if (!s.monitor->StartupFault().empty()) {
            std::fprintf(stderr, "monitor-emulator: %s: %s\n", m.config.statePath.c_str(),
                         s.monitor->StartupFault().c_str());
            return 1;
        }
        if (!m.logPath.empty()) {
            s.log = std::make_unique<FileLog>(m.logPath);
            if (!s.log->Ok()) {
                std::fprintf(stderr, "monitor-emulator: cannot open the log %s\n", m.logPath.c_str());
                return 1;
            }
            s.monitor->SetLog(s.log.get());
        }
        std::string fault;
        if (options.uhid) {
            UniqueFd uhid = UhidDevice::Open(kUhidPath, &fault);
            if (!uhid) {
                std::fprintf(stderr, "monitor-emulator: %s\n", fault.c_str());
                return 1;
            }
            s.server = std::make_unique<UhidDevice>(*s.monitor, std::move(uhid));
        } else if (options.usbip) {
            s.server = std::make_unique<UsbipDevice>(*s.monitor, vhci);
        } else {
            s.server = std::make_unique<SocketServer>(*s.monitor, options.dir);
        }
        if (!s.server->PlugIn(&fault)) {
            std::fprintf(stderr, "monitor-emulator: %s\n", fault.c_str());
            return 1;
        }
        std::printf("%s\n", s.server->Where().c_str());
        served.push_back(std::move(s));
    }
    std::fflush(stdout);

    std::atomic<bool> stop{false};
    const UniqueFd wake(::eventfd(0, EFD_CLOEXEC));
    std::vector<std::thread> threads;
    for (Served& s : served) threads.emplace_back([&stop, &wake, &s] { s.server->Run(stop, wake.get()); });

    int signal = 0;
    sigwait(&signals, &signal);
    stop.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake.get(), &one, sizeof one);
    for (std::thread& thread : threads) thread.join();
    return 0;  // each server unplugged its monitor on the way out
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!line) {
        std::fprintf(stderr, "monitor-emulator: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (line->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (line->image) return WriteImage(*line->image);
    return Serve(*line->serve);
}
