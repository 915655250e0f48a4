// The libFuzzer entry of one target, chosen at build time (SEJFKO_FUZZ_ENTRY).

#include "fuzz/fuzz_targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    return sejfko::fuzz::SEJFKO_FUZZ_ENTRY(data, size);
}
