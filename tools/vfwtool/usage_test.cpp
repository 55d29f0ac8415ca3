// Command lines that are wrong in themselves (exit 2), input files that are
// bad (exit 1), and help.
#include <gtest/gtest.h>

#include <filesystem>

#include "tools/vfwtool/vfwtool_testing.h"

namespace {

constexpr char kVersion[] = "0000100002000030000400123";
constexpr char kKey[] = "0000100002000030000400005";

class UsageTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(fw_, Bytes(kDigits));
        WriteContainerFile(img_, Payload(SampleImage()));
    }

    // A valid create command line for one set, with `extra` appended.
    std::vector<std::string> Create(std::vector<std::string> extra) const {
        std::vector<std::string> args = {"create", "-o", out_, "--model", "MON27", "--version", kVersion,
                                         "--set", kKey, "--component", "2=" + fw_};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    // A valid image command line of `file` with `extra` appended.
    std::vector<std::string> Image(std::vector<std::string> extra, const std::string& file = "") const {
        std::vector<std::string> args = {"image", "-o", out_, "--model", "M", "--file", file.empty() ? fw_ : file};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    TempDir dir_;
    const std::string fw_ = dir_.File("fw.bin");
    const std::string img_ = dir_.File("i.img");
    const std::string out_ = dir_.File("out");
};

TEST_F(UsageTest, WrongCommandLinesExit2InOneLine) {
    std::vector<std::string> tooManySets = Create({});
    for (int i = 2; i <= 54; ++i) {
        char key[26];
        std::snprintf(key, sizeof key, "%05d00002000030000400005", i);
        tooManySets.insert(tooManySets.end(), {"--set", key, "--component", "2=" + fw_});
    }
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"info"}, "info takes one FILE, not 0"},
        {{"info", img_, img_}, "info takes one FILE, not 2"},
        {{"info", img_, "--jsn"}, "unknown option --jsn"},
        {{"info", img_, "--json=yes"}, "--json takes no value"},
        {{"check", img_, "--json"}, "unknown option --json"},
        {{"decrypt", img_}, "needs -o OUT"},
        {{"decrypt", img_, "-o"}, "-o needs a value"},
        {{"extract", img_, "-o", "x"}, "needs --type T"},
        {{"extract", img_, "-o", "x", "--type", "three"}, "'three': the component type is not 1 to 6"},
        {{"extract", img_, "-o", "x", "--type", "3", "--set", "5"}, "not a version text of 25 decimal digits"},
        {{"create", "-o", "x"}, "needs -o OUT, --model NAME, --version V and at least one --set KEY"},
        {{"create", "stray"}, "create takes no FILE operand, not 1"},
        {Create({"-o", "y"}), "-o is given twice"},
        {{"create", "-o", out_, "--model"}, "--model needs a value"},
        {Create({"--set", kKey, "--component", "3=" + fw_}), "--set " + std::string(kKey) + " is given twice"},
        {Create({"--component", "2=" + fw_}), "the set already has a component of type 2"},
        {Create({"--set", "0000200002000030000400005"}), "--set 0000200002000030000400005 has no --component"},
        {{"create", "--component", "2=" + fw_, "--set", kKey}, "comes before any --set"},
        {Create({"--component", "0=" + fw_}), "the component type is not 1 to 6"},
        {Create({"--component", "7=" + fw_}), "the component type is not 1 to 6"},
        {Create({"--component", "3=" + fw_ + ":65536"}), "SECONDS '65536' is not a number from 0 to 65535"},
        {Create({"--component", "3=" + fw_ + ":-1"}), "SECONDS '-1' is not a number"},
        {Create({"--component", "3=" + fw_ + ":1:256"}), "ATTRIBUTE '256' is not a number from 0 to 255"},
        {Create({"--component", "3=" + fw_ + ":1:2:3"}), "ATTRIBUTE '2:3' is not a number"},
        {Create({"--component", "3" + fw_}), "is not TYPE=FILE[:SECONDS[:ATTRIBUTE]]"},
        {Create({"--component", "3=:5"}), "names no file"},
        // A usage error is found before any component file is read.
        {Create({"--component", "3=" + dir_.File("missing") + ":99999"}), "SECONDS '99999'"},
        {tooManySets, "a package holds at most 53 sets"},
        {{"create", "-o", out_, "--model", "MON27", "--version", "000010000200003000040012", "--set", kKey,
          "--component", "2=" + fw_},
         "'000010000200003000040012' is not a version text of 25 decimal digits"},
        {{"create", "-o", out_, "--model", "MON27", "--version", "00001000020000300004001a3", "--set", kKey,
          "--component", "2=" + fw_},
         "is not a version text of 25 decimal digits"},
        {{"create", "-o", out_, "--model", "MONITOR-NAME-17CH", "--version", kVersion, "--set", kKey,
          "--component", "2=" + fw_},
         "is not a model name of 1 to 16 characters"},
        {{"create", "-o", out_, "--model", "", "--version", kVersion, "--set", kKey, "--component", "2=" + fw_},
         "is not a model name of 1 to 16 characters"},
        {Image({}), "needs -o OUT, --model NAME, --type T and --file F"},
        {Image({"--type", "9"}), "the component type is not 1 to 6"},
        {Image({"--type", "5", "--version-field", "123"}), "is not a version field of 5 decimal digits"},
        {Image({"--type", "5", "--seconds", "99999999999999999999999"}), "is not a number from 0 to 65535"},
        {Image({"--type", "5", "--attribute", "+1"}), "'+1' is not a number from 0 to 255"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const RunResult r = RunTool(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(LineCount(r.err), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("vfwtool: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out_));
    }
}

TEST_F(UsageTest, BadComponentFilesExit1NamingTheFile) {
    const std::string empty = dir_.File("empty.bin");
    WriteFile(empty, {});
    const std::string missing = dir_.File("missing.bin");
    struct Case {
        std::vector<std::string> args;
        std::string file;
        const char* fault;
    };
    const Case cases[] = {
        {Create({"--component", "3=" + missing}), missing, "cannot open"},
        {Create({"--component", "3=" + empty}), empty, "is empty"},
        {Create({"--component", "3=" + dir_.File("")}), dir_.File(""), "cannot read"},
        {Image({"--type", "2"}, missing), missing, "cannot open"},
        {Image({"--type", "2"}, empty), empty, "is empty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + " " + c.fault);
        const RunResult r = RunTool(c.args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(LineCount(r.err), 1u) << r.err;
        EXPECT_EQ(r.err.rfind(c.file + ": ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.fault), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out_));
    }
}

TEST_F(UsageTest, OutputThatCannotBeWrittenExits1NamingIt) {
    const std::string out = dir_.File("missing-dir/p.pkg");
    for (auto args : {Create({}), Image({"--type", "2"})}) {
        args[2] = out;  // the value of -o
        const RunResult r = RunTool(args);
        EXPECT_EQ(r.code, 1) << args[0];
        EXPECT_EQ(r.err, out + ": cannot be written\n");
    }
}

TEST_F(UsageTest, OptionsTakeTheirValueAfterEqualsAndDashDashEndsThem) {
    const std::string dashed = dir_.File("-dashed.img");
    ASSERT_EQ(RunTool({"image", "-o", dashed, "--model=M", "--type=2", "--file=" + fw_}).code, 0);
    // A file named like an option is reached after "--".
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_.File(""));
    const RunResult r = RunTool({"check", "--", "-dashed.img"});
    const int withoutDashes = RunTool({"check", "-dashed.img"}).code;
    std::filesystem::current_path(previous);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "-dashed.img: image, kind 1, type 2, 9 bytes\n");
    EXPECT_EQ(withoutDashes, 2);
}

TEST_F(UsageTest, OptionsMayStandBeforeTheCommandAndTakeAttachedValues) {
    const std::string dashed = dir_.File("-dashed.img");
    const RunResult made = RunTool({"-o" + dashed, "--model=M", "image", "--type", "2", "--file", fw_});
    ASSERT_EQ(made.code, 0) << made.err;
    const RunResult json = RunTool({"--json", "info", "--", dashed});
    EXPECT_EQ(json.code, 0) << json.err;
    EXPECT_EQ(json.out, RunTool({"info", dashed, "--json"}).out);

    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--json", "check", img_}, "check: unknown option --json"},
        {{"--set", "1", "--set", "2", "extract", img_, "--type", "2", "-o", out_}, "extract: --set is given twice"},
        {{"-o", out_}, "no command given"},
        {{"--jso", "info", img_}, "vfwtool: unknown option --jso"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const RunResult r = RunTool(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

TEST_F(UsageTest, HelpIsUsageOnStdout) {
    struct Case {
        std::vector<std::string> args;
        int code;
    };
    for (const Case& c : {Case{{"--help"}, 0}, Case{{"-h"}, 0}, Case{{"create", "--model", "M", "--help"}, 0},
                          Case{{"info", "--help"}, 0}, Case{{}, 2}}) {
        const RunResult r = RunTool(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out.rfind("usage: vfwtool COMMAND", 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

}  // namespace
