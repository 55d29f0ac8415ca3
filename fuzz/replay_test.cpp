// Replays every committed input of one fuzz target through its own entry
// point, built with the normal compiler: the crash inputs kept in
// regressions/<target>/ and the small seed set in seeds/<target>/. A fixed
// crash stays fixed; a seed that stops working shows at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs(const fs::path& dir) {
    std::vector<fs::path> files;
    if (!fs::is_directory(dir)) return files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.') files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::size_t ReplayAll(const fs::path& dir) {
    const std::vector<fs::path> files = Inputs(dir);
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    }
    return files.size();
}

const fs::path kFuzzDir = QUILLON_FUZZ_DIR;

TEST(Replay, Regressions) { ReplayAll(kFuzzDir / "regressions" / QUILLON_FUZZ_TARGET); }

TEST(Replay, Seeds) { EXPECT_GT(ReplayAll(kFuzzDir / "seeds" / QUILLON_FUZZ_TARGET), 0u); }

TEST(Replay, EmptyAndTinyInputs) {
    for (std::size_t size = 0; size <= 16; ++size) {
        const std::vector<std::uint8_t> zeros(size, 0), ones(size, 0xFF);
        LLVMFuzzerTestOneInput(zeros.data(), zeros.size());
        LLVMFuzzerTestOneInput(ones.data(), ones.size());
    }
}

}  // namespace
