// quillon-cli: the monitor firmware updater for terminals, scripts and fleets.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/message_catalogue.h"
#include "cli/cli_io.h"
#include "cli/stop_signals.h"

int main(int argc, char** argv) {
    StopSignals signals;  // before any thread starts
    CliIo io{std::cout, std::cerr};
    io.inputIsTerminal = isatty(STDIN_FILENO) == 1;
    io.outputIsTerminal = isatty(STDOUT_FILENO) == 1;
    io.readLine = [&signals] { return signals.ReadLine(STDIN_FILENO); };
    io.takeStopSignal = [&signals] { return signals.Take(); };
    io.suspend = [&signals](int signal) { signals.Suspend(signal); };
    io.language = UserInterfaceLanguage();
    SetCatalogueLanguage(io.language);
    return RunCli(std::vector<std::string>(argv + 1, argv + argc), io);
}
