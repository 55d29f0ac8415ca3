#include "common/executable_dir.h"

#include <unistd.h>

#include <vector>

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::optional<std::string> ExecutableDirectory() {
    // readlink does not say how long the target is, so grow the buffer until it fits.
    for (std::size_t size = 256; size <= 65536; size *= 2) {
        std::vector<char> buffer(size);
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return std::nullopt;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            const std::string dir = DirectoryOf(std::string(buffer.data(), static_cast<std::size_t>(n)));
            if (dir.empty()) return std::nullopt;
            return dir;
        }
    }
    return std::nullopt;
}
