// The command line.
#include <gtest/gtest.h>

#include "tools/monitor-emulator/options.h"

namespace {

std::optional<CommandLine> Parse(std::vector<std::string> args, std::string* errorOut = nullptr) {
    std::string error;
    auto line = ParseCommandLine(args, error);
    if (errorOut) *errorOut = error;
    return line;
}

TEST(OptionsTest, EachKindAfterTheFirstStartsAnotherMonitor) {
    const auto line = Parse({"--dir", "/tmp/m", "--serial", "AAAAAAAA", "--kind", "older-native", "--fault", "busy=3",
                             "--fault", "no-return", "--kind", "older-tunnel", "--restart-seconds", "2", "--area-scale", "16", "--kind",
                             "combined-tunnel", "--firmware-version", "0010200201000030000400005", "--state", "/tmp/s"});
    ASSERT_TRUE(line && line->serve);
    const auto& m = line->serve->monitors;
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].config.kind, MonitorKind::OlderNative);
    EXPECT_EQ(m[0].config.serial, "AAAAAAAA");
    EXPECT_EQ(m[0].config.faults.busyReads, 3u);
    EXPECT_TRUE(m[0].config.faults.noReturn);
    EXPECT_EQ(m[1].config.kind, MonitorKind::OlderTunnel);
    EXPECT_EQ(m[1].config.serial, "EMU00002");
    EXPECT_EQ(m[1].config.restartMs, 2000u);
    EXPECT_EQ(m[1].config.areaScale, 16u);
    EXPECT_EQ(m[2].config.areaScale, 1u);
    EXPECT_EQ(m[1].config.faults.busyReads, 0u);
    EXPECT_EQ(m[2].config.model, "QC27-EMU");
    EXPECT_EQ(m[2].config.firmware, (VersionFields{102, 201, 3, 4, 5}));
    EXPECT_EQ(m[2].config.statePath, "/tmp/s");

    const auto single = Parse({"--dir", "/tmp/m"});
    ASSERT_TRUE(single && single->serve);
    ASSERT_EQ(single->serve->monitors.size(), 1u);
    EXPECT_EQ(single->serve->monitors[0].config.kind, MonitorKind::CombinedTunnel);
}

TEST(OptionsTest, ASerialNumberShorterThanItsFieldIsServed) {
    const auto line = Parse({"--dir", "d", "--serial", "SN12"});
    ASSERT_TRUE(line && line->serve);
    EXPECT_EQ(line->serve->monitors.at(0).config.serial, "SN12");
}

TEST(OptionsTest, IdentityFieldsTakeAnyByteAsAnEscape) {
    struct Case {
        const char* option;
        std::string value;
        std::optional<std::string> served;  // nothing: refused
    };
    const Case cases[]{
        {"--model", R"(QX\x1b[2J\xff\xfe27)", std::string("QX\x1b[2J\xff\xfe" "27")},
        {"--model", R"(A\\B)", "A\\B"},                          // a backslash
        {"--model", R"(\x41\x5a\x5A\x7f)", "AZZ\x7f"},             // either case of hex digit
        {"--model", R"(\\x41)", "\\x41"},                          // an escaped backslash ends the escape
        {"--model", "QX\x01\xc3", "QX\x01\xc3"},                  // raw bytes are taken as they are
        {"--model", std::string(R"(\x41)") + std::string(23, 'B'), "A" + std::string(23, 'B')},  // 24 once decoded
        {"--model", std::string(R"(\x41)") + std::string(24, 'B'), std::nullopt},              // 25 once decoded
        {"--serial", R"(\xff\xfe\xfd\xfc\xfb\xfa\xf9\xf8)", "\xff\xfe\xfd\xfc\xfb\xfa\xf9\xf8"},
        {"--serial", R"(\xff\xfe\xfd\xfc\xfb\xfa\xf9\xf8\xf7)", std::nullopt},  // 9 bytes
        {"--serial", R"(S\x07N)", "S\x07N"},
        {"--model", R"(Q\x00X)", std::nullopt},   // a zero byte would end the model early
        {"--model", R"(Q\x20X)", std::nullopt},   // and so would a space
        {"--model", R"(Q\x)", std::nullopt},
        {"--model", R"(Q\x4)", std::nullopt},
        {"--model", R"(Q\x4g)", std::nullopt},
        {"--model", R"(Q\X41)", std::nullopt},
        {"--model", R"(Q\n)", std::nullopt},
        {"--model", R"(Q\)", std::nullopt},
        {"--serial", R"(\x)", std::nullopt},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto line = Parse({"--dir", "d", c.option, c.value}, &error);
        if (!c.served) {
            EXPECT_FALSE(line) << c.option << " " << c.value;
            EXPECT_NE(error.find(c.option), std::string::npos) << error;
            continue;
        }
        ASSERT_TRUE(line && line->serve) << c.option << " " << c.value << ": " << error;
        const MonitorConfig& config = line->serve->monitors.at(0).config;
        EXPECT_EQ(std::string(c.option) == "--model" ? config.model : config.serial, *c.served)
            << c.option << " " << c.value;
    }
}

TEST(OptionsTest, RefusesWhatCannotBeServed) {
    const std::vector<std::vector<std::string>> cases{
        {"--kind", "older-native"},                                        // no --dir
        {"--dir", "d", "--kind", "newer"},                                 // unknown kind
        {"--dir", "d", "--serial", "TOOLONG12"},                           // more than its field holds
        {"--dir", "d", "--serial", ""},
        {"--dir", "d", "--serial", "AB CD EF"},                            // a space ends the identity fields
        {"--dir", "d", "--model", "has space"},
        {"--dir", "d", "--firmware-version", "0010200201000030000465536"},  // field above 65535
        {"--dir", "d", "--serial", "AAAAAAAA", "--serial", "BBBBBBBB"},    // twice for one monitor
        {"--dir", "d", "--serial", "AAAAAAAA", "--kind", "older-native", "--kind", "older-tunnel", "--serial",
         "AAAAAAAA"},                                                      // one serial for two monitors
        {"--dir", "d", "--restart-seconds", "-1"},
        {"--dir", "d", "--area-scale", "0"},
        {"--dir", "d", "--fault", "melt"},
        {"--dir", "d", "--fault", "busy=0"},
        {"--dir", "d", "--fault", "unplug-at"},                            // needs its transfer number
        {"--dir", "d", "--fault", "no-return=2"},
        {"--dir"},
        {"--uhid", "--usbip"},                                             // two transports at once
        {"--usbip", "--kind", "older-native", "--uhid"},
        {"image", "--component", "PRG999", "--version", "1", "-o", "x"},
        {"image", "--component", "PRG000", "--version", "65536", "-o", "x"},
    };
    for (const auto& args : cases) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error)) << args.back();
        EXPECT_FALSE(error.empty());
    }
}

TEST(OptionsTest, TransportsWithoutADirectory) {
    struct Case {
        const char* flag;
        bool uhid, usbip;
    };
    for (const Case c : {Case{"--uhid", true, false}, Case{"--usbip", false, true}}) {
        const auto line = Parse({c.flag, "--kind", "older-native", "--kind", "older-tunnel"});
        ASSERT_TRUE(line && line->serve) << c.flag;
        EXPECT_EQ(line->serve->uhid, c.uhid);
        EXPECT_EQ(line->serve->usbip, c.usbip);
        EXPECT_EQ(line->serve->monitors.size(), 2u);
    }
}

TEST(OptionsTest, FaultsWithAndWithoutCounts) {
    FaultPlan faults;
    ASSERT_TRUE(ParseFault("calibrating", faults));
    EXPECT_EQ(faults.calibratingReads, FaultPlan::kAlways);
    ASSERT_TRUE(ParseFault("wrong-crc", faults));
    EXPECT_EQ(faults.wrongCrcs, 1u);
    ASSERT_TRUE(ParseFault("unplug-at=40", faults));
    EXPECT_EQ(faults.unplugAtTransfer, 40u);
    ASSERT_TRUE(ParseFault("unplug-after=41", faults));
    EXPECT_EQ(faults.unplugAfterTransfer, 41u);
    EXPECT_FALSE(ParseFault("unplug-after", faults));  // needs its transfer number
    ASSERT_TRUE(ParseFault("chunk-offset=21", faults));
    EXPECT_EQ(faults.wrongChunkOffsets, 21u);
    ASSERT_TRUE(ParseFault("foreign-owner", faults));
    EXPECT_TRUE(faults.foreignOwner);
}

TEST(OptionsTest, ScriptsMayWriteOptionsAsGetoptReadsThem) {
    const auto equals = Parse({"--dir=d", "--kind=older-tunnel", "--fault=busy=2", "--fault", "no-return", "--kind",
                               "older-native", "--serial=AB"});
    ASSERT_TRUE(equals && equals->serve);
    EXPECT_EQ(equals->serve->dir, "d");
    ASSERT_EQ(equals->serve->monitors.size(), 2u);
    EXPECT_EQ(equals->serve->monitors[0].config.faults.busyReads, 2u);
    EXPECT_TRUE(equals->serve->monitors[0].config.faults.noReturn);
    EXPECT_EQ(equals->serve->monitors[1].config.serial, "AB");

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-ofile", "image", "--component=PRG000", "--version", "2"},
          {"--version=2", "--component", "PRG000", "image", "-o", "file"}}) {
        const auto image = Parse(args);
        ASSERT_TRUE(image && image->image) << args.front();
        EXPECT_EQ(image->image->output, "file");
        EXPECT_EQ(image->image->version, 2);
    }

    struct Refused {
        std::vector<std::string> args;
        const char* error;
    };
    const Refused refused[] = {
        {{"--dir", "d", "--", "--uhid"}, "unexpected argument --uhid"},
        {{"--dir", "d", "--uhid=1"}, "--uhid takes no value"},
        {{"--dir", "d", "--serial"}, "--serial needs a value"},
        {{"--dir", "d", "-o", "f"}, "unknown option -o"},
        {{"--di", "d"}, "unknown option --di"},
        {{"image", "--dir", "d"}, "unknown option --dir"},
        {{"image", "image"}, "unexpected argument image"},
    };
    for (const Refused& c : refused) {
        std::string error;
        EXPECT_FALSE(Parse(c.args, &error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
    const auto help = Parse({"--dir", "d", "--kind", "older-native", "-h"});
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->help);
}

TEST(OptionsTest, ImageCommand) {
    const auto line = Parse({"image", "--component", "aic653", "--version", "304", "--length", "1300", "-o", "f"});
    ASSERT_TRUE(line && line->image);
    EXPECT_EQ(line->image->version, 304);
    EXPECT_EQ(line->image->length, 1300u);
}

}  // namespace
