// The device rule's group: the monitors' hidraw nodes belong to the group
// quillon with mode 0660, so that its members open them without a seat (a
// login over ssh gets no uaccess), and a node stays root's alone where the
// group does not exist. run-in-guest makes the group and two users,
// quillon-member in it and quillon-other not; the guest has no logind, so no
// node gets a seat's access list.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/message_catalogue.h"
#include "app/monitor_selection.h"
#include "kernel/emulator_process.h"
#include "kernel/kernel_testing.h"
#include "monitor/discovery.h"

namespace {

using namespace kernel_testing;

constexpr const char* kGroup = "quillon";
constexpr const char* kMissingGroup = "quillon-missing";

// Whether udevd's database holds the tag "uaccess" for the device node: read
// from the file, since a udevadm run per poll would take the CPU from udevd.
bool TaggedUaccess(const std::string& node) {
    struct stat status {};
    if (::stat(node.c_str(), &status) != 0) return false;
    const std::string db = ReadFile("/run/udev/data/c" + std::to_string(major(status.st_rdev)) + ":" +
                                    std::to_string(minor(status.st_rdev)));
    return ("\n" + db).find("\nG:uaccess\n") != std::string::npos;
}

// Drops every registered monitor before and after each test; the monitors are
// found through the hidraw backend.
class GroupTest : public ::testing::Test {
protected:
    GroupTest() { MonCloseDevices(0xFFFFFFFF); }
    ~GroupTest() override { MonCloseDevices(0xFFFFFFFF); }

    // Plugs `kind` in on USB and returns its node (/dev/hidrawN) once udevd
    // has handled it: its database then holds the rule's tag. udevd runs its
    // rules' programs for each of the new device's events, slowly under
    // software emulation, hence twice the kernel's limit.
    std::optional<std::string> PlugInMonitor(const Kind& kind, const std::string& serial) {
        plugged_ = std::make_unique<EmulatorProcess>(EmulatorArgs(Transport::Usb, kind, serial), 1);
        if (!plugged_->Running()) return std::nullopt;
        std::optional<std::string> path;
        if (!WaitUntil([&] { return (path = FindInterface(*hidraw_, kind.vendor)).has_value(); }, kArrivalLimitMs)) {
            ADD_FAILURE() << "no hidraw interface of vendor " << std::hex << kind.vendor;
            return std::nullopt;
        }
        const std::string node = path->substr(0, path->find('#'));
        if (!WaitUntil([&] { return TaggedUaccess(node); }, 2 * kArrivalLimitMs)) {
            ADD_FAILURE() << "udevd has not tagged " << *path << ":\n"
                          << CommandOutput("udevadm info " + SysPathOf(*path));
            return std::nullopt;
        }
        return node;
    }

private:
    std::unique_ptr<HidPlatform> hidraw_ = MakeHidrawPlatform();
    ScopedHidPlatform useHidraw_{*hidraw_};
    std::unique_ptr<EmulatorProcess> plugged_;
};

// The project's device rule with `group` in place of quillon; nullopt unless
// each of its three lines named quillon.
std::optional<std::string> RuleNaming(const std::string& group) {
    std::string rule = ReadFile(QUILLON_SOURCE_DIR "/packaging/70-quillon-monitors.rules");
    const std::string from = std::string("GROUP=\"") + kGroup + "\"";
    const std::string to = "GROUP=\"" + group + "\"";
    int named = 0;
    for (std::size_t at = 0; (at = rule.find(from, at)) != std::string::npos; at += to.size(), ++named)
        rule.replace(at, from.size(), to);
    if (named != 3) return std::nullopt;
    return rule;
}

std::optional<gid_t> GroupId(const char* name) {
    const group* entry = ::getgrnam(name);
    if (entry == nullptr) return std::nullopt;
    return entry->gr_gid;
}

struct NodeCase {
    const char* name;
    Kind kind;
    bool groupExists;  // else the rule names a group the system does not have
};

void PrintTo(const NodeCase& c, std::ostream* os) { *os << c.name; }

class GroupNodeTest : public GroupTest, public ::testing::WithParamInterface<NodeCase> {};

// udevd gives each vendor's node to the group, 0660; an unknown group is
// ignored and the node keeps root's 0600, never opened to the group root or
// to everyone, while the user at the seat keeps the rule's tag.
TEST_P(GroupNodeTest, TheNodeIsTheGroupsWhereItExistsElseRootsAlone) {
    const NodeCase& c = GetParam();
    const std::optional<gid_t> quillon = GroupId(kGroup);
    ASSERT_TRUE(quillon) << "run-in-guest makes the group " << kGroup;
    ASSERT_FALSE(GroupId(kMissingGroup));
    const std::optional<std::string> rule = RuleNaming(c.groupExists ? kGroup : kMissingGroup);
    ASSERT_TRUE(rule);
    const InstalledDeviceRule installed(*rule);
    ASSERT_TRUE(installed.Loaded());

    const std::optional<std::string> node = PlugInMonitor(c.kind, "KRN00011");
    ASSERT_TRUE(node);
    struct stat status {};
    ASSERT_EQ(::stat(node->c_str(), &status), 0) << *node;
    EXPECT_EQ(status.st_uid, 0u);
    EXPECT_EQ(status.st_gid, c.groupExists ? *quillon : 0u);
    EXPECT_EQ(status.st_mode & 07777, c.groupExists ? 0660u : 0600u) << "mode " << std::oct << (status.st_mode & 07777);
}

INSTANTIATE_TEST_SUITE_P(Kernel, GroupNodeTest,
                         ::testing::Values(NodeCase{"older_native", kOlderNative, true},
                                           NodeCase{"older_tunnel", kOlderTunnel, true},
                                           NodeCase{"missing_group", kOlderNative, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct UserCase {
    const char* user;
    bool member;
};

void PrintTo(const UserCase& c, std::ostream* os) { *os << c.user; }

// Runs in a child process as `c.user`, with the groups the group file gives
// that user, as a login does (root would pass every permission check):
// a member opens the node and the selection lists the monitor; anyone else
// gets EACCES, the monitor is counted as refused and the selection says why.
[[noreturn]] void ActAs(const UserCase& c, const std::string& node, gid_t quillon, const std::string& serial) {
    const passwd* user = ::getpwnam(c.user);
    if (user == nullptr || ::initgroups(c.user, user->pw_gid) != 0 ||
        ::setresgid(user->pw_gid, user->pw_gid, user->pw_gid) != 0 ||
        ::setresuid(user->pw_uid, user->pw_uid, user->pw_uid) != 0)
        std::_Exit(10);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    if (::getgroups(static_cast<int>(groups.size()), groups.data()) < 0 ||
        (std::find(groups.begin(), groups.end(), quillon) != groups.end()) != c.member)
        std::_Exit(11);

    const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    const int openError = errno;
    if (fd >= 0) ::close(fd);
    if (c.member ? fd < 0 : (fd >= 0 || openError != EACCES)) std::_Exit(12);
    if (MonCountRefusedDevices() != (c.member ? 0u : 1u)) std::_Exit(13);

    MonitorSelection selection("", "");
    const SelectionResult result = selection.Discover(0, "", "");
    const std::optional<UserMessage> message = selection.TakeMessage();
    if (c.member) {
        if (result != SelectionResult::List || message || selection.Entries().size() != 1 ||
            selection.Entries()[0].identity.serial != serial)
            std::_Exit(14);
    } else if (result != SelectionResult::Cancel || !message || message->text != text_id::kDevicesRefused) {
        std::_Exit(15);
    }
    std::_Exit(0);
}

class GroupUserTest : public GroupTest, public ::testing::WithParamInterface<UserCase> {};

TEST_P(GroupUserTest, AMemberNotAtTheSeatOpensTheMonitorAndOthersAreToldWhyNot) {
    const UserCase& c = GetParam();
    const std::optional<gid_t> quillon = GroupId(kGroup);
    ASSERT_TRUE(quillon) << "run-in-guest makes the group " << kGroup;
    const std::optional<std::string> rule = RuleNaming(kGroup);
    ASSERT_TRUE(rule);
    const InstalledDeviceRule installed(*rule);
    ASSERT_TRUE(installed.Loaded());
    const std::optional<std::string> node = PlugInMonitor(kCombinedTunnel, "KRN00006");
    ASSERT_TRUE(node);
    struct stat nodeStatus {};
    ASSERT_EQ(::stat(node->c_str(), &nodeStatus), 0) << *node;
    EXPECT_EQ(nodeStatus.st_gid, *quillon);
    EXPECT_EQ(nodeStatus.st_mode & 07777, 0660u) << "mode " << std::oct << (nodeStatus.st_mode & 07777);
    // No seat, so no access list: the group alone lets the member in.
    errno = 0;
    EXPECT_EQ(::getxattr(node->c_str(), "system.posix_acl_access", nullptr, 0), -1);
    EXPECT_EQ(errno, ENODATA);

    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ActAs(c, *node, *quillon, "KRN00006");
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << c.user
                                      << ": 10: cannot become the user, 11: group membership not as expected, "
                                         "12: the node opened (or refused) wrongly, 13: refused count wrong, "
                                         "14: the monitor is not listed, 15: not cancelled with text 660";
}

INSTANTIATE_TEST_SUITE_P(Kernel, GroupUserTest,
                         ::testing::Values(UserCase{"quillon-member", true}, UserCase{"quillon-other", false}),
                         [](const auto& info) { return std::string(info.param.member ? "member" : "non_member"); });

}  // namespace
