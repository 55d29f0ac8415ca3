// Which state folder a run uses, and which folder of an invoking user it also
// looks in, for each environment, user and sudo setting.
#include "app/state_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "common/temp_dir_testing.h"

namespace {

// A user database of three users; "nohome" has a relative home.
StateEnvironment Environment() {
    static const std::map<uid_t, UserEntry> kUsers{
        {0, {0, "/root"}}, {1000, {1000, "/home/ann"}}, {1001, {1001, "/home/bob"}}, {1002, {1002, "relative"}}};
    static const std::map<std::string, uid_t> kNames{{"root", 0}, {"ann", 1000}, {"bob", 1001}, {"nohome", 1002}};
    StateEnvironment environment;
    environment.effectiveUid = 1000;
    environment.userById = [](uid_t uid) -> std::optional<UserEntry> {
        const auto it = kUsers.find(uid);
        return it == kUsers.end() ? std::nullopt : std::optional(it->second);
    };
    environment.userByName = [](const std::string& name) -> std::optional<UserEntry> {
        const auto it = kNames.find(name);
        return it == kNames.end() ? std::nullopt : std::optional(kUsers.at(it->second));
    };
    return environment;
}

struct FolderCase {
    const char* name;
    std::optional<std::string> xdgStateHome, home;
    uid_t euid;
    std::optional<std::string> sudoUid, sudoUser;
    StateFolders expected;
};

const FolderCase kFolderCases[] = {
    {"XDG_STATE_HOME", "/var/state", "/home/ann", 1000, {}, {}, {"/var/state/quillon", ""}},
    {"no XDG_STATE_HOME: the home", std::nullopt, "/home/ann", 1000, {}, {}, {"/home/ann/.local/state/quillon", ""}},
    {"an empty XDG_STATE_HOME", "", "/home/ann", 1000, {}, {}, {"/home/ann/.local/state/quillon", ""}},
    {"a relative XDG_STATE_HOME", "state", "/home/ann", 1000, {}, {}, {"/home/ann/.local/state/quillon", ""}},
    {"no HOME: the user database", std::nullopt, std::nullopt, 1001, {}, {}, {"/home/bob/.local/state/quillon", ""}},
    {"a relative HOME: the user database", std::nullopt, "home", 1001, {}, {}, {"/home/bob/.local/state/quillon", ""}},
    {"a user without an entry", std::nullopt, std::nullopt, 1500, {}, {}, {"", ""}},
    {"a user whose entry has a relative home", std::nullopt, std::nullopt, 1002, {}, {}, {"", ""}},
    {"root", "/root/.state", "/root", 0, {}, {}, {"/var/lib/quillon", ""}},
    {"sudo from ann, by uid", std::nullopt, "/root", 0, "1000", "ann",
     {"/var/lib/quillon", "/home/ann/.local/state/quillon"}},
    {"sudo: the uid wins over the name", std::nullopt, "/root", 0, "1001", "ann",
     {"/var/lib/quillon", "/home/bob/.local/state/quillon"}},
    {"sudo with the name only", std::nullopt, "/root", 0, std::nullopt, "bob",
     {"/var/lib/quillon", "/home/bob/.local/state/quillon"}},
    {"sudo with a uid that is no number", std::nullopt, "/root", 0, "10x", "ann", {"/var/lib/quillon", ""}},
    {"sudo from an unknown user", std::nullopt, "/root", 0, "4242", std::nullopt, {"/var/lib/quillon", ""}},
    {"sudo from root", std::nullopt, "/root", 0, "0", "root", {"/var/lib/quillon", ""}},
    {"sudo to another user than root", "/x", "/home/bob", 1001, "1000", "ann", {"/x/quillon", ""}},
};

class StateFolderTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(StateFolderTest, FollowsTheUserAndTheEnvironment) {
    const FolderCase& c = GetParam();
    StateEnvironment environment = Environment();
    environment.xdgStateHome = c.xdgStateHome;
    environment.home = c.home;
    environment.effectiveUid = c.euid;
    environment.sudoUid = c.sudoUid;
    environment.sudoUser = c.sudoUser;
    EXPECT_EQ(StateFoldersFor(environment), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, StateFolderTest, ::testing::ValuesIn(kFolderCases), [](const auto& info) {
    std::string name = info.param.name;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

// The folder and its missing parents are made private to the user; one that
// exists is left as it is.
TEST(MakeStateFolder, MakesMissingParentsPrivate) {
    TempDir base;
    std::string failedAt;
    ASSERT_EQ(MakeStateFolder(base.File("a/b/quillon"), failedAt), 0);
    for (const char* folder : {"a", "a/b", "a/b/quillon"}) {
        struct stat st {};
        ASSERT_EQ(::stat(base.File(folder).c_str(), &st), 0) << folder;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }
    EXPECT_EQ(MakeStateFolder(base.File("a/b/quillon"), failedAt), 0);
    ASSERT_EQ(::chmod(base.File("a").c_str(), 0755), 0);
    EXPECT_EQ(MakeStateFolder(base.File("a/b/quillon"), failedAt), 0);
    struct stat st {};
    ASSERT_EQ(::stat(base.File("a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}

}  // namespace
