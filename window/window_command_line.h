#pragma once
// The window program's command line: `quillon [--help] [--version] [FILE.vfw]`.
// Read before the QApplication is made, so that --help and --version need no
// display (the man page is made from --help).
#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct WindowCommandLine {
    bool help = false;
    bool version = false;
    std::string package;  // FILE.vfw; empty: the one beside the executable, or the one the user chooses
};

struct ParsedWindowCommandLine {
    std::optional<WindowCommandLine> line;
    std::string error;  // when line is empty: what is wrong, for the user
};

// argv without the program name.
ParsedWindowCommandLine ParseWindowCommandLine(const std::vector<std::string>& arguments);

// "usage: quillon [FILE.vfw] | --help | --version"
std::string WindowUsageLine();
std::string WindowHelpText();

// --help and --version on `out`, a wrong command line on `err`, each with the
// process's exit code; nullopt when the window is to run.
std::optional<int> AnswerWithoutWindow(const ParsedWindowCommandLine& parsed, std::ostream& out, std::ostream& err);

// The package as an absolute path, so that the run log names it wherever the
// window was started from; as given when the current folder cannot be read.
std::string AbsolutePackagePath(const std::string& package);
