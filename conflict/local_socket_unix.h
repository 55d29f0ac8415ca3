#pragma once
// The local connection on Linux: a UNIX stream socket at a path derived from
// the pipe name.
//
// The path is DIR + "/" + the part of the name after its last "/" (the whole
// name when it has none). DIR is $QUILLON_PIPE_DIR when set, else
// $XDG_RUNTIME_DIR, else "/tmp". The table's two pipes "Tintorra 7" and
// "Scanvell" are thus, for a user with XDG_RUNTIME_DIR=/run/user/1000,
// "/run/user/1000/Tintorra 7" and "/run/user/1000/Scanvell". A receiving
// program listens there and reads the request as a byte stream.
//
// Connect never blocks: a receiver whose backlog is full (it does not accept)
// is tried again, through the clock, for up to 1 s and then given up, so that
// it cannot hold the update thread.
//
// A failed connect or send is noted as this thread's system failure
// (common/system_failure.h), "connect /run/user/1000/Scanvell" with its errno;
// each Connect and Write forgets an earlier note as it starts.
#include <string>

#include "common/unique_fd.h"
#include "conflict/local_socket.h"

// The directory in which local pipes live (see above).
std::string LocalPipeDirectory();
// The socket path for a pipe name.
std::string LocalPipePath(const std::string& pipeName);

class LocalSocketUnix final : public LocalSocket {
public:
    explicit LocalSocketUnix(std::string name);
    ~LocalSocketUnix() override = default;

    bool Connect() override;
    void Close() override;
    bool Read(void* data, std::size_t length) override;
    bool Write(const void* data, std::size_t length) override;
    bool WaitForData(std::int32_t timeoutMs, bool* timedOut = nullptr) override;
    std::int32_t BytesAvailable() override;
    bool IsOpen() const override { return static_cast<bool>(fd_); }

    const std::string& socketPath() const { return socketPath_; }

private:
    // Notes the failed call on the socket's path as this thread's system failure; returns false.
    bool NoteFailure(const char* call) const;

    std::string socketPath_;
    UniqueFd fd_;
};
