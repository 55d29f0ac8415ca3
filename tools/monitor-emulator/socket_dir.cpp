#include "tools/monitor-emulator/socket_dir.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

bool MakeSocketDir(const std::string& dir, std::string& fault) {
    std::filesystem::path made;
    for (const std::filesystem::path& part : std::filesystem::path(dir)) {
        made /= part;
        if (part.empty() || part == "/") continue;  // the root, or a trailing slash
        if (::mkdir(made.c_str(), 0700) == 0 || errno == EEXIST) continue;
        fault = "cannot create the directory " + made.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
