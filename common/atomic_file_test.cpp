#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <vector>

#include "common/file_size_limit_testing.h"
#include "common/system_failure.h"

namespace {

class AtomicFileTest : public ::testing::Test {
protected:
    AtomicFileTest() {
        std::string pattern = (std::filesystem::temp_directory_path() / "atomic-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        path_ = (dir_ / "file").string();
    }
    ~AtomicFileTest() override { std::filesystem::remove_all(dir_); }

    std::string Contents() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
        return names;
    }
    static std::span<const std::uint8_t> Bytes(std::string_view s) {
        return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
    }

    std::filesystem::path dir_;
    std::string path_;
};

TEST_F(AtomicFileTest, ReplacesTheFileWhole) {
    ASSERT_TRUE(WriteFileAtomically(path_, Bytes("old contents")));
    ASSERT_TRUE(WriteFileAtomically(path_, Bytes("new")));
    EXPECT_EQ(Contents(), "new");
    EXPECT_EQ(Names(), std::vector<std::string>{"file"});
}

// Root replacing a user's file (an update finished through sudo) leaves it the user's.
TEST_F(AtomicFileTest, AReplacedFileKeepsItsOwner) {
    if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    ASSERT_TRUE(WriteFileAtomically(path_, Bytes("user's")));
    ASSERT_EQ(chown(path_.c_str(), 1234, 5678), 0);
    ASSERT_TRUE(WriteFileAtomically(path_, Bytes("rewritten by root")));
    struct stat st {};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
    EXPECT_EQ(Contents(), "rewritten by root");
}

TEST_F(AtomicFileTest, WriteAtFillsInEarlierBytes) {
    AtomicFileWriter writer(path_);
    ASSERT_TRUE(writer.Write(Bytes("..cdef")));
    ASSERT_TRUE(writer.WriteAt(0, Bytes("ab")));
    ASSERT_TRUE(writer.Commit());
    EXPECT_EQ(Contents(), "abcdef");
}

TEST_F(AtomicFileTest, AbandonedWriteLeavesTheOldFileAndNoTemporary) {
    ASSERT_TRUE(WriteFileAtomically(path_, Bytes("old")));
    {
        AtomicFileWriter writer(path_);
        ASSERT_TRUE(writer.Write(Bytes("half of the new")));
    }  // never committed
    EXPECT_EQ(Contents(), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"file"});
}

TEST_F(AtomicFileTest, AWriteThatFailsHalfWayKeepsTheOldFile) {
    ASSERT_TRUE(WriteFileAtomically(path_, Bytes("old")));
    const std::vector<std::uint8_t> big(5000, 'x');
    std::string fault;
    bool ok;
    {
        ScopedFileSizeLimit limit(1000);
        ok = WriteFileAtomically(path_, big, &fault);
    }

    EXPECT_FALSE(ok);
    EXPECT_NE(fault.find("cannot write"), std::string::npos) << fault;
    EXPECT_EQ(Contents(), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"file"});
}

TEST_F(AtomicFileTest, FailuresSayWhyAndLeaveNothing) {
    std::string fault;
    EXPECT_FALSE(WriteFileAtomically((dir_ / "none" / "file").string(), Bytes("x"), &fault));
    EXPECT_NE(fault.find("No such file"), std::string::npos) << fault;

    // A directory cannot be replaced by a file; the temporary file goes again.
    std::filesystem::create_directory(path_);
    EXPECT_FALSE(WriteFileAtomically(path_, Bytes("x"), &fault));
    EXPECT_NE(fault.find("cannot replace"), std::string::npos) << fault;
    EXPECT_EQ(Names(), std::vector<std::string>{"file"});
}

// Each failure leaves the call and the target's path as this thread's system
// failure, for the message that reports it.
TEST_F(AtomicFileTest, FailuresAreNotedWithTheTargetsPath) {
    const std::vector<std::uint8_t> big(5000, 'x');
    const struct {
        const char* name;
        std::string path;
        std::function<void()> prepare;
        std::optional<rlim_t> sizeLimit;
        SystemFailure expected;
    } cases[] = {
        {"missing directory", (dir_ / "none" / "file").string(), [] {}, std::nullopt,
         {"cannot create a file beside " + (dir_ / "none" / "file").string(), ENOENT}},
        {"directory in the way", path_, [this] { std::filesystem::create_directory(path_); }, std::nullopt,
         {"cannot replace " + path_, EISDIR}},
        {"file size limit", (dir_ / "big").string(), [] {}, 1000, {"cannot write " + (dir_ / "big").string(), EFBIG}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        NoteSystemFailure("an earlier failure", EIO);
        std::optional<ScopedFileSizeLimit> limit;
        if (c.sizeLimit) limit.emplace(*c.sizeLimit);
        EXPECT_FALSE(WriteFileAtomically(c.path, big));
        limit.reset();
        EXPECT_EQ(TakeSystemFailure(), c.expected);
    }
}

TEST_F(AtomicFileTest, AWriteForgetsAnEarlierFailure) {
    NoteSystemFailure("cannot replace " + path_, EISDIR);
    ASSERT_TRUE(WriteFileAtomically(path_, Bytes("x")));
    EXPECT_EQ(TakeSystemFailure(), std::nullopt);
}

}  // namespace
