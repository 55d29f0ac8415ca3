#include "common/executable_dir.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(ExecutableDirectory, IsTheDirectoryOfThisTestBinary) {
    const auto dir = ExecutableDirectory();
    ASSERT_TRUE(dir.has_value());
    EXPECT_EQ(dir->front(), '/');
    EXPECT_EQ(dir->back(), '/');
    EXPECT_EQ(access((*dir + "common_test").c_str(), X_OK), 0) << *dir;
}

TEST(DirectoryOf, KeepsEverythingUpToTheLastSlash) {
    const std::pair<std::string, std::string> cases[] = {
        {"/opt/quillon/quillon", "/opt/quillon/"},
        {"/quillon", "/"},
        {"quillon", ""},
        {"a/b/", "a/b/"},
    };
    for (const auto& [path, dir] : cases) EXPECT_EQ(DirectoryOf(path), dir) << path;
}

}  // namespace
