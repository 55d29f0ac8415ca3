#include "emulator/socket_server.h"

#include <linux/uhid.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/clock.h"
#include "emulator/uhid_messages.h"

namespace {

// Suffixes differ between plug-ins of this process and, by their start, between processes.
std::atomic<unsigned> nextSuffix{static_cast<unsigned>(::getpid()) * 7919u};

bool SendEvent(int fd, const uhid_event& event) {
    return ::send(fd, &event, sizeof event, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof event);
}

}  // namespace

SocketServer::SocketServer(Monitor& monitor, std::string dir) : monitor_(monitor), dir_(std::move(dir)) {}

SocketServer::~SocketServer() { Unplug(); }

bool SocketServer::PlugIn(std::string* fault) {
    const InterfaceAttributes attributes = monitor_.Attributes();
    // Non-blocking, so that accepting stops when no connection is waiting.
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        if (fault) *fault = std::string("cannot create a socket: ") + std::strerror(errno);
        return false;
    }
    for (int attempt = 0; attempt < 0x10000; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, "VID_%04X&PID_%04X#%04X", attributes.vendor, attributes.product,
                      nextSuffix.fetch_add(1) & 0xFFFF);
        const std::string path = dir_ + "/" + name;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) {
            if (fault) *fault = "the socket path is too long: " + path;
            return false;
        }
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            if (::listen(fd.get(), 16) != 0) {
                if (fault) *fault = std::string("cannot listen: ") + std::strerror(errno);
                ::unlink(path.c_str());
                return false;
            }
            listener_ = std::move(fd);
            path_ = path;
            return true;
        }
        if (errno != EADDRINUSE) {
            if (fault) *fault = "cannot bind " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    if (fault) *fault = "no free device name in " + dir_;
    return false;
}

void SocketServer::Unplug() {
    auto event = std::make_unique<uhid_event>();
    event->type = UHID_DESTROY;
    for (auto& connection : connections_) SendEvent(connection.get(), *event);
    connections_.clear();
    if (!path_.empty()) ::unlink(path_.c_str());
    path_.clear();
    listener_.Close();
}

void SocketServer::Accept() {
    for (;;) {
        UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd) return;
        auto event = std::make_unique<uhid_event>();
        FillCreate2(monitor_, *event);
        if (SendEvent(fd.get(), *event)) connections_.push_back(std::move(fd));
    }
}

bool SocketServer::Serve(int fd) {
    auto request = std::make_unique<uhid_event>();
    const ssize_t got = ::recv(fd, request.get(), sizeof *request, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (got != static_cast<ssize_t>(sizeof *request)) return false;  // closed, or not a whole message
    auto reply = std::make_unique<uhid_event>();
    return !AnswerRequest(monitor_, *request, *reply) || SendEvent(fd, *reply);
}

void SocketServer::AfterTransfer(const std::atomic<bool>* stop) {
    const std::optional<Departure> departure = monitor_.TakeDeparture();
    if (!departure) return;
    Unplug();
    if (!WaitOffTheBus(*departure, stop)) {
        present_ = departure->comesBack;  // a stop during the wait is no failure to come back
        return;
    }
    monitor_.PlugIn();
    std::string fault;
    if (!PlugIn(&fault)) {
        std::fprintf(stderr, "monitor-emulator: %s\n", fault.c_str());
        present_ = false;
    }
}

void SocketServer::ServeOnce(int timeoutMs, int wakeFd) {
    std::vector<pollfd> fds;
    if (listener_) fds.push_back({listener_.get(), POLLIN, 0});
    for (const auto& connection : connections_) fds.push_back({connection.get(), POLLIN, 0});
    if (wakeFd >= 0) fds.push_back({wakeFd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), timeoutMs) <= 0) return;

    std::vector<int> closing;
    for (const pollfd& p : fds) {
        if (p.revents == 0 || p.fd == wakeFd) continue;
        if (p.fd == listener_.get()) {
            Accept();
            continue;
        }
        if (!Serve(p.fd)) closing.push_back(p.fd);
        if (!monitor_.PluggedIn()) break;  // the monitor left: the rest of the connections go with it
    }
    std::erase_if(connections_, [&](const UniqueFd& c) {
        return std::find(closing.begin(), closing.end(), c.get()) != closing.end();
    });
    AfterTransfer(stop_);
}

void SocketServer::Run(const std::atomic<bool>& stop, int wakeFd) {
    stop_ = &stop;
    while (!stop.load()) ServeOnce(-1, wakeFd);
    stop_ = nullptr;
    Unplug();
}
