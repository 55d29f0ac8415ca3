#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "common/system_failure.h"

namespace {

std::string DirectoryToSync(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string path) : path_(std::move(path)) {
    ClearSystemFailure();
    // A name unique to this process and call, beside the target so that the
    // rename stays on one file system; O_EXCL never reuses a leftover file.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100 && !fd_; ++attempt) {
        temp_ = path_ + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        fd_ = UniqueFd(open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!fd_ && errno != EEXIST) break;
    }
    if (!fd_) {
        temp_.clear();
        Fail("cannot create a file beside it", "cannot create a file beside");
    }
}

AtomicFileWriter::~AtomicFileWriter() {
    if (!committed_ && !temp_.empty()) {
        fd_.Close();
        unlink(temp_.c_str());
    }
}

bool AtomicFileWriter::Fail(const char* what, const char* operation) {
    const int error = errno;
    if (fault_.empty()) {
        fault_ = std::string(what) + ": " + std::strerror(error);
        NoteSystemFailure(std::string(operation != nullptr ? operation : what) + " " + path_, error);
    }
    return false;
}

bool AtomicFileWriter::Write(std::span<const std::uint8_t> bytes) {
    if (!Ok()) return false;
    while (!bytes.empty()) {
        const ssize_t n = write(fd_.get(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Fail("cannot write");
        if (n == 0) {
            errno = EIO;
            return Fail("cannot write");
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

bool AtomicFileWriter::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (!Ok()) return false;
    while (!bytes.empty()) {
        const ssize_t n = pwrite(fd_.get(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Fail("cannot write");
        bytes = bytes.subspan(static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool AtomicFileWriter::Commit() {
    if (!Ok()) return false;
    KeepOwner();
    if (fsync(fd_.get()) != 0) return Fail("cannot flush");
    if (!fd_.Close()) return Fail("cannot close");
    if (rename(temp_.c_str(), path_.c_str()) != 0) return Fail("cannot replace");
    committed_ = true;
    // The rename is durable once the directory is flushed. Some file systems
    // cannot flush a directory; the file is in place all the same.
    UniqueFd dir(open(DirectoryToSync(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) fsync(dir.get());
    return true;
}

void AtomicFileWriter::KeepOwner() {
    struct stat old {};
    struct stat mine {};
    if (lstat(path_.c_str(), &old) != 0 || !S_ISREG(old.st_mode) || fstat(fd_.get(), &mine) != 0) return;
    if (mine.st_uid == old.st_uid && mine.st_gid == old.st_gid) return;
    // Only root may give a file away; anyone else's new file is theirs, as is
    // the folder it is in. Not a reason to keep the old contents either way.
    if (fchown(fd_.get(), old.st_uid, old.st_gid) != 0) return;
}

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, std::string* fault) {
    AtomicFileWriter writer(path);
    const bool ok = writer.Write(bytes) && writer.Commit();
    if (!ok && fault != nullptr) *fault = writer.Fault();
    return ok;
}
