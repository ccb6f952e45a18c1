// Offsets of the boxes of QuickTime and ISO base media files.
#pragma once

#include "engine/Common/Types.h"

namespace box_layout {
inline constexpr u32 kSize = 0;          // big-endian 32-bit size; 1: a 64-bit size follows the type
inline constexpr u32 kType = 4;
inline constexpr u32 kLargeSize = 8;     // the 64-bit size of a box whose size field is 1
inline constexpr u32 kHeader = 8;
inline constexpr u32 kLargeHeader = 16;
// The "ftyp" box.
inline constexpr u32 kMajorBrand = 8;
inline constexpr u32 kCompatibleBrands = 16;
inline constexpr u32 kMaxCompatibleText = 512;
inline constexpr u32 kTrecFree = 28;     // "free" here turns an MP4 into a TREC recording
inline constexpr u32 kMovMinFtyp = 16;
inline constexpr u32 kMovMaxFtyp = 83;
}  // namespace box_layout
