// Fuzz target: `vfwtool info FILE`, as a table or (bit 1 of the first byte) as
// JSON. The file is built as the other file targets build it (fuzz_support.h).
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tools/vfwtool/vfwtool.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_support::Reader in({data, size});
    const std::uint8_t mode = in.U8();
    const std::string path = fuzz_support::WriteScratchFile("input", fuzz_support::FileBytes(mode, in.Rest()));
    std::vector<std::string> args{"info", path};
    if ((mode & 0x02) != 0) args.emplace_back("--json");
    std::ostringstream out, err;
    RunVfwtool(args, out, err);
    return 0;
}
