#include "app/update_lock.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <utility>

#include "app/update_lock_testing.h"

namespace {

constexpr char kMachineLockName[] = "quillon-update-lock";

struct AbstractAddress {
    sockaddr_un address{};
    socklen_t length = 0;
};

// The name in the abstract namespace: a sun_path that starts with a zero byte
// and is as long as the name, with no terminating zero.
AbstractAddress AddressOf(const std::string& name) {
    AbstractAddress result;
    result.address.sun_family = AF_UNIX;
    const std::size_t length = std::min(name.size(), sizeof(result.address.sun_path) - 1);
    std::memcpy(result.address.sun_path + 1, name.data(), length);
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    return result;
}

// The program's name as the kernel keeps it; empty when the process is gone.
std::string ProgramOf(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string program;
    std::getline(comm, program);
    return program;
}

}  // namespace

std::string UpdateLockHolder::Description() const {
    if (program.empty()) return "another updater";
    return program + " (process " + std::to_string(pid) + ")";
}

std::string UpdateLockName() {
    const std::string& test = TestUpdateLockName();
    return test.empty() ? kMachineLockName : test;
}

// Never destroyed: a test that ends its process with exit() runs the static
// destructors before the test environments that put the name back.
std::string& TestUpdateLockName() {
    static std::string* const name = new std::string;
    return *name;
}

std::optional<UpdateLockHolder> RunningUpdate(const std::string& name) {
    // Non-blocking: a holder whose queue of connections is full is not waited for.
    const UniqueFd client(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!client) return std::nullopt;
    const AbstractAddress to = AddressOf(name);
    if (connect(client.get(), reinterpret_cast<const sockaddr*>(&to.address), to.length) != 0)
        // Nobody listens (ECONNREFUSED), or somebody does whose queue is full.
        return errno == EAGAIN ? std::optional(UpdateLockHolder{}) : std::nullopt;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(client.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.pid <= 0) return UpdateLockHolder{};
    return UpdateLockHolder{ProgramOf(peer.pid), peer.pid};
}

UpdateLock::UpdateLock(const std::string& name) {
    const AbstractAddress address = AddressOf(name);
    // A second try when the holder went between the bind and the look.
    for (int attempt = 0; attempt < 2; ++attempt) {
        socket_ = UniqueFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!socket_) {
            failure_ = SystemFailure{"socket for the update lock", errno};
            return;
        }
        if (bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address.address), address.length) == 0) break;
        const int error = errno;
        socket_.Close();
        if (error != EADDRINUSE) {
            failure_ = SystemFailure{"bind the update lock @" + name, error};
            return;
        }
        if ((holder_ = RunningUpdate(name))) return;
    }
    if (!socket_) {
        holder_ = UpdateLockHolder{};  // bound twice by somebody who never listened
        return;
    }
    // Listening lets the others connect and learn who holds it; nothing is
    // accepted. Without it the lock is held all the same, only its holder unnamed.
    (void)listen(socket_.get(), SOMAXCONN);
}
