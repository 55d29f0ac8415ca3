#include "cli/table_output.h"

#include <algorithm>

#include "common/display_text.h"

std::string Cell(const std::string& text) { return text.empty() ? "?" : DisplayText(text); }

void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], DisplayColumns(row[c]));
    }
    for (const auto& row : rows) {
        std::string text;
        for (std::size_t c = 0; c < row.size(); ++c)
            text += c + 1 < row.size() ? row[c] + std::string(widths[c] - DisplayColumns(row[c]) + 2, ' ') : row[c];
        out << text << "\n";
    }
}
