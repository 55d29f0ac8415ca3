#include "app/record_file_move.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "common/atomic_file.h"
#include "common/unique_fd.h"

namespace {

// A backup record is a few hundred bytes; anything far larger is not one.
constexpr off_t kLargestRecord = 1 << 20;

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void FlushFolder(const std::string& path) {
    // Some file systems cannot flush a folder; the change is made all the same.
    UniqueFd folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder) ::fsync(folder.get());
}

// The bytes of a regular file; never follows a link nor waits on a FIFO.
std::optional<std::vector<std::uint8_t>> ReadRegularFile(const std::string& path, std::optional<SystemFailure>& failure) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        failure = SystemFailure{"open " + path, errno};
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        failure = SystemFailure{"stat " + path, errno};
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode) || st.st_size > kLargestRecord) {
        failure = SystemFailure{"read " + path + " (not a regular file of a record's size)", EINVAL};
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failure = SystemFailure{"read " + path, n < 0 ? errno : EIO};
            return std::nullopt;
        }
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

}  // namespace

std::optional<SystemFailure> CopyThenRemove(const std::string& from, const std::string& to) {
    std::optional<SystemFailure> failure;
    const std::optional<std::vector<std::uint8_t>> bytes = ReadRegularFile(from, failure);
    if (!bytes) return failure;
    std::string fault;
    if (!WriteFileAtomically(to, *bytes, &fault)) {
        const std::optional<SystemFailure> noted = TakeSystemFailure();
        return noted.value_or(SystemFailure{"write " + to + " (" + fault + ")", EIO});
    }
    if (::unlink(from.c_str()) != 0) return SystemFailure{"unlink " + from, errno};
    FlushFolder(from);
    return std::nullopt;
}

std::optional<SystemFailure> MoveRecordFile(const std::string& from, const std::string& to) {
    // Only a regular file is moved: whatever else is in the record's place stays.
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return SystemFailure{"stat " + from, errno};
    if (!S_ISREG(st.st_mode)) return SystemFailure{"move " + from + " (not a regular file)", EINVAL};
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        FlushFolder(to);
        FlushFolder(from);
        return std::nullopt;
    }
    if (errno == EEXIST) return SystemFailure{"move " + from + " to " + to, EEXIST};
    // Another file system, or one without the no-replace rename.
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS) return SystemFailure{"rename " + from + " to " + to, errno};
    if (::access(to.c_str(), F_OK) == 0) return SystemFailure{"move " + from + " to " + to, EEXIST};
    return CopyThenRemove(from, to);
}

bool SameRegularFileContents(const std::string& a, const std::string& b) {
    std::optional<SystemFailure> ignored;
    const std::optional<std::vector<std::uint8_t>> first = ReadRegularFile(a, ignored);
    if (!first) return false;
    const std::optional<std::vector<std::uint8_t>> second = ReadRegularFile(b, ignored);
    return second && *first == *second;
}
