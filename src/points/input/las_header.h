#pragma once

#include <cstddef>

// The LAS public header block: where each field lies (bytes from the start of the file, all
// little-endian) and how large the block is in each version. The reader, the raw copy's header
// patch, the synthetic writer and the demo generator all take the layout from here.
namespace las {

inline constexpr std::size_t kVersionMajorAt = 24;           // u8
inline constexpr std::size_t kVersionMinorAt = 25;           // u8
inline constexpr std::size_t kSystemIdentifierAt = 26;       // char[32]
inline constexpr std::size_t kGeneratingSoftwareAt = 58;     // char[32]
inline constexpr std::size_t kHeaderSizeAt = 94;             // u16
inline constexpr std::size_t kOffsetToPointDataAt = 96;      // u32
inline constexpr std::size_t kVlrCountAt = 100;              // u32
inline constexpr std::size_t kPointFormatAt = 104;           // u8
inline constexpr std::size_t kPointRecordLengthAt = 105;     // u16
inline constexpr std::size_t kLegacyPointCountAt = 107;      // u32
inline constexpr std::size_t kLegacyPointsByReturnAt = 111;  // u32[5]
inline constexpr std::size_t kScaleAt = 131;                 // f64[3]: x, y, z
inline constexpr std::size_t kOffsetAt = 155;                // f64[3]: x, y, z
inline constexpr std::size_t kMaxXAt = 179;                  // f64, then min x, max y, min y,
inline constexpr std::size_t kMinXAt = 187;                  // max z, min z
inline constexpr std::size_t kMaxYAt = 195;
inline constexpr std::size_t kMinYAt = 203;
inline constexpr std::size_t kMaxZAt = 211;
inline constexpr std::size_t kMinZAt = 219;
// From LAS 1.3 on:
inline constexpr std::size_t kWaveformDataStartAt = 227;  // u64
// From LAS 1.4 on:
inline constexpr std::size_t kFirstExtendedVlrAt = 235;  // u64
inline constexpr std::size_t kExtendedVlrCountAt = 243;  // u32
inline constexpr std::size_t kPointCountAt = 247;        // u64
inline constexpr std::size_t kPointsByReturnAt = 255;    // u64[15]

inline constexpr std::size_t kLegacyReturnCounts = 5;
inline constexpr std::size_t kReturnCounts = 15;

// Size of the public header block.
inline constexpr std::size_t kHeaderSize12 = 227;  // LAS 1.0 to 1.2
inline constexpr std::size_t kHeaderSize13 = 235;
inline constexpr std::size_t kHeaderSize14 = 375;

}  // namespace las
