#include "bitpack_encode.h"

#include <bit>

namespace e57::bitpack {

unsigned bitsForRange(std::int64_t minimum, std::int64_t maximum) {
    if (maximum <= minimum) return 0;
    const std::uint64_t span =
        static_cast<std::uint64_t>(maximum) - static_cast<std::uint64_t>(minimum);
    return static_cast<unsigned>(std::bit_width(span));
}

}  // namespace e57::bitpack
