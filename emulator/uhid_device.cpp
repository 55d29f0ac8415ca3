#include "emulator/uhid_device.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/clock.h"
#include "emulator/uhid_messages.h"

namespace {
bool WriteEvent(int fd, const uhid_event& event) {
    return ::write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}
}  // namespace

UhidDevice::UhidDevice(Monitor& monitor, UniqueFd uhid) : monitor_(monitor), uhid_(std::move(uhid)) {}

UhidDevice::~UhidDevice() { Unplug(); }

UniqueFd UhidDevice::Open(const std::string& path, std::string* fault) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd && fault != nullptr) *fault = "cannot open " + path + ": " + std::strerror(errno);
    return fd;
}

bool UhidDevice::PlugIn(std::string* fault) {
    auto event = std::make_unique<uhid_event>();
    FillCreate2(monitor_, *event);
    if (!uhid_ || !WriteEvent(uhid_.get(), *event)) {
        if (fault != nullptr) *fault = std::string("cannot create the uhid device: ") + std::strerror(errno);
        return false;
    }
    created_ = true;
    return true;
}

void UhidDevice::Unplug() {
    if (!created_) return;
    auto event = std::make_unique<uhid_event>();
    event->type = UHID_DESTROY;
    WriteEvent(uhid_.get(), *event);
    created_ = false;
}

std::string UhidDevice::Where() const {
    const InterfaceAttributes a = monitor_.Attributes();
    char text[48];
    std::snprintf(text, sizeof text, "uhid VID_%04X&PID_%04X", a.vendor, a.product);
    return text;
}

void UhidDevice::ServeOnce(int timeoutMs, int wakeFd) {
    pollfd fds[2] = {{uhid_.get(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (::poll(fds, wakeFd >= 0 ? 2 : 1, timeoutMs) <= 0 || (fds[0].revents & POLLIN) == 0) return;
    auto request = std::make_unique<uhid_event>();
    if (::read(uhid_.get(), request.get(), sizeof *request) <= 0) return;
    auto reply = std::make_unique<uhid_event>();
    const bool answered = AnswerRequest(monitor_, *request, *reply) && WriteEvent(uhid_.get(), *reply);

    const std::optional<Departure> departure = monitor_.TakeDeparture();
    if (!departure) return;
    if (answered) SleepMs(kUhidAnswerBeforeDepartureMs);
    Unplug();
    if (!WaitOffTheBus(*departure, stop_)) {
        present_ = departure->comesBack;
        return;
    }
    monitor_.PlugIn();
    std::string fault;
    if (!PlugIn(&fault)) {
        std::fprintf(stderr, "monitor-emulator: %s\n", fault.c_str());
        present_ = false;
    }
}

void UhidDevice::Run(const std::atomic<bool>& stop, int wakeFd) {
    stop_ = &stop;
    while (!stop.load()) ServeOnce(-1, wakeFd);
    stop_ = nullptr;
    Unplug();
}
