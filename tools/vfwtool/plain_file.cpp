#include "tools/vfwtool/plain_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/unique_fd.h"

namespace {

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadPlainFile(const std::string& path, std::string& fault) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        fault = ErrnoText("cannot open");
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[1 << 16];
    for (;;) {
        const ssize_t n = read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            fault = ErrnoText("cannot read");
            return std::nullopt;
        }
        if (n == 0) return bytes;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
}
