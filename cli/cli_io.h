#pragma once
// What quillon-cli's commands talk to: the output streams, the terminal's
// answers, the stop signals, and the folder of the package and backup files.
// main() connects them to the process; the tests to strings and scripts.
#include <csignal>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/message_catalogue.h"
#include "app/state_folder.h"

struct CliIo {
    CliIo(std::ostream& output, std::ostream& errors) : out(output), err(errors) {}

    std::ostream& out;
    std::ostream& err;
    bool inputIsTerminal = false;
    bool outputIsTerminal = false;
    // One line the user typed; nullopt at the end of the input, or when a stop
    // signal came first (takeStopSignal then hands it out).
    std::function<std::optional<std::string>()> readLine = [] { return std::nullopt; };
    // A signal that asks to stop (SIGINT, SIGTERM, SIGHUP, SIGQUIT) or to
    // suspend (SIGTSTP, SIGTTIN, SIGTTOU) that came since the last call, once.
    std::function<std::optional<int>()> takeStopSignal = [] { return std::nullopt; };
    // Suspends the process as a signal that suspends does by default, until it is continued.
    std::function<void(int)> suspend = [](int) {};
    // Where the package file is searched (and a backup record of the portable
    // layout), ending in "/"; empty: the executable's directory, as for the window.
    std::string packageFolder;
    // Where the backup record and the run log are kept; unset: the process's
    // state folders (app/state_folder.h).
    std::optional<StateFolders> stateFolders;
    Language language = Language::English;
};

// SIGTSTP (Ctrl-Z), SIGTTIN and SIGTTOU: the job control signals, which suspend
// a job rather than end it.
inline bool SuspendsTheJob(int signal) { return signal == SIGTSTP || signal == SIGTTIN || signal == SIGTTOU; }

// Runs one command line (argv without the program name); the exit code.
int RunCli(const std::vector<std::string>& arguments, CliIo& io);
