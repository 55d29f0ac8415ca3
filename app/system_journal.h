#pragma once
// A copy of a run's start, its failures and its result for the system journal
// (journalctl -t quillon-cli), beside the run log, which keeps every step.
// Entries go to journald's native socket as datagrams; on a machine without
// journald they go nowhere and the run goes on: the run log has it all.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/status.h"
#include "common/system_failure.h"

inline constexpr char kSystemJournalSocket[] = "/run/systemd/journal/socket";
// kSystemJournalSocket, or in tests the socket they named (system_journal_testing.h).
std::string JournalSocketPath();

// syslog's levels, as the journal reads them.
enum class JournalPriority : std::uint8_t { Error = 3, Warning = 4, Notice = 5, Info = 6 };

struct JournalEntry {
    JournalPriority priority = JournalPriority::Info;
    std::string message;  // shown as DisplayText shows it: a model name may hold any bytes
    std::optional<Status> status;
    std::string runLog;  // the run log's path, when there is one
};

class SystemJournal {
public:
    // `identifier` tags every entry (SYSLOG_IDENTIFIER): the program's name.
    explicit SystemJournal(std::string identifier, std::string socketPath = JournalSocketPath());

    // Sends one entry, without waiting. No journal here is no failure; any
    // other failure is kept for TakeProblem().
    void Send(const JournalEntry& entry);

    // Why an entry could not be sent, handed out once: the first failed call and its errno.
    std::optional<SystemFailure> TakeProblem();

private:
    std::string identifier_;
    std::string socketPath_;
    std::optional<SystemFailure> problem_;
    bool problemNoted_ = false;
};

// The entry's fields as journald's native protocol reads a datagram: each
// field as its name, a line feed, its length in 64 bits little-endian, its
// bytes and a line feed, so that any value, line feeds too, is carried whole.
std::string EncodeJournalEntry(const JournalEntry& entry, std::string_view identifier);
