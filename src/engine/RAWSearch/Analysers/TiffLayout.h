// Where the fields of a TIFF file lie (the camera raw formats built on it share the layout): the
// header, the image file directories (IFDs) with their 12-byte entries, the tags the analysers read,
// and the header of a Fuji RAF file. Integers are in the order the header names ("II" little-endian,
// "MM" big-endian), except the RAF header, which is big-endian. Readers take every field through
// ByteReader.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"
#include "engine/RAWSearch/Exif/ExifLayout.h"

namespace tiff_layout {

// The header, the directories and their entries: the TIFF structure the Exif reader walks too.
inline constexpr size_t kByteOrder = exif_layout::kByteOrder;  // "II" or "MM"
inline constexpr size_t kMagic = exif_layout::kMagic;          // u16: 42 (0x55 for Panasonic)
inline constexpr size_t kFirstIFD = exif_layout::kFirstDirectory;
inline constexpr size_t kHeaderSize = exif_layout::kTiffHeaderSize;
inline constexpr size_t kEntryCount = exif_layout::kEntryCount;
inline constexpr size_t kEntries = exif_layout::kEntries;
inline constexpr size_t kEntrySize = exif_layout::kEntrySize;
inline constexpr size_t kLinkSize = 4;  // u32 after the entries
inline constexpr size_t kTag = exif_layout::kTag;
inline constexpr size_t kType = exif_layout::kFormat;
inline constexpr size_t kCount = exif_layout::kComponents;
inline constexpr size_t kValue = exif_layout::kValue;
inline constexpr size_t kInlineSize = exif_layout::kInlineValueSize;

// Bytes per element by type code 1-12; other codes count as 0.
constexpr u32 TypeWidth(u32 type) {
    return exif_layout::FormatSize(type);
}

// Tags.
inline constexpr u16 kTagPanasonicJpeg = 46;  // the preview of a Panasonic raw
inline constexpr u16 kTagImageWidth = 256;
inline constexpr u16 kTagImageLength = 257;
inline constexpr u16 kTagMake = 271;
inline constexpr u16 kTagModel = 272;
inline constexpr u16 kTagStripOffsets = 273;
inline constexpr u16 kTagStripByteCounts = 279;
inline constexpr u16 kTagDateTime = 306;
inline constexpr u16 kTagTileOffsets = 324;
inline constexpr u16 kTagTileByteCounts = 325;
inline constexpr u16 kTagSubIFDs = 330;
inline constexpr u16 kTagJpegOffset = 513;
inline constexpr u16 kTagJpegLength = 514;
inline constexpr u16 kTagIptc = 33723;
inline constexpr u16 kTagExifIFD = 34665;
inline constexpr u16 kTagDateTimeOriginal = 36867;
inline constexpr u16 kTagMakerNote = 37500;
inline constexpr u16 kTagImageSourceData = 37724;
inline constexpr u16 kTagDNGVersion = 50706;
inline constexpr u16 kTagDNGPrivateData = 50740;

// The first bytes of the headers the signature search accepts.
inline constexpr unsigned char kPanasonicHeader[4] = {0x49, 0x49, 0x55, 0x00};
inline constexpr unsigned char kBigEndianHeader[4] = {0x4D, 0x4D, 0x00, 0x2A};

}  // namespace tiff_layout

// A Fuji RAF file: a big-endian header naming where its embedded JPEG and its sensor data lie. The
// JPEG begins with an Exif APP1 segment whose TIFF header stands at kTiffShift, the base of the
// offsets inside it.
namespace raf_layout {

inline constexpr char kMagic[] = "FUJIFILMCCD-RAW ";
inline constexpr size_t kMagicSize = 16;
inline constexpr size_t kJpegOffset = 84;
inline constexpr size_t kJpegLength = 88;
inline constexpr size_t kCfaHeaderOffset = 92;
inline constexpr size_t kCfaHeaderLength = 96;
inline constexpr size_t kCfaOffset = 100;
inline constexpr size_t kCfaLength = 104;
inline constexpr size_t kTrailerLength = 132;  // added to the furthest end when not 0
inline constexpr size_t kHeaderSize = 136;
inline constexpr u64 kTiffShift = 160;
// In the embedded JPEG: the APP1 length field and the "Exif" identifier.
inline constexpr size_t kJpegApp1Length = 4;
inline constexpr size_t kJpegExif = 6;

}  // namespace raf_layout
