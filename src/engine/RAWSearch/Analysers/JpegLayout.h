// Where the fields of a JPEG lie: its segments (a marker, then a big-endian length that counts itself
// and the data), the frame and scan headers, and the first bytes of a JFIF or Exif file. Offsets count
// from the segment's (or the file's) first byte; readers take every field through ByteReader.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

namespace jpeg_layout {

// A segment.
inline constexpr size_t kMarker = 0;  // 0xFF
inline constexpr size_t kCode = 1;
inline constexpr size_t kLength = 2;  // u16 BE; SOI, EOI and fill bytes have none
inline constexpr size_t kSegmentData = 4;
inline constexpr size_t kMarkerSize = 2;

// A frame header (SOFn).
inline constexpr size_t kFramePrecision = 4;  // bits per sample: 8 for the photos sized here
inline constexpr size_t kFrameHeight = 5;     // u16 BE
inline constexpr size_t kFrameWidth = 7;      // u16 BE
inline constexpr size_t kFrameComponents = 9;
inline constexpr size_t kFrameHeaderEnd = 10;  // the bytes up to the component count

// A scan header (SOS).
inline constexpr size_t kScanComponents = 4;

// An APP1 segment holding an Exif block: "Exif" at its data.
inline constexpr size_t kApp1Identifier = kSegmentData;

// The first bytes of a file: SOI, then the first segment; its identifier ("JFIF", "Exif") at 6; an
// APP1 after a 16-byte JFIF APP0 at 20, its length at 22 and "Exif" at 24.
inline constexpr size_t kFirstSegment = 2;
inline constexpr size_t kFirstIdentifier = 6;
inline constexpr size_t kSecondSegment = 20;
inline constexpr size_t kSecondIdentifier = 24;

// Marker codes.
inline constexpr u8 kMarkerByte = 0xFF;
inline constexpr u8 kSOF0 = 0xC0;  // baseline frame
inline constexpr u8 kSOF2 = 0xC2;  // progressive frame
inline constexpr u8 kSOI = 0xD8;
inline constexpr u8 kEOI = 0xD9;
inline constexpr u8 kSOS = 0xDA;
inline constexpr u8 kAPP1 = 0xE1;

// A start-of-frame marker: C0 to CF except the Huffman table (C4), the reserved C8 and the arithmetic
// conditioning (CC) markers.
constexpr bool IsFrameMarker(u8 code) {
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

}  // namespace jpeg_layout
