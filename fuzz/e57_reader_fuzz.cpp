#include <cstddef>
#include <cstdint>

#include "e57_reader_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    e57fuzz::runInput(data, size);
    return 0;
}
