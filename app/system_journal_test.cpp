// The copy of a run's start, failures and result that goes to the system
// journal: the datagram journald reads, a journal that is not there, one that
// cannot take more, and the entries of whole runs.
#include "app/system_journal.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_testing.h"
#include "app/main_workflow.h"
#include "app/system_journal_testing.h"
#include "common/temp_dir_testing.h"
#include "common/unique_fd.h"

namespace {

using Fields = std::map<std::string, std::string>;

// Reads a datagram as journald does; a field that is not well formed fails the test.
Fields Decode(std::string_view datagram) {
    Fields fields;
    while (!datagram.empty()) {
        const std::size_t end = datagram.find('\n');
        EXPECT_NE(end, std::string_view::npos);
        if (end == std::string_view::npos || datagram.size() < end + 1 + 8) return fields;
        const std::string name(datagram.substr(0, end));
        std::uint64_t length = 0;
        for (int i = 7; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(datagram[end + 1 + i]);
        datagram.remove_prefix(end + 1 + 8);
        EXPECT_GE(datagram.size(), length + 1);
        if (datagram.size() < length + 1) return fields;
        fields[name] = std::string(datagram.substr(0, length));
        EXPECT_EQ(datagram[length], '\n');
        datagram.remove_prefix(length + 1);
    }
    return fields;
}

// A datagram socket where a test's journal entries arrive.
class JournalReader {
public:
    explicit JournalReader(const std::string& path) : path_(path), socket_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.data(), path.size());
        EXPECT_EQ(::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
    }
    int Fd() const { return socket_.get(); }
    // Every entry that has arrived, in order.
    std::vector<Fields> Entries() {
        std::vector<Fields> entries;
        std::string buffer(65536, '\0');
        for (;;) {
            const ssize_t n = ::recv(socket_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n < 0) return entries;
            entries.push_back(Decode(std::string_view(buffer).substr(0, static_cast<std::size_t>(n))));
        }
    }

private:
    std::string path_;
    UniqueFd socket_;
};

TEST(SystemJournal, AnEntryCarriesItsFieldsWholeWhateverTheirBytes) {
    const JournalEntry entry{JournalPriority::Error, "failed: QX\x1b[2J\xff\n27", 0x80000011u, "/state/quillon/run.log"};
    const Fields fields = Decode(EncodeJournalEntry(entry, "quillon-cli"));
    EXPECT_EQ(fields, (Fields{{"MESSAGE", "failed: QX\\x1b[2J\\xff\\x0a27"},
                              {"PRIORITY", "3"},
                              {"SYSLOG_IDENTIFIER", "quillon-cli"},
                              {"QUILLON_STATUS", "0x80000011"},
                              {"QUILLON_RUN_LOG", "/state/quillon/run.log"}}));
    // Without a status nor a log, neither field.
    EXPECT_EQ(Decode(EncodeJournalEntry({JournalPriority::Info, "started", std::nullopt, ""}, "quillon")),
              (Fields{{"MESSAGE", "started"}, {"PRIORITY", "6"}, {"SYSLOG_IDENTIFIER", "quillon"}}));
}

TEST(SystemJournal, SendsToTheSocketAndTakesNoJournalAsNoFailure) {
    TempDir dir;
    JournalReader reader(dir.Path() + "/journal");
    SystemJournal journal("quillon", dir.Path() + "/journal");
    journal.Send({JournalPriority::Notice, "one", 0u, ""});
    const std::vector<Fields> entries = reader.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].at("MESSAGE"), "one");
    EXPECT_EQ(entries[0].at("QUILLON_STATUS"), "0x00000000");
    EXPECT_FALSE(journal.TakeProblem().has_value());

    // No socket, or a file nobody reads from: a machine without journald.
    for (const std::string& path : {dir.Path() + "/none", dir.Path() + "/missing/journal"}) {
        SystemJournal absent("quillon", path);
        absent.Send({JournalPriority::Info, "lost", std::nullopt, ""});
        EXPECT_FALSE(absent.TakeProblem().has_value()) << path;
    }
}

TEST(SystemJournal, AJournalThatTakesNoMoreIsNotedOnceAndNeverWaitedFor) {
    TempDir dir;
    JournalReader reader(dir.Path() + "/journal");
    SystemJournal journal("quillon", dir.Path() + "/journal");
    // Nobody reads: the socket's queue fills, and a send would block.
    for (int i = 0; i < 2000; ++i) journal.Send({JournalPriority::Info, std::string(1000, 'x'), std::nullopt, ""});
    const std::optional<SystemFailure> problem = journal.TakeProblem();
    ASSERT_TRUE(problem.has_value());
    EXPECT_EQ(problem->operation, "sendto " + dir.Path() + "/journal");
    EXPECT_EQ(problem->error, EAGAIN);
    EXPECT_FALSE(journal.TakeProblem().has_value());  // handed out once
}

using namespace app_testing;

class JournalOfARunTest : public ::testing::Test {
protected:
    // The priority, status (or "-") and message of each entry.
    std::vector<std::string> Summary() {
        std::vector<std::string> lines;
        for (const Fields& entry : reader.Entries()) {
            EXPECT_EQ(entry.at("SYSLOG_IDENTIFIER"), "quillon");
            EXPECT_NE(entry.count("QUILLON_RUN_LOG"), 0u);
            const auto status = entry.find("QUILLON_STATUS");
            lines.push_back(entry.at("PRIORITY") + " " + (status == entry.end() ? "-" : status->second) + " " +
                            entry.at("MESSAGE").substr(0, entry.at("MESSAGE").find(':')));
        }
        return lines;
    }

    TempDir dir;
    JournalReader reader{dir.Path() + "/journal"};
    ScopedJournalSocket socket{dir.Path() + "/journal"};
    Bench bench;
    ScriptedView view;
};

TEST_F(JournalOfARunTest, ACompletedUpdateIsItsStartAndItsResult) {
    bench.Plug(MonitorKind::OlderNative);
    bench.WritePackage();
    auto run = bench.NewRun(view);
    RunToEnd(*run, view);
    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
    const std::vector<std::string> summary = Summary();
    ASSERT_EQ(summary.size(), 2u);
    EXPECT_TRUE(summary[0].starts_with("6 - quillon ")) << summary[0];
    EXPECT_EQ(summary[1], "6 0x00000000 result");
}

TEST_F(JournalOfARunTest, AFailedUpdateIsEachRestartItsFailureAndItsResultWithTheStatus) {
    Monitor& monitor = bench.Plug(MonitorKind::CombinedTunnel);
    FaultPlan plan;
    plan.wrongCrcs = FaultPlan::kAlways;
    monitor.AddFaults(plan);
    bench.WritePackage();
    auto run = bench.NewRun(view);
    RunToEnd(*run, view);
    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kUpdateFailed});
    ASSERT_TRUE(run->ShownFailure().has_value());
    char status[11];
    std::snprintf(status, sizeof status, "0x%08X", static_cast<unsigned>(*run->ShownFailure()));
    const std::string s = status;
    std::vector<std::string> summary = Summary();
    ASSERT_FALSE(summary.empty());
    EXPECT_TRUE(summary[0].starts_with("6 - quillon ")) << summary[0];
    summary.erase(summary.begin());
    // Each automatic restart a warning, then the failure shown and the result.
    const std::string restart = "4 " + s + " update failed at step \"Writing component 1 of 5\"";
    EXPECT_EQ(summary, (std::vector<std::string>{restart, restart, restart,
                                                 "3 " + s + " failed at step \"Writing component 1 of 5\"",
                                                 "3 " + s + " result"}));
}

}  // namespace
