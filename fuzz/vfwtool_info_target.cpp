// Fuzz target: `vfwtool info FILE`, as a table or (bit 1 of the first byte) as
// JSON. The file is built as the other file targets build it (fuzz_support.h).
// The whole way: vfwtool described the file (exit status 0).
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "tools/vfwtool/vfwtool.h"

bool fuzz_target::Run(std::span<const std::uint8_t> input) {
    fuzz_support::Reader in(input);
    const std::uint8_t mode = in.U8();
    const std::string path = fuzz_support::WriteScratchFile("input", fuzz_support::FileBytes(mode, in.Rest()));
    std::vector<std::string> args{"info", path};
    if ((mode & 0x02) != 0) args.emplace_back("--json");
    std::ostringstream out, err;
    return RunVfwtool(args, out, err) == 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_target::Run({data, size});
    return 0;
}
