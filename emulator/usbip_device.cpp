#include "emulator/usbip_device.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/clock.h"

namespace {

// The host submits one interrupt URB at a time; more than this is a broken host.
constexpr std::size_t kMaxPendingInterrupt = 16;
constexpr std::uint32_t kInterruptEndpointNumber = kInterruptInEndpoint & 0x0F;
constexpr std::uint32_t kReadWaitMs = 50;

}  // namespace

UsbipDevice::UsbipDevice(Monitor& monitor, VhciHcd& vhci) : monitor_(monitor), vhci_(vhci) {}

UsbipDevice::~UsbipDevice() { Unplug(); }

bool UsbipDevice::PlugIn(std::string* fault) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        if (fault) *fault = std::string("cannot create a socket pair: ") + std::strerror(errno);
        return false;
    }
    UniqueFd ours(fds[0]);
    const UniqueFd kernels(fds[1]);  // closed on return: the kernel keeps its own reference
    // Made before the kernel starts asking for them.
    function_.emplace(monitor_);
    const std::optional<int> port = vhci_.Attach(kernels, fault);
    if (!port) return false;
    connection_ = std::move(ours);
    port_ = *port;
    received_.clear();
    header_.reset();
    pendingInterrupt_.clear();
    return true;
}

void UsbipDevice::WaitUntilRead() {
    for (std::uint32_t waited = 0; waited < kReadWaitMs; ++waited) {
        int unread = 0;
        if (::ioctl(connection_.get(), SIOCOUTQ, &unread) != 0 || unread == 0) return;
        SleepMs(1);
    }
}

void UsbipDevice::Unplug() {
    if (!connection_) return;
    WaitUntilRead();
    Disconnected("", true);
}

void UsbipDevice::Disconnected(const std::string& why, bool detach) {
    if (!why.empty()) std::fprintf(stderr, "monitor-emulator: usbip port %d: %s\n", port_, why.c_str());
    std::string fault;
    if (detach && !vhci_.Detach(port_, &fault)) std::fprintf(stderr, "monitor-emulator: %s\n", fault.c_str());
    connection_.Close();
    port_ = -1;
    received_.clear();
    header_.reset();
    pendingInterrupt_.clear();
}

std::string UsbipDevice::Where() const {
    const InterfaceAttributes a = monitor_.Attributes();
    char text[64];
    std::snprintf(text, sizeof text, "usbip port %d (VID_%04X&PID_%04X)", port_, a.vendor, a.product);
    return text;
}

std::size_t UsbipDevice::Missing() const {
    const std::size_t whole = usbip::kHeaderSize + (header_ ? header_->DataLength() : 0);
    return whole - received_.size();
}

bool UsbipDevice::Send(const std::array<std::uint8_t, usbip::kHeaderSize>& header, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> message(header.begin(), header.end());
    message.insert(message.end(), data.begin(), data.end());
    for (std::size_t sent = 0; sent < message.size();) {
        const ssize_t n = ::send(connection_.get(), message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool UsbipDevice::Answer(const usbip::Request& request, const std::vector<std::uint8_t>& data) {
    if (request.command == usbip::kCmdUnlink) {
        // A URB still pending is dropped and never answered; one answered already
        // (every control transfer is answered at once) has nothing left to unlink.
        const auto pending = std::find_if(pendingInterrupt_.begin(), pendingInterrupt_.end(),
                                          [&](const usbip::Request& r) { return r.seqnum == request.unlinkSeqnum; });
        const bool wasPending = pending != pendingInterrupt_.end();
        if (wasPending) pendingInterrupt_.erase(pending);
        return Send(usbip::RetUnlink(request, wasPending ? usbip::kStatusUnlinked : 0));
    }
    if (request.ep == 0) {
        const std::optional<ControlAnswer> answer = function_->Control(request.setup, data);
        if (!answer) return true;  // the monitor lost power: no answer, the departure follows
        if (request.direction == usbip::kIn) {
            return Send(usbip::RetSubmit(request, answer->status, static_cast<std::int32_t>(answer->data.size())),
                        answer->data);
        }
        return Send(usbip::RetSubmit(request, answer->status, answer->status == 0 ? request.transferLength : 0));
    }
    if (request.ep == kInterruptEndpointNumber && request.direction == usbip::kIn &&
        pendingInterrupt_.size() < kMaxPendingInterrupt) {
        pendingInterrupt_.push_back(request);  // no input reports: it waits for its unlink
        return true;
    }
    return Send(usbip::RetSubmit(request, usbip::kStatusStall, 0));
}

bool UsbipDevice::ReceiveAndAnswer() {
    for (;;) {
        const std::size_t missing = Missing();
        const std::size_t had = received_.size();
        received_.resize(had + missing);
        const ssize_t n = ::recv(connection_.get(), received_.data() + had, missing, MSG_DONTWAIT);
        received_.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n < 0) {
            Disconnected(std::string("cannot read from vhci_hcd: ") + std::strerror(errno), true);
            return false;
        }
        if (n == 0) {
            // The kernel shuts the socket when the port is detached, by us or by anyone.
            Disconnected(received_.empty() ? "vhci_hcd closed the connection (the port was detached)"
                                           : "the connection ended in the middle of a USB/IP message",
                         false);
            return false;
        }
        if (!header_ && received_.size() == usbip::kHeaderSize) {
            std::string fault;
            header_ = usbip::ParseRequest(std::span<const std::uint8_t, usbip::kHeaderSize>(received_.data(),
                                                                                          usbip::kHeaderSize),
                                          &fault);
            if (!header_) {
                Disconnected(fault + ": not a USB/IP stream any more; detaching", true);
                return false;
            }
        }
        if (!header_ || Missing() != 0) continue;

        const usbip::Request request = *std::exchange(header_, std::nullopt);
        const std::vector<std::uint8_t> data(received_.begin() + usbip::kHeaderSize, received_.end());
        received_.clear();
        if (!Answer(request, data)) {
            Disconnected(std::string("cannot write to vhci_hcd: ") + std::strerror(errno), true);
            return false;
        }
        if (AfterTransfer()) return static_cast<bool>(connection_);  // this connection is over
    }
}

bool UsbipDevice::AfterTransfer() {
    const std::optional<Departure> departure = monitor_.TakeDeparture();
    if (!departure) return false;
    Unplug();
    if (!WaitOffTheBus(*departure, stop_)) return true;
    monitor_.PlugIn();
    std::string fault;
    if (!PlugIn(&fault)) std::fprintf(stderr, "monitor-emulator: %s\n", fault.c_str());
    return true;
}

void UsbipDevice::ServeOnce(int timeoutMs, int wakeFd) {
    if (!connection_) return;
    pollfd fds[2] = {{connection_.get(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (::poll(fds, wakeFd >= 0 ? 2 : 1, timeoutMs) <= 0 || fds[0].revents == 0) return;
    ReceiveAndAnswer();
}

void UsbipDevice::Run(const std::atomic<bool>& stop, int wakeFd) {
    stop_ = &stop;
    // Ends early when the device is gone for good: detached by someone, or a monitor that does not come back.
    while (!stop.load() && connection_) ServeOnce(-1, wakeFd);
    stop_ = nullptr;
    Unplug();
}
