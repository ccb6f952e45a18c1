// Where the fields of an Exif block lie: the "Exif" header, the TIFF header after it, the image file
// directories (IFDs) and their 12-byte entries. Offsets of the TIFF structure count from the TIFF
// header's first byte, as the offsets stored in the block do; integers are in the order the TIFF
// header names ("II" little-endian, "MM" big-endian). Readers take every field through ByteReader.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

namespace exif_layout {

// The block: "Exif", two zero bytes, then the TIFF structure.
inline constexpr size_t kHeaderSize = 6;

// The TIFF header.
inline constexpr size_t kByteOrder = 0;       // "II" or "MM"
inline constexpr size_t kMagic = 2;           // u16: 42
inline constexpr size_t kFirstDirectory = 4;  // u32: offset of the first IFD
inline constexpr size_t kTiffHeaderSize = 8;
inline constexpr u16 kTiffMagic = 42;

// A directory: a u16 entry count, the entries, then a u32 link to the next directory (0: none).
inline constexpr size_t kEntryCount = 0;
inline constexpr size_t kEntries = 2;
inline constexpr size_t kEntrySize = 12;

// An entry.
inline constexpr size_t kTag = 0;         // u16
inline constexpr size_t kFormat = 2;      // u16: 1 to 12
inline constexpr size_t kComponents = 4;  // u32
inline constexpr size_t kValue = 8;       // the value when it fits in 4 bytes, else its u32 offset
inline constexpr size_t kInlineValueSize = 4;

// Bytes per component of each format: 1 byte, 2 ASCII, 3 short, 4 long, 5 rational, 6 signed byte,
// 7 undefined, 8 signed short, 9 signed long, 10 signed rational, 11 float, 12 double.
inline constexpr u16 kMaxFormat = 12;
inline constexpr u8 kFormatSize[kMaxFormat + 1] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
constexpr u32 FormatSize(u32 format) {
    return format <= kMaxFormat ? kFormatSize[format] : 0;
}

// Tags that link to other directories.
inline constexpr u16 kTagExifDirectory = 0x8769;
inline constexpr u16 kTagInteroperabilityDirectory = 0xA005;

}  // namespace exif_layout
