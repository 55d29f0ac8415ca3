// The monitor selection's decisions: the resumable monitor, the recorded
// monitor, the plain list, and device changes while the list shows.
#include "app/monitor_selection.h"

#include <grp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "app/app_testing.h"
#include "common/unique_fd.h"
#include "monitor/transactions.h"

namespace {

using namespace app_testing;

struct Plugged {
    MonitorKind kind;
    const char* serial;
    bool stopped;  // stopped in an update
    bool identityWhenStopped = true;  // false: its identity cannot be read while stopped
};

class SelectionTest : public ::testing::Test {
protected:
    Monitor& Plug(const Plugged& p) {
        MonitorConfig config;
        config.kind = p.kind;
        config.serial = p.serial;
        config.model = "QX2701";
        config.transferTime = {0, 0};
        config.identityOutsideFirmware = p.identityWhenStopped;
        if (p.stopped) StartStoppedInUpdate(config, bench.dir.File(std::string("state-") + p.serial));
        return bench.platform.Add(config);
    }

    // A monitor that lost its power in its update state: it powers on stopped in an update.
    static void StartStoppedInUpdate(MonitorConfig& config, const std::string& statePath) {
        MonitorState state = Monitor(config).State();
        state.mode = MonitorMode::Update;
        std::string fault;
        ASSERT_TRUE(SaveStateFile(statePath, state, &fault)) << fault;
        config.statePath = statePath;
    }

    static std::string SerialOf(MonitorHandle h) {
        std::array<char, 10> serial{};
        if (IsFailure(MonGetSerialNumber(h, serial))) return "?";
        return serial.data();
    }

    // Whether the monitor shows its identification: the indicator holds 0x8000 when switched off.
    static bool Identifying(MonitorHandle h) {
        std::int32_t value = -1;
        EXPECT_EQ(MonReadValue(h, 0xFF00, 0x000F, value), 0u);
        return value != 0x8000 && value != 0;
    }

    Bench bench;
};

struct DecisionCase {
    const char* name;
    std::vector<Plugged> monitors;
    std::uint32_t mode;            // the backup file's loader flag
    const char* recordedSerial;    // "" without a backup file naming the monitor
    SelectionResult result;
    TextId message;                // 0: none
    const char* chosen;            // serial of the chosen monitor, "" for none
    std::uint32_t loaderFlag;
};

constexpr MonitorKind kNative = MonitorKind::OlderNative;
constexpr MonitorKind kTunnel = MonitorKind::OlderTunnel;
constexpr MonitorKind kCombined = MonitorKind::CombinedTunnel;

const DecisionCase kDecisions[] = {
    {"ListsWithoutABackupFile", {{kNative, "AAAAAAAA", false}, {kCombined, "BBBBBBBB", false}}, 0, "",
     SelectionResult::List, 0, "", 0},
    {"ListsNothingWhenNothingIsConnected", {}, 0, "", SelectionResult::List, 0, "", 0},
    {"AResumableMonitorWithoutABackupFileIsRefused", {{kCombined, "AAAAAAAA", false}, {kTunnel, "BBBBBBBB", true}},
     0, "", SelectionResult::Cancel, text_id::kSamePc, "", 0},
    {"TheResumableMonitorIsChosen", {{kCombined, "AAAAAAAA", false}, {kTunnel, "SN000001", true}}, 1, "SN000001",
     SelectionResult::Ok, 0, "SN000001", 1},
    {"TheResumableOlderNativeMonitorIsChosen", {{kNative, "SN000001", true}}, 1, "SN000001", SelectionResult::Ok, 0,
     "SN000001", 1},
    {"NoResumableMonitorNamesTheRecordedOne", {{kCombined, "AAAAAAAA", false}}, 1, "SN000001",
     SelectionResult::Cancel, text_id::kMonitorNotFound, "", 0},
    {"TwoResumableMonitorsAreRefused", {{kTunnel, "AAAAAAAA", true}, {kCombined, "SN000001", true}}, 1, "SN000001",
     SelectionResult::Cancel, text_id::kOnlyOneMonitor, "", 0},
    {"TheRecordedMonitorIsChosenAmongOthers",
     {{kNative, "AAAAAAAA", false}, {kTunnel, "SN000001", false}, {kCombined, "CCCCCCCC", false}}, 0, "SN000001",
     SelectionResult::Ok, 0, "SN000001", 0},
    {"TheRecordedMonitorBesideAResumableOneIsRefused", {{kTunnel, "SN000001", false}, {kCombined, "BBBBBBBB", true}},
     0, "SN000001", SelectionResult::Cancel, text_id::kOnlyOneMonitor, "", 0},
    {"AMissingRecordedMonitorIsNamed", {{kTunnel, "AAAAAAAA", false}}, 0, "SN000001", SelectionResult::Cancel,
     text_id::kMonitorNotFound, "", 0},
    // The backup file was written before the monitor entered its update state,
    // and the monitor lost power there: it is resumed as the waiting monitor it is.
    {"TheRecordedMonitorStoppedInAnUpdateIsResumed", {{kCombined, "SN000001", true}, {kNative, "AAAAAAAA", false}}, 0,
     "SN000001", SelectionResult::Ok, 0, "SN000001", 1},
    {"TheRecordedOlderNativeMonitorStoppedInAnUpdateIsResumed", {{kNative, "SN000001", true}}, 0, "SN000001",
     SelectionResult::Ok, 0, "SN000001", 1},
    {"AnotherMonitorStoppedInAnUpdateIsNotTakenForTheRecordedOne", {{kTunnel, "AAAAAAAA", true}}, 0, "SN000001",
     SelectionResult::Cancel, text_id::kMonitorNotFound, "", 0},
    // Any monitor could be the one waiting: the package would be checked against
    // the record's model, not the monitor's.
    {"AMonitorStoppedInAnUpdateWhoseIdentityCannotBeReadIsNotTakenForTheRecordedOne",
     {{kTunnel, "AAAAAAAA", true, false}}, 0, "SN000001", SelectionResult::Cancel, text_id::kMonitorNotFound, "", 0},
    {"TheRecordedNativeMonitorWhoseIdentityCannotBeReadWhileStoppedIsNotTaken", {{kNative, "SN000001", true, false}},
     0, "SN000001", SelectionResult::Cancel, text_id::kMonitorNotFound, "", 0},
    // The update had restarted the monitor into its firmware before it broke off.
    {"TheRecordedMonitorRunningAgainIsResumed", {{kTunnel, "SN000001", false}, {kCombined, "BBBBBBBB", false}}, 1,
     "SN000001", SelectionResult::Ok, 0, "SN000001", 0},
    // The record expects a monitor waiting in an update: the one waiting is taken
    // when its identity cannot be read, never when it can and is another's.
    {"AWaitingMonitorOfAnotherIdentityIsNotResumed", {{kTunnel, "AAAAAAAA", true}}, 1, "SN000001",
     SelectionResult::Cancel, text_id::kMonitorNotFound, "", 0},
    {"AWaitingMonitorWhoseIdentityCannotBeReadIsResumed", {{kTunnel, "SN000001", true, false}}, 1, "SN000001",
     SelectionResult::Ok, 0, "?", 1},
    // A serial number the monitor pads with zero bytes is the text before them,
    // in the record as on the monitor.
    {"ARecordedSerialShorterThanItsFieldIsFound", {{kTunnel, "SN12", false}, {kCombined, "BBBBBBBB", false}}, 0,
     "SN12", SelectionResult::Ok, 0, "SN12", 0},
    {"ARecordedSerialShorterThanItsFieldRunningAgainIsResumed", {{kNative, "SN12", false}}, 1, "SN12",
     SelectionResult::Ok, 0, "SN12", 0},
    {"ARecordedSerialShorterThanItsFieldStoppedInAnUpdateIsResumed", {{kCombined, "SN12", true}}, 0, "SN12",
     SelectionResult::Ok, 0, "SN12", 1},
    // Nothing tells two monitors of one identity apart: taking the first could
    // update the other one.
    {"TwoMonitorsOfTheRecordedIdentityAreRefused", {{kTunnel, "SN000001", false}, {kCombined, "SN000001", false}}, 0,
     "SN000001", SelectionResult::Cancel, text_id::kSameIdentityTwice, "", 0},
    {"TwoMonitorsOfTheRecordedIdentityRunningAgainAreRefused",
     {{kNative, "SN000001", false}, {kCombined, "SN000001", false}}, 1, "SN000001", SelectionResult::Cancel,
     text_id::kSameIdentityTwice, "", 0},
};

class DecisionTest : public SelectionTest, public ::testing::WithParamInterface<DecisionCase> {};
INSTANTIATE_TEST_SUITE_P(Cases, DecisionTest, ::testing::ValuesIn(kDecisions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(DecisionTest, DecidesAsTheMonitorsPresentThemselves) {
    const DecisionCase& c = GetParam();
    for (const Plugged& p : c.monitors) Plug(p);
    const std::string model = *c.recordedSerial ? "QX2701" : "";
    MonitorSelection selection(model, c.recordedSerial);

    const SelectionResult result = selection.Discover(c.mode, model, c.recordedSerial);

    EXPECT_EQ(result, c.result);
    const std::optional<UserMessage> message = selection.TakeMessage();
    EXPECT_EQ(message ? message->text : 0u, c.message);
    if (message && (c.message == text_id::kMonitorNotFound || c.message == text_id::kOnlyOneMonitor)) {
        EXPECT_EQ(message->arguments, (std::vector<MessageArgument>{std::string("QX2701"), std::string("SN000001")}));
    }
    if (message && c.message == text_id::kSameIdentityTwice) {
        // The devices follow the identity: the only way to tell the two monitors apart.
        std::string devices;
        const std::uint32_t count = MonOpenDevices(kFamilyNormal);
        for (std::uint32_t i = 0; i < count; ++i) {
            MonitorHandle h = kNoMonitor;
            ASSERT_EQ(MonGetDevice(kFamilyNormal, i, &h), 0u);
            devices += (devices.empty() ? "" : ", ") + MonGetDevicePath(h);
        }
        ASSERT_EQ(count, 2u);
        EXPECT_EQ(message->arguments,
                  (std::vector<MessageArgument>{std::string("QX2701"), std::string("SN000001"), devices}));
    }
    EXPECT_FALSE(selection.TakeMessage()) << "a message is taken once";
    if (result == SelectionResult::Ok) {
        EXPECT_EQ(SerialOf(selection.Confirm(std::nullopt)), c.chosen);
        EXPECT_EQ(selection.ChosenLoaderFlag(), c.loaderFlag);
    }
    // Only the plain list honours device changes.
    EXPECT_EQ(selection.ListeningForDevices(), *c.recordedSerial == '\0' && c.mode != 1);
}

TEST_F(SelectionTest, TheListShowsEachMonitorsIdentityInDiscoveryOrder) {
    Plug({kNative, "AAAAAAAA", false});
    Plug({kCombined, "BBBBBBBB", false});
    MonitorSelection selection("", "");
    ASSERT_EQ(selection.Discover(0, "", ""), SelectionResult::List);
    std::vector<std::string> lines;
    for (const MonitorEntry& e : selection.Entries()) lines.push_back(e.Line());
    EXPECT_EQ(lines, (std::vector<std::string>{"Name:QX2701  S/N:AAAAAAAA", "Name:QX2701  S/N:BBBBBBBB"}));
}

TEST_F(SelectionTest, TheSelectedMonitorAloneIdentifiesItselfUntilTheChoiceIsMade) {
    Plug({kNative, "AAAAAAAA", false});
    Plug({kCombined, "BBBBBBBB", false});
    MonitorSelection selection("", "");
    ASSERT_EQ(selection.Discover(0, "", ""), SelectionResult::List);
    const MonitorHandle first = selection.Entries()[0].monitorHandle;
    const MonitorHandle second = selection.Entries()[1].monitorHandle;

    selection.Select(0);
    EXPECT_TRUE(Identifying(first));
    EXPECT_FALSE(Identifying(second));
    selection.Select(1);
    EXPECT_FALSE(Identifying(first));
    EXPECT_TRUE(Identifying(second));

    EXPECT_EQ(selection.Confirm(1), second);
    EXPECT_FALSE(Identifying(second));
    EXPECT_TRUE(selection.Entries().empty());
}

TEST_F(SelectionTest, CancellingSwitchesTheIdentificationOff) {
    Plug({kTunnel, "AAAAAAAA", false});
    MonitorSelection selection("", "");
    ASSERT_EQ(selection.Discover(0, "", ""), SelectionResult::List);
    const MonitorHandle only = selection.Entries()[0].monitorHandle;
    selection.Select(0);
    ASSERT_TRUE(Identifying(only));
    selection.Cancel(0);
    EXPECT_FALSE(Identifying(only));
    EXPECT_TRUE(selection.Entries().empty());
}

TEST_F(SelectionTest, AMakersDeviceArrivingRebuildsTheList) {
    Plug({kNative, "AAAAAAAA", false});
    MonitorSelection selection("", "");
    ASSERT_EQ(selection.Discover(0, "", ""), SelectionResult::List);
    Monitor& added = Plug({kCombined, "BBBBBBBB", false});
    std::string path = bench.platform.PathOf(added);
    std::transform(path.begin(), path.end(), path.begin(), [](unsigned char ch) { return std::tolower(ch); });

    const DeviceEvent foreign{DeviceEvent::Kind::Arrival, "/dev/hidraw3#VID_046D&PID_C52B#1"};
    EXPECT_FALSE(selection.OnDeviceChange(&foreign));
    EXPECT_EQ(selection.Entries().size(), 1u);
    EXPECT_FALSE(selection.OnDeviceChange(nullptr));

    const DeviceEvent arrival{DeviceEvent::Kind::Arrival, path};
    EXPECT_TRUE(selection.OnDeviceChange(&arrival));
    EXPECT_EQ(selection.Entries().size(), 2u);

    bench.platform.Unplug(added);
    const DeviceEvent removal{DeviceEvent::Kind::Removal, path};
    EXPECT_TRUE(selection.OnDeviceChange(&removal));
    EXPECT_EQ(selection.Entries().size(), 1u);
}

TEST_F(SelectionTest, AfterAnAutomaticChoiceDeviceChangesAreIgnored) {
    Plug({kNative, "SN000001", false});
    MonitorSelection selection("QX2701", "SN000001");
    ASSERT_EQ(selection.Discover(0, "QX2701", "SN000001"), SelectionResult::Ok);
    const DeviceEvent arrival{DeviceEvent::Kind::Arrival, "emulated:VID_7E51&PID_4001#9"};
    EXPECT_FALSE(selection.OnDeviceChange(&arrival));
}

TEST(DeviceChange, OnlyTheMakersVendorIdsCountInAnyCase) {
    struct Case {
        const char* path;
        DeviceEvent::Kind kind;
        DeviceChange change;
    };
    const Case cases[] = {
        {"/dev/hidraw0#VID_7E51&PID_4001#3", DeviceEvent::Kind::Arrival, DeviceChange::MakerArrival},
        {"/dev/hidraw0#vid_7e52&pid_4102#3", DeviceEvent::Kind::Removal, DeviceChange::MakerRemoval},
        {"emulated:Vid_7E53&PID_0006#12", DeviceEvent::Kind::Arrival, DeviceChange::MakerArrival},
        {"/dev/hidraw0#VID_7E54&PID_4001#3", DeviceEvent::Kind::Arrival, DeviceChange::Other},
        {"/dev/hidraw0#VID_046D&PID_7E51#3", DeviceEvent::Kind::Arrival, DeviceChange::Other},
        {"", DeviceEvent::Kind::Removal, DeviceChange::Other},
    };
    for (const Case& c : cases) {
        const DeviceEvent event{c.kind, c.path};
        EXPECT_EQ(IsMakerDeviceChange(&event), c.change) << c.path;
    }
    EXPECT_EQ(IsMakerDeviceChange(nullptr), DeviceChange::Other);
}

TEST_F(SelectionTest, AnUnreadableIdentityGivesEmptyTexts) {
    Monitor& monitor = Plug({kTunnel, "AAAAAAAA", false});
    const MonitorHandle h = bench.Open("AAAAAAAA");
    EXPECT_EQ(ReadMonitorEntry(h).Line(), "Name:QX2701  S/N:AAAAAAAA");
    bench.platform.Unplug(monitor);
    const MonitorEntry entry = ReadMonitorEntry(h);
    EXPECT_EQ(entry.identity.model, "");
    EXPECT_EQ(entry.identity.serial, "");
    EXPECT_EQ(entry.monitorHandle, h);
}

}  // namespace

namespace {

// A device of the maker that this user may not open: a socket file of the
// emulated backend without write permission, as a hidraw node without a
// device rule. Runs in a child process as an unprivileged user, since root
// passes every permission check.
void ExpectRefusedDevicesSaySo(const std::string& folder) {
    if (::geteuid() == 0) {
        constexpr uid_t kNobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
            ::setresuid(kNobody, kNobody, kNobody) != 0)
            std::_Exit(10);
    }
    VirtualClock clock{1'000'000};
    ScopedClock useClock{clock};
    const std::unique_ptr<HidPlatform> emulated = MakeEmulatedPlatform(folder, 100);
    ScopedHidPlatform usePlatform{*emulated};
    if (MonCountRefusedDevices() != 1) std::_Exit(11);
    MonitorSelection selection("", "");
    if (selection.Discover(0, "", "") != SelectionResult::Cancel) std::_Exit(12);
    const std::optional<UserMessage> message = selection.TakeMessage();
    if (!message || message->text != text_id::kDevicesRefused || message->icon != MessageIcon::Error) std::_Exit(13);
    std::_Exit(0);
}

class RefusedDeviceTest : public ::testing::Test {
protected:
    RefusedDeviceTest() { std::filesystem::permissions(folder.File(""), std::filesystem::perms(0755)); }

    // A socket file named as a device; nothing listens on it.
    void AddDevice(const std::string& name, std::filesystem::perms perms) {
        const std::string path = folder.File(name);
        sockets.emplace_back(::socket(AF_UNIX, SOCK_SEQPACKET, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        ASSERT_EQ(::bind(sockets.back().get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        std::filesystem::permissions(path, perms);
    }

    TempDir folder;
    std::vector<UniqueFd> sockets;
};

TEST_F(RefusedDeviceTest, AMonitorThisUserMayNotOpenIsNamedInsteadOfAnEmptyList) {
    AddDevice("VID_7E51&PID_4001#0001", std::filesystem::perms::none);
    AddDevice("VID_046D&PID_C52B#0001", std::filesystem::perms::none);  // not the maker's: not counted
    EXPECT_EXIT(ExpectRefusedDevicesSaySo(folder.File("")), ::testing::ExitedWithCode(0), "");
}

TEST_F(RefusedDeviceTest, AnOpenableDeviceIsNoPermissionProblem) {
    AddDevice("VID_7E52&PID_4102#0001", std::filesystem::perms::all);
    EXPECT_EXIT(ExpectRefusedDevicesSaySo(folder.File("")), ::testing::ExitedWithCode(11), "");
}

}  // namespace
