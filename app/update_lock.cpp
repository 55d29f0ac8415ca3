#include "app/update_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>

namespace {

// "quillon-cli 1234\n"
std::string HolderLine(std::string_view program) {
    return std::string(program) + " " + std::to_string(getpid()) + "\n";
}

UpdateLockHolder ReadHolder(int fd) {
    std::array<char, 128> buffer{};
    const ssize_t n = pread(fd, buffer.data(), buffer.size() - 1, 0);
    UpdateLockHolder holder;
    if (n <= 0) return holder;
    const std::string_view text(buffer.data(), static_cast<std::size_t>(n));
    const std::size_t space = text.find(' ');
    if (space == std::string_view::npos) return holder;
    holder.program = std::string(text.substr(0, space));
    const std::string_view number = text.substr(space + 1);
    std::from_chars(number.data(), number.data() + number.size(), holder.pid);
    return holder;
}

}  // namespace

std::string UpdateLockHolder::Description() const {
    if (program.empty()) return "another updater";
    return program + " (process " + std::to_string(pid) + ")";
}

UpdateLock::UpdateLock(const std::string& folder, std::string_view program) {
    const std::string path = folder + kUpdateLockFileName;
    // Readable and writable by all who may update from this folder: a file
    // another user created stays lockable, and flock needs no write access.
    fd_ = UniqueFd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    bool writable = true;
    if (!fd_ && errno == EACCES) {
        fd_ = UniqueFd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        writable = false;
    }
    if (!fd_) {
        failure_ = SystemFailure{"open " + path, errno};
        return;
    }
    if (flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            holder_ = ReadHolder(fd_.get());
            return;
        }
        failure_ = SystemFailure{"flock " + path, errno};
        fd_.Close();
        return;
    }
    held_ = true;
    if (!writable) return;
    // Who runs the update, for the others' messages; the lock works without it.
    const std::string line = HolderLine(program);
    if (ftruncate(fd_.get(), 0) == 0) (void)!pwrite(fd_.get(), line.data(), line.size(), 0);
}
