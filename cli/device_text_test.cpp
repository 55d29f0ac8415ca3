// Model names and serial numbers are whatever bytes a monitor sends. Through
// every command, text and JSON, they reach the terminal escaped, the JSON as
// valid UTF-8 a script can read, and the run log escaped.
#include <gtest/gtest.h>

#include <fstream>

#include "app/app_testing.h"
#include "cli/cli_testing.h"
#include "common/display_text.h"
#include "common/utf8.h"

namespace {

using namespace app_testing;
using namespace cli_testing;

struct HostileIdentity {
    const char* name;
    std::string model, serial;
    std::string shownModel, shownSerial;  // on the terminal and in the run log
    std::string jsonModel, jsonSerial;    // read back from the JSON
};

const HostileIdentity kIdentities[] = {
    {"ClearScreen", "QX\x1b[2J27", "SN\x1b[2J0", "QX\\x1b[2J27", "SN\\x1b[2J0", "QX\x1b[2J27", "SN\x1b[2J0"},
    {"BareCarriageReturn", "QX27\rOK", "SN\r00001", "QX27\\x0dOK", "SN\\x0d00001", "QX27\rOK", "SN\r00001"},
    {"BytesThatAreNoUtf8", "QX\xff\xfe" "27", "SN\xff" "0001", "QX\\xff\\xfe27", "SN\\xff0001",
     "QX\xef\xbf\xbd\xef\xbf\xbd" "27", "SN\xef\xbf\xbd" "0001"},
    {"TruncatedUtf8", "QX27\xe3\x83", "SN0001\xe3", "QX27\\xe3\\x83", "SN0001\\xe3", "QX27\xef\xbf\xbd\xef\xbf\xbd",
     "SN0001\xef\xbf\xbd"},
    {"Backslash", "QX\\27", "SN\\00001", "QX\\\\27", "SN\\\\00001", "QX\\27", "SN\\00001"},
    {"Japanese", "モニター27", "番号01", "モニター27", "番号01", "モニター27", "番号01"},
};

void PrintTo(const HostileIdentity& identity, std::ostream* out) { *out << identity.name; }

class DeviceTextTest : public ::testing::TestWithParam<HostileIdentity> {
protected:
    Monitor& PlugHostile() {
        MonitorConfig config = Bench::Config(MonitorKind::CombinedTunnel, GetParam().serial);
        config.model = GetParam().model;
        Monitor& monitor = bench.Plug(config);
        bench.WritePackage(WithModel("*"));
        return monitor;
    }

    Bench bench;
};
INSTANTIATE_TEST_SUITE_P(Cases, DeviceTextTest, ::testing::ValuesIn(kIdentities),
                         [](const auto& info) { return std::string(info.param.name); });

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Nothing in `text` can act on a terminal: valid UTF-8, and no control
// character but the line feeds that end its lines.
void ExpectSafeToShow(std::string_view text, const char* where) {
    for (std::string_view rest = text; !rest.empty();) {
        const std::optional<Utf8Character> character = FirstUtf8Character(rest);
        const std::size_t at = text.size() - rest.size();
        ASSERT_TRUE(character) << where << ": byte " << at << " is not UTF-8 in: " << text;
        const char32_t c = character->codePoint;
        ASSERT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7F && !(c >= 0x80 && c <= 0x9F)))
            << where << ": control character " << static_cast<unsigned>(c) << " at byte " << at << " in: " << text;
        rest.remove_prefix(character->length);
    }
}

const JsonValue* FirstMonitor(const std::vector<JsonValue>& json) {
    if (json.size() != 1) return nullptr;
    const JsonValue* monitors = json[0].Member("monitors");
    const auto* array = monitors ? std::get_if<JsonValue::Array>(&monitors->value) : nullptr;
    return array && !array->empty() ? &array->front() : nullptr;
}

TEST_P(DeviceTextTest, ListShowsTheIdentityEscapedAndItsJsonReadsBackAsSent) {
    const HostileIdentity& c = GetParam();
    PlugHostile();
    CliRun table(bench);
    ASSERT_EQ(table.Run({"list"}), 0) << table.err.str();
    ExpectSafeToShow(table.out.str(), "list");
    const std::vector<std::string> lines = table.OutLines();
    ASSERT_EQ(lines.size(), 2u) << table.out.str();
    EXPECT_TRUE(lines[1].starts_with(c.shownModel + "  " + c.shownSerial + "  ")) << lines[1];
    // The heading's columns line up with the model as the terminal draws it.
    EXPECT_EQ(DisplayColumns(lines[0].substr(0, lines[0].find("SERIAL"))), DisplayColumns(c.shownModel) + 2)
        << table.out.str();

    CliRun json(bench);
    ASSERT_EQ(json.Run({"list", "--json"}), 0) << json.err.str();
    const JsonValue* monitor = FirstMonitor(json.json);
    ASSERT_NE(monitor, nullptr) << json.out.str();
    EXPECT_EQ(monitor->StringAt("model"), c.jsonModel);
    EXPECT_EQ(monitor->StringAt("serial"), c.jsonSerial);

    // With another monitor connected, the update lists both on standard error.
    bench.Plug(MonitorKind::OlderNative, "SN000009");
    CliRun several(bench);
    EXPECT_EQ(several.Run({"update", "--yes"}), 1);
    ExpectSafeToShow(several.err.str(), "the monitors listed");
    EXPECT_TRUE(Contains(several.err.str(), "  " + c.shownModel + "  " + c.shownSerial + "\n")) << several.err.str();
}

TEST_P(DeviceTextTest, TheUpdatesSummaryAndRunLogShowTheIdentityEscaped) {
    const HostileIdentity& c = GetParam();
    PlugHostile();
    // Asked on a terminal and refused: the summary is all that happened.
    CliRun asked(bench);
    asked.io.inputIsTerminal = true;
    asked.io.readLine = [] { return std::optional<std::string>("n"); };
    EXPECT_EQ(asked.Run({"update"}), 1) << asked.err.str();
    ExpectSafeToShow(asked.out.str(), "the summary");
    ExpectSafeToShow(asked.err.str(), "the question");
    EXPECT_TRUE(Contains(asked.out.str(), c.shownModel) && Contains(asked.out.str(), c.shownSerial))
        << asked.out.str();

    CliRun json(bench);
    ASSERT_EQ(json.Run({"update", "--yes", "--json"}), 0) << json.err.str();
    ASSERT_GE(json.json.size(), 2u) << json.out.str();
    const JsonValue& summary = json.json.front();
    EXPECT_EQ(summary.StringAt("event"), "summary");
    EXPECT_EQ(summary.StringAt("model"), c.jsonModel);
    EXPECT_EQ(summary.StringAt("serial"), c.jsonSerial);
    const JsonValue& result = json.json.back();
    EXPECT_EQ(result.StringAt("status"), "0x00000000") << json.out.str();

    const std::string log = ReadFile(result.StringAt("runLog").value_or(""));
    ExpectSafeToShow(log, "run log");
    EXPECT_TRUE(Contains(log, "monitor: " + c.shownModel + " S/N " + c.shownSerial + ", ")) << log;
}

TEST_P(DeviceTextTest, StatusAndTheMessagesAfterACutShowTheIdentityEscaped) {
    const HostileIdentity& c = GetParam();
    Monitor& monitor = PlugHostile();
    FaultPlan plan;
    plan.unplugAtTransfer = 250;
    monitor.AddFaults(plan);
    CliRun cut(bench);
    EXPECT_EQ(cut.Run({"update", "--yes"}), 1);
    ASSERT_TRUE(bench.BackupExists()) << cut.err.str();
    bench.clock.Advance(60'000);

    CliRun status(bench);
    ASSERT_EQ(status.Run({"status"}), 0) << status.err.str();
    ExpectSafeToShow(status.out.str(), "status");
    EXPECT_TRUE(Contains(status.out.str(), c.shownModel) && Contains(status.out.str(), c.shownSerial))
        << status.out.str();
    CliRun statusJson(bench);
    ASSERT_EQ(statusJson.Run({"status", "--json"}), 0) << statusJson.err.str();
    ASSERT_EQ(statusJson.json.size(), 1u) << statusJson.out.str();
    EXPECT_EQ(statusJson.json[0].StringAt("model"), c.jsonModel);
    EXPECT_EQ(statusJson.json[0].StringAt("serial"), c.jsonSerial);

    // The recorded monitor unplugged: the message names it.
    bench.platform.Unplug(monitor);
    CliRun missing(bench);
    EXPECT_EQ(missing.Run({"update", "--yes", "--json"}), 1);
    ExpectSafeToShow(missing.err.str(), "the message");
    EXPECT_TRUE(Contains(missing.err.str(), c.shownModel + "(" + c.shownSerial + ")")) << missing.err.str();
    ASSERT_FALSE(missing.json.empty()) << missing.out.str();
    const std::string message = missing.json.back().StringAt("message").value_or("");
    EXPECT_TRUE(Contains(message, c.shownModel + "(" + c.shownSerial + ")")) << message;
}

}  // namespace
