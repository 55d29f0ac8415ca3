#pragma once
// quillon-cli's tables: rows of cells in aligned columns, two spaces apart,
// as a terminal shows them.
#include <ostream>
#include <string>
#include <vector>

// A cell of text from outside the program (a monitor, a file): as DisplayText
// shows it; "?" for a text that was not told.
std::string Cell(const std::string& text);

// Each row on a line; the columns as wide as their widest cell in terminal
// columns, not bytes (a Japanese model name is three bytes a character, two
// columns wide). The cells must be shown text already (Cell, DisplayText).
void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows);
