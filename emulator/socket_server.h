#pragma once
// Serves one Monitor over the UNIX-socket device contract: one SOCK_SEQPACKET
// socket per plug-in, named DIR/VID_XXXX&PID_XXXX#NNNN, uhid messages on it.
// It carries the monitor's departures out: on a restart or a power loss it
// unplugs, waits the monitor's off time on the clock and plugs in anew.
#include <atomic>
#include <string>
#include <vector>

#include "common/unique_fd.h"
#include "emulator/device_transport.h"
#include "emulator/monitor.h"

class SocketServer final : public DeviceTransport {
public:
    SocketServer(Monitor& monitor, std::string dir);
    ~SocketServer() override;  // unplugs
    SocketServer(const SocketServer&) = delete;
    SocketServer& operator=(const SocketServer&) = delete;

    // Binds and listens under a new name; false with `fault` set when it cannot.
    bool PlugIn(std::string* fault) override;
    // Sends UHID_DESTROY on every connection, closes them and removes the socket file.
    void Unplug();

    // The socket file of the current plug-in; empty while unplugged.
    const std::string& Path() const { return path_; }
    // False once the monitor left for good (a restart it never comes back from).
    bool Present() const { return present_; }

    // Serves what is ready, waiting up to timeoutMs (-1: without limit) for
    // something to happen or for `wakeFd` (when not -1) to become readable.
    void ServeOnce(int timeoutMs, int wakeFd = -1);
    // Serves until `stop` is set; `wakeFd` is made readable when it is.
    void Run(const std::atomic<bool>& stop, int wakeFd) override;
    std::string Where() const override { return path_; }

private:
    void Accept();
    // False when the connection is to be closed.
    bool Serve(int fd);
    void AfterTransfer(const std::atomic<bool>* stop);

    Monitor& monitor_;
    std::string dir_;
    std::string path_;
    UniqueFd listener_;
    std::vector<UniqueFd> connections_;
    bool present_ = true;
    const std::atomic<bool>* stop_ = nullptr;
};
