// Where the fields of a ZIP archive's blocks lie (all little-endian): local file headers (followed by
// the name, the extra field and the data), central directory headers, the end of central directory
// record and the two Zip64 end blocks. Readers take every field through ByteReader.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

namespace zip_layout {

inline constexpr size_t kSignature = 0;
inline constexpr u32 kLocalSignature = 0x04034B50;       // "PK" 03 04
inline constexpr u32 kCentralSignature = 0x02014B50;     // "PK" 01 02
inline constexpr u32 kEndSignature = 0x06054B50;         // "PK" 05 06
inline constexpr u32 kZip64EndSignature = 0x06064B50;    // "PK" 06 06
inline constexpr u32 kZip64LocatorSignature = 0x07064B50;  // "PK" 06 07

// Local file header.
inline constexpr size_t kLocalFlags = 6;
inline constexpr size_t kLocalMethod = 8;
inline constexpr size_t kLocalCompressedSize = 18;
inline constexpr size_t kLocalUncompressedSize = 22;
inline constexpr size_t kLocalNameLength = 26;
inline constexpr size_t kLocalExtraLength = 28;
inline constexpr size_t kLocalHeaderSize = 30;
// The Zip64 extended information field at the start of the extra field: a 4-byte field header, the
// 8-byte uncompressed size, then the 8-byte compressed size.
inline constexpr size_t kZip64ExtraCompressedSize = 12;
inline constexpr u32 kSizeInZip64 = 0xFFFFFFFF;

// Central directory header.
inline constexpr size_t kCentralNameLength = 28;
inline constexpr size_t kCentralExtraLength = 30;
inline constexpr size_t kCentralCommentLength = 32;
inline constexpr size_t kCentralHeaderSize = 46;

// End of central directory record; the Zip64 end record and locator as fixed sizes.
inline constexpr size_t kEndDirectorySize = 12;
inline constexpr size_t kEndDirectoryOffset = 16;
inline constexpr size_t kEndCommentLength = 20;
inline constexpr size_t kEndSize = 22;
inline constexpr size_t kZip64EndSize = 56;
inline constexpr size_t kZip64LocatorSize = 20;

// What makes a local header valid.
inline constexpr u16 kMaxMethod = 10;
inline constexpr u16 kMaxNameLength = 4096;
// General purpose flags of an entry whose sizes follow its data (a data descriptor).
inline constexpr u16 kSizesBehindData = 0x0008;
inline constexpr u16 kSizesBehindDataUtf8 = 0x0808;

}  // namespace zip_layout
