#pragma once
// Tests only: runs of quillon-cli in-process over a bench's folder, with the
// user's answers and the stop signals scripted. Every line a run writes with
// --json (but for --help, which is text) is read by a strict JSON parser: a
// line a script could not read fails the test, whatever the test looks at.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_testing.h"
#include "cli/cli_io.h"
#include "common/json_parse_testing.h"

namespace cli_testing {

using app_testing::Lines;

// Each line of `out` as a JSON object; a test failure for each line that is not one.
inline std::vector<JsonValue> JsonLines(const std::string& out) {
    std::vector<JsonValue> values;
    JsonParser parser;
    for (const std::string& line : Lines(out)) {
        std::optional<JsonValue> value = parser.Parse(line);
        if (!value || !std::holds_alternative<JsonValue::Object>(value->value)) {
            ADD_FAILURE() << "not a JSON object (" << (value ? "not an object" : parser.Error()) << "): " << line;
            continue;
        }
        values.push_back(std::move(*value));
    }
    return values;
}

struct CliRun {
    explicit CliRun(app_testing::Bench& bench) {
        io.packageFolder = bench.Folder();
        io.stateFolders = StateFolders{bench.StateFolder(), {}};
        io.language = CatalogueLanguage();
    }
    int Run(std::vector<std::string> arguments) {
        code = RunCli(arguments, io);
        const auto given = [&arguments](const char* option) {
            return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
        };
        if (given("--json") && !given("--help") && !given("-h")) json = JsonLines(out.str());
        return code;
    }
    std::vector<std::string> OutLines() const { return Lines(out.str()); }

    std::ostringstream out, err;
    CliIo io{out, err};
    int code = -1;
    std::vector<JsonValue> json;  // the lines of a run with --json, parsed
};

}  // namespace cli_testing
