#include "package/container.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "common/atomic_file.h"
#include "common/system_failure.h"
#include "common/unique_fd.h"

namespace {

// Files move through a buffer of this size: large enough for full-speed I/O,
// small enough that no second copy of a large payload is ever held.
constexpr std::size_t kChunk = 1 << 20;
static_assert(kChunk % 8 == 0);

// Makes room for a payload that is about to be read. A package of tens of MiB
// lands in fresh memory at every load, and touching it page by page cost more
// than decrypting it (each fault is dear on a virtual machine): the room is
// advised for huge pages before its first touch, so it faults in 2 MiB at a
// time. Advice only: where huge pages are off nothing changes.
void PrepareForLoad(std::vector<std::uint8_t>& bytes, std::size_t size) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    bytes.reserve(size);
    const auto start = reinterpret_cast<std::uintptr_t>(bytes.data());
    const std::uintptr_t begin = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (start + size) & ~(kHugePage - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    bytes.resize(size);
}

// The fault text of a failed call ("cannot read: Input/output error"); the call
// is noted as this thread's system failure too, with the file's path.
std::string ErrnoFault(const char* what, const std::string& path) {
    const int error = errno;
    NoteSystemFailure(std::string(what) + " " + path, error);
    return std::string(what) + ": " + std::strerror(error);
}

// Reads exactly `bytes.size()` bytes unless the file ends first; returns the count read.
std::optional<std::size_t> ReadFully(int fd, std::span<std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void SetFault(std::string* fault, std::string text) {
    if (fault != nullptr) *fault = std::move(text);
}

// Checks that an open file has the shape of a container and returns its payload length.
// Non-blocking: opening a FIFO would wait for a writer, and a device could wait
// too; the file is then refused as not a regular one. Reads of a regular file
// do not change with the flag.
UniqueFd OpenForReading(const std::string& path, FileLinks links, std::string& fault) {
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (links == FileLinks::Refuse ? O_NOFOLLOW : 0);
    UniqueFd fd(open(path.c_str(), flags));
    if (fd) return fd;
    if (links == FileLinks::Refuse && errno == ELOOP) {
        NoteSystemFailure("cannot open " + path + " (a symbolic link is not followed)", ELOOP);
        fault = "cannot open: a symbolic link, which is not followed";
    } else {
        fault = ErrnoFault("cannot open", path);
    }
    return fd;
}

const char* FileTypeName(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

std::optional<std::uint64_t> CheckShape(int fd, const std::string& path, Status& status, std::string* fault) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        status = kContainerCannotOpen;
        SetFault(fault, ErrnoFault("cannot read", path));
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        status = kContainerCannotOpen;
        const std::string type = FileTypeName(st.st_mode);
        // Noted like a failed call, so that the line under the message says what is in the file's place.
        NoteSystemFailure("cannot read " + path + " (" + type + ", not a regular file)", S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        SetFault(fault, "cannot be read: " + type + ", not a regular file");
        return std::nullopt;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size < 2 || (size - 2) % 8 != 0) {
        status = kContainerBadChecksum;
        SetFault(fault, "truncated: " + std::to_string(size) +
                            " bytes are not 2 checksum bytes and whole 8-byte blocks");
        return std::nullopt;
    }
    return size - 2;
}

Status ReadOpenContainer(int fd, const std::string& path, std::span<std::uint8_t> payload, std::string* fault) {
    std::uint8_t head[2];
    const auto headRead = ReadFully(fd, head);
    if (headRead != std::optional<std::size_t>(2)) {
        SetFault(fault, headRead ? "cannot read: the file became shorter while it was read"
                                 : ErrnoFault("cannot read", path));
        return kContainerCannotOpen;
    }
    const std::uint16_t stored = static_cast<std::uint16_t>(head[0] | head[1] << 8);

    // Checksum each encrypted block before decrypting it in place.
    std::uint16_t sum = 0;
    for (std::size_t offset = 0; offset < payload.size(); offset += kChunk) {
        const auto chunk = payload.subspan(offset, std::min(kChunk, payload.size() - offset));
        const auto got = ReadFully(fd, chunk);
        if (!got) {
            SetFault(fault, ErrnoFault("cannot read", path));
            return kContainerCannotOpen;
        }
        if (*got != chunk.size()) {
            SetFault(fault, "truncated: the file became shorter while it was read");
            return kContainerBadChecksum;
        }
        sum = static_cast<std::uint16_t>(sum + ContainerChecksum(chunk));
        PackageCipher().DecryptEcb(chunk);
    }
    std::uint8_t extra;
    if (ReadFully(fd, std::span(&extra, 1)) != std::optional<std::size_t>(0)) {
        SetFault(fault, "cannot read: the file became longer while it was read");
        return kContainerCannotOpen;
    }
    if (sum != stored) {
        char text[96];
        std::snprintf(text, sizeof text, "bad checksum: stored 0x%04X, computed 0x%04X", stored, sum);
        SetFault(fault, text);
        return kContainerBadChecksum;
    }
    return kStatusSuccess;
}

}  // namespace

void InitPackageCipher() { PackageCipher(); }

const Blowfish& PackageCipher() {
    static const Blowfish cipher(std::span(reinterpret_cast<const std::uint8_t*>(kPackageKeyText),
                                           sizeof kPackageKeyText));  // the terminating zero is part of the key
    return cipher;
}

void EncryptBlocks(const std::uint8_t* src, std::uint8_t* dst, std::size_t length) {
    const std::size_t whole = length / 8 * 8;
    if (dst != src) std::memmove(dst, src, whole);
    PackageCipher().EncryptEcb(std::span(dst, whole));
    if (whole < length) {
        std::uint8_t last[8] = {};
        std::memcpy(last, src + whole, length - whole);
        PackageCipher().EncryptEcb(last);
        std::memcpy(dst + whole, last, 8);
    }
}

void DecryptBlocks(const std::uint8_t* src, std::uint8_t* dst, std::size_t length) {
    const std::size_t rounded = (length + 7) / 8 * 8;
    if (dst != src) std::memmove(dst, src, rounded);
    PackageCipher().DecryptEcb(std::span(dst, rounded));
}

std::uint16_t ContainerChecksum(std::span<const std::uint8_t> bytes) {
    // Eight bytes at a time: the even and odd bytes of each 64-bit word are
    // added into four 16-bit lanes, which are folded into the sum before any
    // lane could overflow (128 words add at most 128 * 2 * 255 to a lane).
    constexpr std::uint64_t kEvenBytes = 0x00FF00FF00FF00FF;
    constexpr std::size_t kWordsPerFold = 128;
    const std::uint8_t* p = bytes.data();
    std::size_t n = bytes.size();
    std::uint32_t sum = 0;
    while (n >= 8) {
        const std::size_t words = std::min(n / 8, kWordsPerFold);
        std::uint64_t lanes = 0;
        for (std::size_t k = 0; k < words; ++k, p += 8) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            lanes += (w & kEvenBytes) + ((w >> 8) & kEvenBytes);
        }
        sum += static_cast<std::uint32_t>((lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) +
                                          (lanes >> 48));
        n -= words * 8;
    }
    for (; n > 0; --n) sum += *p++;
    return static_cast<std::uint16_t>(0u - sum);  // the sum negated modulo 65536
}

std::optional<std::uint64_t> ContainerPayloadSize(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || st.st_size < 2) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size) - 2;
}

Status ReadContainer(const std::string& path, std::span<std::uint8_t> payload, std::string* fault, FileLinks links) {
    ClearSystemFailure();
    std::string openFault;
    UniqueFd fd = OpenForReading(path, links, openFault);
    if (!fd) {
        SetFault(fault, openFault);
        return kContainerCannotOpen;
    }
    Status status = kStatusSuccess;
    const auto size = CheckShape(fd.get(), path, status, fault);
    if (!size) return status;
    if (*size != payload.size()) {
        SetFault(fault, "cannot read: the file changed size while it was read");
        return kContainerCannotOpen;
    }
    return ReadOpenContainer(fd.get(), path, payload, fault);
}

ContainerFile ReadContainerFile(const std::string& path, FileLinks links) {
    ClearSystemFailure();
    ContainerFile result;
    UniqueFd fd = OpenForReading(path, links, result.fault);
    if (!fd) {
        result.status = kContainerCannotOpen;
        return result;
    }
    const auto size = CheckShape(fd.get(), path, result.status, &result.fault);
    if (!size) return result;
    std::shared_ptr<std::vector<std::uint8_t>> buffer;
    try {
        buffer = std::make_shared<std::vector<std::uint8_t>>();
        PrepareForLoad(*buffer, *size);
    } catch (const std::bad_alloc&) {
        result.status = kContainerCannotOpen;
        result.fault = "cannot be read: " + std::to_string(*size) + " bytes do not fit in memory";
        return result;
    }
    result.status = ReadOpenContainer(fd.get(), path, *buffer, &result.fault);
    if (result.status == kStatusSuccess) result.payload = std::move(buffer);
    return result;
}

Status WriteContainer(const std::string& path, const std::uint8_t* data, std::size_t length) {
    ClearSystemFailure();
    if (data == nullptr) return kContainerNoData;
    const std::size_t rounded = (length + 7) / 8 * 8;
    if (rounded == 0) return kContainerNothingToWrite;

    AtomicFileWriter file(path);
    // The checksum goes first in the file but is known only at the end: write a
    // placeholder, stream the encrypted blocks, then fill it in.
    file.Write(std::array<std::uint8_t, 2>{});
    std::vector<std::uint8_t> chunk(std::min(kChunk, rounded));
    std::uint16_t sum = 0;
    for (std::size_t offset = 0; file.Ok() && offset < rounded; offset += chunk.size()) {
        const std::size_t n = std::min(chunk.size(), rounded - offset);
        EncryptBlocks(data + offset, chunk.data(), std::min(n, length - offset));  // pads the last block to n
        sum = static_cast<std::uint16_t>(sum + ContainerChecksum(std::span(chunk.data(), n)));
        file.Write(std::span(chunk.data(), n));
    }
    const std::array<std::uint8_t, 2> head = {static_cast<std::uint8_t>(sum), static_cast<std::uint8_t>(sum >> 8)};
    return file.WriteAt(0, head) && file.Commit() ? kStatusSuccess : kContainerCannotOpen;
}
