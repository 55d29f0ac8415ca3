// The socket directory, made when missing.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "common/temp_dir_testing.h"
#include "tools/monitor-emulator/socket_dir.h"

namespace {

unsigned Mode(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return 0;
    return status.st_mode & 07777;
}

TEST(SocketDirTest, MakesTheMissingFoldersForThisUserOnly) {
    TempDir temp;
    const std::string base = temp.Path();
    const unsigned baseMode = Mode(base);
    std::string fault;
    ASSERT_TRUE(MakeSocketDir(base + "/run/emulator/sockets/", fault)) << fault;
    for (const char* made : {"/run", "/run/emulator", "/run/emulator/sockets"}) {
        EXPECT_TRUE(std::filesystem::is_directory(base + made)) << made;
        EXPECT_EQ(Mode(base + made), 0700u) << made;
    }
    EXPECT_EQ(Mode(base), baseMode);

    // An existing folder is taken as it is.
    std::filesystem::permissions(base + "/run", std::filesystem::perms(0755));
    ASSERT_TRUE(MakeSocketDir(base + "/run", fault)) << fault;
    EXPECT_EQ(Mode(base + "/run"), 0755u);
}

TEST(SocketDirTest, NamesTheFolderThatCannotBeMade) {
    TempDir temp;
    const std::string file = temp.Path() + "/file";
    std::ofstream(file) << "not a folder";
    std::string fault;
    EXPECT_FALSE(MakeSocketDir(file + "/sockets/more", fault));
    EXPECT_EQ(fault, "cannot create the directory " + file + "/sockets: Not a directory");
}

}  // namespace
