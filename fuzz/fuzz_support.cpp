#include "fuzz/fuzz_support.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "package/container.h"

namespace fuzz_support {

std::span<const std::uint8_t> Reader::Take(std::size_t count) {
    const std::size_t n = std::min(count, bytes_.size() - std::min(pos_, bytes_.size()));
    const std::span<const std::uint8_t> taken = bytes_.subspan(std::min(pos_, bytes_.size()), n);
    pos_ += n;
    return taken;
}

namespace {

struct Scratch {
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillon-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

}  // namespace

const std::string& ScratchDir() {
    static const Scratch scratch;
    return scratch.path;
}

std::string WriteScratchFile(const std::string& name, std::span<const std::uint8_t> bytes) {
    const std::string path = ScratchDir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::vector<std::uint8_t> ContainerAround(std::span<const std::uint8_t> payload) {
    const std::size_t blocks = (payload.size() + 7) / 8 * 8;
    std::vector<std::uint8_t> file(2 + blocks, 0);
    std::copy(payload.begin(), payload.end(), file.begin() + 2);
    EncryptBlocks(file.data() + 2, file.data() + 2, payload.size());
    const std::uint16_t sum = ContainerChecksum(std::span(file).subspan(2));
    file[0] = static_cast<std::uint8_t>(sum);
    file[1] = static_cast<std::uint8_t>(sum >> 8);
    return file;
}

std::vector<std::uint8_t> FileBytes(std::uint8_t mode, std::span<const std::uint8_t> rest) {
    if ((mode & kRawFileBit) != 0) return {rest.begin(), rest.end()};
    return ContainerAround(rest);
}

}  // namespace fuzz_support
