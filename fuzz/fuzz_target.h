#pragma once
// What every fuzz target defines: libFuzzer's entry point, and the same run
// telling whether the input went the whole way through the target's main path
// (a package loaded, a component written, ...; each target says what). The
// replay test holds every committed seed to that, so a seed that stops reaching
// the code it was made for fails the normal suite instead of passing unnoticed.
#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz_target {

bool Run(std::span<const std::uint8_t> input);

}  // namespace fuzz_target
