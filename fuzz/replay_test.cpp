// Replays every committed input of one fuzz target through its own entry
// point, built with the normal compiler, one test per input:
// - regressions/<target>/: the inputs that once crashed, leaked or hung the
//   target (scripts/fuzz keeps them); each must now run through. An empty or
//   missing folder makes no test at all.
// - seeds/<target>/: each seed must still go the whole way through the target
//   (fuzz_target.h), or the fuzzer would start from inputs that reach nothing.
// Tiny inputs are replayed too, and must not go the whole way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFuzzDir = QUILLON_FUZZ_DIR;

std::vector<fs::path> Inputs(const fs::path& dir) {
    std::vector<fs::path> files;
    if (!fs::is_directory(dir)) return files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.') files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> ReadInput(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) ADD_FAILURE() << "cannot read " << file;
    return {std::istreambuf_iterator<char>(in), {}};
}

// A file name as a test name: ctest's filters take '-' and ':' as separators.
std::string TestName(const fs::path& file) {
    std::string name = file.filename().string();
    std::replace_if(name.begin(), name.end(), [](unsigned char c) { return std::isalnum(c) == 0; }, '_');
    return name;
}

class RegressionReplay : public testing::Test {
public:
    explicit RegressionReplay(fs::path file) : file_(std::move(file)) {}
    void TestBody() override {
        const std::vector<std::uint8_t> bytes = ReadInput(file_);
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    }

private:
    fs::path file_;
};

class SeedReplay : public testing::Test {
public:
    explicit SeedReplay(fs::path file) : file_(std::move(file)) {}
    void TestBody() override {
        const std::vector<std::uint8_t> bytes = ReadInput(file_);
        EXPECT_TRUE(fuzz_target::Run(bytes))
            << file_ << " no longer goes the whole way through the " QUILLON_FUZZ_TARGET
            << " target; make the seeds again (fuzz/README.md)";
    }

private:
    fs::path file_;
};

template <typename Replay>
void RegisterEach(const char* suite, const fs::path& dir) {
    for (const fs::path& file : Inputs(dir)) {
        testing::RegisterTest(suite, TestName(file).c_str(), nullptr, nullptr, __FILE__, __LINE__,
                              [file]() -> testing::Test* { return new Replay(file); });
    }
}

// Registered before main() runs the tests, as the TEST macros are.
const bool registered = [] {
    RegisterEach<RegressionReplay>("Regression", kFuzzDir / "regressions" / QUILLON_FUZZ_TARGET);
    RegisterEach<SeedReplay>("Seed", kFuzzDir / "seeds" / QUILLON_FUZZ_TARGET);
    return true;
}();

TEST(Replay, TheCommittedSeedsAreThere) { EXPECT_FALSE(Inputs(kFuzzDir / "seeds" / QUILLON_FUZZ_TARGET).empty()); }

TEST(Replay, TinyInputsRunThroughAndGoNowhere) {
    for (std::size_t size = 0; size <= 16; ++size) {
        SCOPED_TRACE(size);
        const std::vector<std::uint8_t> zeros(size, 0), ones(size, 0xFF);
        EXPECT_FALSE(fuzz_target::Run(zeros));
        EXPECT_FALSE(fuzz_target::Run(ones));
    }
}

}  // namespace
