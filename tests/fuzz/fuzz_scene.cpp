// libFuzzer entry: arbitrary bytes as a scene file, through the pipeline.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_body.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fotolume::fuzz::runOneInput(data, size);
    return 0;
}
