#include "conflict/local_socket_unix.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/clock.h"
#include "common/system_failure.h"

namespace {

// A receiver whose backlog is full and that never accepts must not hold the
// update thread: the connect is given up after this long.
constexpr std::uint64_t kConnectLimitMs = 1000;
constexpr std::uint32_t kConnectRetryMs = 10;

// Errors that mean the peer has gone: the connection is closed.
bool PeerGone(int error) { return error == EPIPE || error == ECONNRESET || error == ENOTCONN; }

}  // namespace

std::string LocalPipeDirectory() {
    for (const char* variable : {"QUILLON_PIPE_DIR", "XDG_RUNTIME_DIR"}) {
        const char* dir = std::getenv(variable);
        if (dir != nullptr && dir[0] != '\0') return dir;
    }
    return "/tmp";
}

std::string LocalPipePath(const std::string& pipeName) {
    const auto slash = pipeName.rfind('/');
    return LocalPipeDirectory() + "/" + (slash == std::string::npos ? pipeName : pipeName.substr(slash + 1));
}

LocalSocketUnix::LocalSocketUnix(std::string name) : LocalSocket(std::move(name)), socketPath_(LocalPipePath(this->name())) {}

bool LocalSocketUnix::Connect() {
    ClearSystemFailure();
    if (IsOpen()) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath_.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
    // Non-blocking, so that a full backlog answers EAGAIN at once instead of
    // waiting for the receiver to accept.
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return NoteFailure("socket");
    const std::uint64_t start = NowMs();
    while (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN || NowMs() - start >= kConnectLimitMs) return NoteFailure("connect");
        SleepMs(kConnectRetryMs);
    }
    // Reads and writes block as before: the quit request is far smaller than the socket's buffer.
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return NoteFailure("fcntl");
    fd_ = std::move(fd);
    return true;
}

bool LocalSocketUnix::NoteFailure(const char* call) const {
    const int error = errno;
    NoteSystemFailure(std::string(call) + " " + socketPath_, error);
    return false;
}

void LocalSocketUnix::Close() { fd_.Close(); }

bool LocalSocketUnix::Write(const void* data, std::size_t length) {
    ClearSystemFailure();
    if (!IsOpen()) return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < length) {
        // MSG_NOSIGNAL: a vanished peer is an error result, not a SIGPIPE.
        const ssize_t n = send(fd_.get(), bytes + done, length - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            NoteFailure("send");
            if (PeerGone(error)) Close();
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool LocalSocketUnix::Read(void* data, std::size_t length) {
    if (!IsOpen()) return false;
    auto* bytes = static_cast<std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = recv(fd_.get(), bytes + done, length - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (n < 0 && PeerGone(errno))) {  // the peer closed its end
            Close();
            return false;
        }
        if (n < 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::int32_t LocalSocketUnix::BytesAvailable() {
    if (!IsOpen()) return -1;
    int available = 0;
    if (ioctl(fd_.get(), FIONREAD, &available) != 0) {
        Close();
        return -1;
    }
    return available;
}

bool LocalSocketUnix::WaitForData(std::int32_t timeoutMs, bool* timedOut) {
    if (!IsOpen()) return false;
    const std::uint64_t start = NowMs();
    for (;;) {
        if (BytesAvailable() > 0) {
            if (timedOut != nullptr) *timedOut = false;
            return true;
        }
        if (!IsOpen()) return false;  // the connection failed while polling
        if (timeoutMs >= 0 && NowMs() - start >= static_cast<std::uint64_t>(timeoutMs)) {
            if (timedOut != nullptr) *timedOut = true;
            return false;
        }
        SleepMs(1);
    }
}
