#include "app/system_journal.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/system_journal_testing.h"
#include "common/display_text.h"
#include "common/unique_fd.h"

namespace {

void AppendField(std::string& datagram, std::string_view name, std::string_view value) {
    datagram += name;
    datagram += '\n';
    std::uint64_t length = value.size();
    for (int i = 0; i < 8; ++i, length >>= 8) datagram += static_cast<char>(length & 0xFF);
    datagram += value;
    datagram += '\n';
}

// The socket is not there, or nobody reads it: a machine without journald.
bool NoJournalHere(int error) { return error == ENOENT || error == ECONNREFUSED || error == ENOTDIR; }

}  // namespace

std::string EncodeJournalEntry(const JournalEntry& entry, std::string_view identifier) {
    std::string datagram;
    AppendField(datagram, "MESSAGE", DisplayText(entry.message));
    AppendField(datagram, "PRIORITY", std::to_string(static_cast<int>(entry.priority)));
    AppendField(datagram, "SYSLOG_IDENTIFIER", identifier);
    if (entry.status) {
        char status[11];
        std::snprintf(status, sizeof status, "0x%08X", static_cast<unsigned>(*entry.status));
        AppendField(datagram, "QUILLON_STATUS", status);
    }
    if (!entry.runLog.empty()) AppendField(datagram, "QUILLON_RUN_LOG", DisplayText(entry.runLog));
    return datagram;
}

// Never destroyed: a test that ends its process with exit() runs the static
// destructors before the test environments that put the path back.
std::string& JournalSocketSetting() {
    static std::string* const path = new std::string(kSystemJournalSocket);
    return *path;
}

std::string JournalSocketPath() { return JournalSocketSetting(); }

SystemJournal::SystemJournal(std::string identifier, std::string socketPath)
    : identifier_(std::move(identifier)), socketPath_(std::move(socketPath)) {}

void SystemJournal::Send(const JournalEntry& entry) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath_.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, socketPath_.data(), socketPath_.size());

    const UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    int error = 0;
    if (!socket) {
        error = errno;
    } else {
        const std::string datagram = EncodeJournalEntry(entry, identifier_);
        if (::sendto(socket.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0)
            error = errno;
    }
    if (error == 0 || NoJournalHere(error) || problemNoted_) return;
    problemNoted_ = true;
    problem_ = SystemFailure{(socket ? "sendto " : "socket ") + socketPath_, error};
}

std::optional<SystemFailure> SystemJournal::TakeProblem() { return std::exchange(problem_, std::nullopt); }
