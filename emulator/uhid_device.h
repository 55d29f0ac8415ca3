#pragma once
// Serves one Monitor through the kernel's /dev/uhid, where it appears as a
// real hidraw device. The messages are those of the socket contract; a
// restart is UHID_DESTROY, the off time, and UHID_CREATE2 on the same handle.
#include <atomic>
#include <cstdint>
#include <string>

#include "common/unique_fd.h"
#include "emulator/device_transport.h"

// How long a restarting monitor stays after its answer. The kernel fails a
// request whose device is destroyed before the waiting host has taken the
// answer, so the answer to the restart command must get there first.
inline constexpr std::uint32_t kUhidAnswerBeforeDepartureMs = 100;

class UhidDevice final : public DeviceTransport {
public:
    // `uhid` is an open /dev/uhid, or in tests one end of a SOCK_SEQPACKET pair.
    UhidDevice(Monitor& monitor, UniqueFd uhid);
    ~UhidDevice() override;  // unplugs
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    // Opens the uhid device file for reading and writing; an invalid fd with
    // `fault` set when the kernel does not offer it or it is not permitted.
    static UniqueFd Open(const std::string& path, std::string* fault);

    bool PlugIn(std::string* fault) override;
    void Unplug();
    void ServeOnce(int timeoutMs, int wakeFd = -1);
    void Run(const std::atomic<bool>& stop, int wakeFd) override;
    std::string Where() const override;
    bool Present() const { return present_; }

private:
    Monitor& monitor_;
    UniqueFd uhid_;
    bool created_ = false;
    bool present_ = true;
    const std::atomic<bool>* stop_ = nullptr;
};
