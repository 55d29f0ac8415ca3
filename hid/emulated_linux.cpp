// Emulated HID backend. The device path is the socket file's full path.
// Each connection gets UHID_CREATE2 (attributes and report descriptor) first,
// then carries one GET_REPORT or SET_REPORT request at a time, each answered by
// a reply with the request's id. Every length the device sends is checked
// against the datagram and the buffers; a device that sends garbage or never
// answers yields a failed transfer, never an overrun or a hang. UHID_DESTROY, a
// closed connection or a vanished socket file mean "not connected".
//
// There are no input reports in this contract: ReadInput reports Failed, so an
// input reader on an emulated device ends at once.
//
// A failed open or transfer is noted as this thread's system failure
// (common/system_failure.h): "connect PATH" or "UHID_GET_REPORT PATH" /
// "UHID_SET_REPORT PATH" with the errno of the failed call (ENOENT for a
// vanished socket file), ETIMEDOUT when no reply comes, the err of the
// device's reply, or ENODEV when the device has gone without an errno (closed
// connection, UHID_DESTROY), as hidraw would report it. Each open and transfer
// forgets an earlier note as it starts.
#include "hid/emulated_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>

#include "common/system_failure.h"
#include "common/unique_fd.h"
#include "hid/hid_platform.h"

namespace {

constexpr std::size_t kEventSize = sizeof(uhid_event);

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Receives one whole event. Returns the datagram's length (0 = peer closed),
// -1 on timeout or error (errno tells which; ETIMEDOUT for the timeout).
// A datagram longer than an event is reported with its full length (MSG_TRUNC).
ssize_t ReceiveEvent(int fd, uhid_event& event, int timeoutMs) {
    pollfd pfd{fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&pfd, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) errno = ETIMEDOUT;
    if (ready <= 0) return -1;
    std::memset(&event, 0, kEventSize);
    ssize_t n;
    do {
        n = ::recv(fd, &event, kEventSize, MSG_TRUNC | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n;
}

class EmulatedConnection final : public HidConnection {
public:
    EmulatedConnection(std::string path, UniqueFd socket, HidAttributes attributes, std::vector<std::uint8_t> descriptor,
                       int replyTimeoutMs)
        : path_(std::move(path)), socket_(std::move(socket)), attributes_(attributes), descriptor_(std::move(descriptor)),
          replyTimeoutMs_(replyTimeoutMs) {}

    HidAttributes Attributes() const override { return attributes_; }
    std::span<const std::uint8_t> ReportDescriptor() const override { return descriptor_; }

    HidIo GetFeature(std::span<std::uint8_t> report) override {
        ClearSystemFailure();
        if (report.empty()) return HidIo::Failed;
        uhid_event request{};
        request.type = UHID_GET_REPORT;
        request.u.get_report.id = ++lastId_;
        request.u.get_report.rnum = report[0];
        request.u.get_report.rtype = UHID_FEATURE_REPORT;
        uhid_event reply{};
        const HidIo io = Exchange(request, request.u.get_report.id, UHID_GET_REPORT_REPLY, reply);
        if (io != HidIo::Ok) return io;
        const auto& answer = reply.u.get_report_reply;
        if (answer.err != 0) return DeviceError(request, answer.err);
        if (answer.size > UHID_DATA_MAX) return HidIo::Failed;
        std::copy_n(answer.data, std::min<std::size_t>(answer.size, report.size()), report.begin());
        return HidIo::Ok;
    }

    HidIo SetFeature(std::span<const std::uint8_t> report) override {
        ClearSystemFailure();
        if (report.empty() || report.size() > UHID_DATA_MAX) return HidIo::Failed;
        uhid_event request{};
        request.type = UHID_SET_REPORT;
        request.u.set_report.id = ++lastId_;
        request.u.set_report.rnum = report[0];
        request.u.set_report.rtype = UHID_FEATURE_REPORT;
        request.u.set_report.size = static_cast<std::uint16_t>(report.size());
        std::copy(report.begin(), report.end(), request.u.set_report.data);
        uhid_event reply{};
        const HidIo io = Exchange(request, request.u.set_report.id, UHID_SET_REPORT_REPLY, reply);
        if (io != HidIo::Ok) return io;
        const std::uint16_t err = reply.u.set_report_reply.err;
        if (err != 0) return DeviceError(request, err);
        return HidIo::Ok;
    }

    HidInput ReadInput(std::span<std::uint8_t>, int) override { return HidInput::Failed; }

private:
    // Sends the request and waits for the reply of the same type and id.
    // Replies to earlier requests that timed out are skipped.
    HidIo Exchange(const uhid_event& request, std::uint32_t id, std::uint32_t replyType, uhid_event& reply) {
        if (gone_) return Gone(request, ENODEV);
        if (!Exists(path_)) return Gone(request, errno);
        ssize_t sent;
        do {
            sent = ::send(socket_.get(), &request, kEventSize, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent < 0) {
            const int error = errno;
            return (error == EPIPE || error == ECONNRESET || error == ENOTCONN) ? Gone(request, error)
                                                                               : Failed(request, error);
        }
        if (static_cast<std::size_t>(sent) != kEventSize) return HidIo::Failed;

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(replyTimeoutMs_);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return Failed(request, ETIMEDOUT);
            const ssize_t n = ReceiveEvent(socket_.get(), reply, static_cast<int>(left.count()));
            if (n == 0) return Gone(request, ENODEV);
            if (n < 0) {
                const int error = errno;
                if (error == ECONNRESET || error == EPIPE) return Gone(request, error);
                return Failed(request, error);  // timeout or an error that may pass
            }
            if (static_cast<std::size_t>(n) != kEventSize) continue;  // not a whole event: ignored
            if (reply.type == UHID_DESTROY) return Gone(request, ENODEV);
            if (reply.type != replyType) continue;
            const std::uint32_t replyId = replyType == UHID_GET_REPORT_REPLY ? reply.u.get_report_reply.id
                                                                             : reply.u.set_report_reply.id;
            if (replyId == id) return HidIo::Ok;
        }
    }

    // "UHID_GET_REPORT /dir/VID_7E51&PID_4001#1": the request and the device.
    std::string Operation(const uhid_event& request) const {
        return (request.type == UHID_GET_REPORT ? "UHID_GET_REPORT " : "UHID_SET_REPORT ") + path_;
    }

    HidIo Failed(const uhid_event& request, int error) {
        NoteSystemFailure(Operation(request), error);
        return HidIo::Failed;
    }

    HidIo Gone(const uhid_event& request, int error) {
        NoteSystemFailure(Operation(request), error);
        gone_ = true;
        return HidIo::NotConnected;
    }

    // The device answered with an errno value of its own.
    HidIo DeviceError(const uhid_event& request, int error) {
        NoteSystemFailure(Operation(request), error);
        return error == ENODEV ? HidIo::NotConnected : HidIo::Failed;
    }

    std::string path_;
    UniqueFd socket_;
    HidAttributes attributes_;
    std::vector<std::uint8_t> descriptor_;
    int replyTimeoutMs_;
    std::uint32_t lastId_ = 0;
    bool gone_ = false;
};

class EmulatedEvents final : public DeviceEvents {
public:
    EmulatedEvents(std::string directory, UniqueFd inotify) : directory_(std::move(directory)), inotify_(std::move(inotify)) {}

    int Fd() const override { return inotify_.get(); }

    std::optional<DeviceEvent> Next() override {
        while (pending_.empty()) {
            if (!ReadMore()) return std::nullopt;
        }
        DeviceEvent event = std::move(pending_.front());
        pending_.pop_front();
        return event;
    }

private:
    bool ReadMore() {
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        do {
            n = ::read(inotify_.get(), buffer, sizeof buffer);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) return false;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            inotify_event header;
            std::memcpy(&header, buffer + at, sizeof header);
            const char* name = buffer + at + sizeof(inotify_event);
            at += static_cast<ssize_t>(sizeof(inotify_event) + header.len);
            // Events without a name (a queue overflow among them) say nothing about one device.
            if (header.len == 0 || at > n) continue;
            const std::string_view nameView(name, ::strnlen(name, header.len));
            if (!IsEmulatedDeviceName(nameView)) continue;
            const bool arrival = (header.mask & (IN_CREATE | IN_MOVED_TO)) != 0;
            pending_.push_back({arrival ? DeviceEvent::Kind::Arrival : DeviceEvent::Kind::Removal,
                                directory_ + "/" + std::string(nameView)});
        }
        return true;
    }

    std::string directory_;
    UniqueFd inotify_;
    std::deque<DeviceEvent> pending_;
};

class EmulatedPlatform final : public HidPlatform {
public:
    EmulatedPlatform(std::string directory, int replyTimeoutMs)
        : directory_(std::move(directory)), replyTimeoutMs_(replyTimeoutMs) {
        while (directory_.size() > 1 && directory_.back() == '/') directory_.pop_back();
    }

    std::optional<std::vector<std::string>> EnumeratePaths() override {
        DIR* dir = ::opendir(directory_.c_str());
        if (dir == nullptr) return std::nullopt;
        std::vector<std::string> paths;
        while (const dirent* entry = ::readdir(dir)) {
            if (!IsEmulatedDeviceName(entry->d_name)) continue;
            std::string path = directory_ + "/" + entry->d_name;
            struct stat st {};
            if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) paths.push_back(std::move(path));
        }
        ::closedir(dir);
        // readdir's order is arbitrary; a stable order keeps the device list stable.
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    // Connecting to a socket needs write permission on its file.
    bool PermissionDenied(const std::string& path) override {
        return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
    }

    std::unique_ptr<HidConnection> Open(const std::string& path, bool) override {
        ClearSystemFailure();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) return nullptr;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        if (!socket) return Refused("socket", path, errno);
        int rc;
        do {
            rc = ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        } while (rc < 0 && errno == EINTR);
        if (rc < 0) return Refused("connect", path, errno);

        // The device introduces itself first; anything else is not a device we can use.
        auto created = std::make_unique<uhid_event>();
        const ssize_t n = ReceiveEvent(socket.get(), *created, replyTimeoutMs_);
        if (n < 0) return Refused("recv", path, errno);
        if (n == 0) return Refused("recv", path, ENODEV);
        if (n != static_cast<ssize_t>(kEventSize)) return nullptr;
        if (created->type != UHID_CREATE2) return nullptr;
        const uhid_create2_req& create = created->u.create2;
        if (create.rd_size > HID_MAX_DESCRIPTOR_SIZE) return nullptr;
        // The version field is 32 bits on the wire; the HID version number is 16.
        const HidAttributes attributes{static_cast<std::uint16_t>(create.vendor),
                                       static_cast<std::uint16_t>(create.product),
                                       static_cast<std::uint16_t>(create.version)};
        std::vector<std::uint8_t> descriptor(create.rd_data, create.rd_data + create.rd_size);
        return std::make_unique<EmulatedConnection>(path, std::move(socket), attributes, std::move(descriptor),
                                                    replyTimeoutMs_);
    }

    std::unique_ptr<DeviceEvents> WatchDevices() override {
        UniqueFd inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (!inotify) return nullptr;
        if (::inotify_add_watch(inotify.get(), directory_.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) < 0)
            return nullptr;
        return std::make_unique<EmulatedEvents>(directory_, std::move(inotify));
    }

private:
    static std::unique_ptr<HidConnection> Refused(const char* call, const std::string& path, int error) {
        NoteSystemFailure(std::string(call) + " " + path, error);
        return nullptr;
    }

    std::string directory_;
    int replyTimeoutMs_;
};

}  // namespace

bool IsEmulatedDeviceName(std::string_view name) {
    // "VID_" 4 hex digits "&PID_" 4 hex digits "#" suffix
    constexpr std::size_t kVidDigits = 4, kPidDigits = 13, kHash = 17;
    if (name.size() <= kHash + 1 || name.substr(0, 4) != "VID_" || name.substr(8, 5) != "&PID_" || name[kHash] != '#')
        return false;
    for (std::size_t i = 0; i < 4; ++i) {
        if (!IsUpperHex(name[kVidDigits + i]) || !IsUpperHex(name[kPidDigits + i])) return false;
    }
    return name.find('/') == std::string_view::npos;
}

std::unique_ptr<HidPlatform> MakeEmulatedPlatform(std::string directory, int replyTimeoutMs) {
    return std::make_unique<EmulatedPlatform>(std::move(directory), replyTimeoutMs);
}
