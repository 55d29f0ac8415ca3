#include "emulator/stale_sockets.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/unique_fd.h"

void RemoveStaleSockets(const std::string& dir) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("VID_", 0) != 0 || !entry.is_socket(ec)) continue;
        const std::string path = entry.path().string();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) continue;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        if (fd && ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
            errno == ECONNREFUSED) {
            std::filesystem::remove(entry.path(), ec);
        }
    }
}
