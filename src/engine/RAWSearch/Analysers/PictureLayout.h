// Where the fields of the picture formats that are not built on TIFF lie, one namespace per format.
// Offsets count from the file's first byte unless said otherwise; readers take every field through
// ByteReader in the byte order noted.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

// PNG: an 8-byte signature, then chunks (u32 BE data length, 4-byte type, data, u32 CRC).
namespace png_layout {
inline constexpr size_t kSignatureTail = 4;  // 0D 0A 1A 0A
inline constexpr size_t kIhdrLength = 8;     // u32 BE
inline constexpr size_t kIhdrType = 12;      // "IHDR"
inline constexpr size_t kWidth = 16;         // u32 BE
inline constexpr size_t kHeight = 20;        // u32 BE
inline constexpr size_t kIhdrData = 20;      // the second chunk starts at 20 + the IHDR length
// A chunk.
inline constexpr size_t kChunkLength = 0;
inline constexpr size_t kChunkType = 4;
inline constexpr size_t kChunkHeader = 8;
inline constexpr u64 kChunkOverhead = 12;  // length, type and CRC
}  // namespace png_layout

// GIF: a 13-byte header (signature, version, screen descriptor), the global colour table, then
// blocks: "!" extensions, "," images, ";" the trailer; block data in sub-blocks of a length byte and
// that many bytes, ended by a zero length.
namespace gif_layout {
inline constexpr size_t kVersion = 4;       // "7a" or "9a"
inline constexpr size_t kScreenFlags = 10;  // bit 7: a global colour table of 3 x 2^(n+1) bytes
inline constexpr size_t kHeaderSize = 13;
inline constexpr u8 kExtension = 0x21;  // "!"
inline constexpr u8 kImage = 0x2C;      // ","
inline constexpr u8 kTrailer = 0x3B;    // ";"
// An extension: introducer, label, then its first sub-block's length byte.
inline constexpr size_t kExtensionBlockLength = 2;
inline constexpr size_t kExtensionHeader = 3;
// An image descriptor: 10 bytes, the local colour table flags at 9, the LZW code size after it.
inline constexpr size_t kImageFlags = 9;
inline constexpr size_t kImageHeader = 11;
inline constexpr u8 kColourTableFlag = 0x80;
inline constexpr u8 kColourTableSize = 0x07;
}  // namespace gif_layout

// BMP: "BM", u32 LE file size, two reserved u16, the pixel offset, then the info header.
namespace bmp_layout {
inline constexpr size_t kFileSize = 2;     // u32 LE
inline constexpr size_t kReserved1 = 6;    // u16 LE
inline constexpr size_t kReserved2 = 8;    // u16 LE
inline constexpr size_t kHeaderSize = 14;  // u32 LE: 40 (version 3) or 124 (version 5)
}  // namespace bmp_layout

// ICO and CUR: u16 reserved, u16 type (1 icon, 2 cursor), u16 count, then 16-byte entries.
namespace ico_layout {
inline constexpr size_t kType = 2;   // u16 LE
inline constexpr size_t kCount = 4;  // u16 LE
inline constexpr size_t kEntries = 6;
inline constexpr size_t kEntrySize = 16;
inline constexpr size_t kEntryReserved = 3;  // u8
inline constexpr size_t kEntryBitCount = 6;  // u16 LE (a cursor's hot spot y)
inline constexpr size_t kEntryBytes = 8;     // u32 LE
inline constexpr size_t kEntryOffset = 12;   // u32 LE
}  // namespace ico_layout

// ICNS: "icns" and the u32 BE length of the whole file.
namespace icns_layout {
inline constexpr size_t kLength = 4;
}  // namespace icns_layout

// EMF: the header record.
namespace emf_layout {
inline constexpr size_t kSignature = 40;  // " EMF"
inline constexpr size_t kBytes = 48;      // u32 LE: the file size
inline constexpr size_t kReserved = 58;   // u16 LE
}  // namespace emf_layout

// WMF: a plain header (type 1, header size 9) or a 22-byte placeable header in front of it.
namespace wmf_layout {
inline constexpr size_t kPlainNoParameters = 16;  // u16 LE
inline constexpr size_t kPlainSizeWords = 6;      // u32 LE: the file size in 16-bit words
inline constexpr size_t kPlaceableHandle = 4;     // u16 LE
inline constexpr size_t kPlaceableChecksumWords = 10;
inline constexpr size_t kPlaceableReserved = 16;  // u32 LE
inline constexpr size_t kPlaceableChecksum = 20;  // u16 LE: XOR of the first ten u16
inline constexpr size_t kPlaceableSize = 22;      // the plain header follows
}  // namespace wmf_layout

// PSD: a 26-byte header, then sections each led by a u32 BE length: colour mode data, image
// resources, layer and mask information; then a u16 compression and the image data.
namespace psd_layout {
inline constexpr size_t kVersion = 4;  // 00 01
inline constexpr size_t kReserved = 6;  // six zero bytes
inline constexpr size_t kColourModeLength = 26;
inline constexpr i64 kColourModeData = 30;
inline constexpr u64 kLengthField = 4;
inline constexpr u64 kCompressionField = 2;
}  // namespace psd_layout

// PSP: a 32-byte signature, the version, then blocks of "~BK" 0, a u16 id and a u32 LE length.
namespace psp_layout {
inline constexpr char kSignature[] = "Paint Shop Pro Image File\n\x1a\0\0\0\0";
inline constexpr size_t kSignatureSize = 32;
static_assert(sizeof(kSignature) == kSignatureSize);
inline constexpr i64 kFirstBlock = 36;
inline constexpr size_t kBlockLength = 6;  // u32 LE
inline constexpr u64 kBlockHeader = 10;
}  // namespace psp_layout

// X3F: the file ends with a directory section "SECd" (its entries and the u32 offset that points to
// it); a file ends kDirectoryEnd bytes after "SECd".
namespace x3f_layout {
inline constexpr i64 kDirectoryEnd = 76;
}  // namespace x3f_layout

// MRW: "\0MRM", the u32 BE length of the header blocks, then the PRD block with the sensor size.
namespace mrw_layout {
inline constexpr size_t kDataOffset = 4;     // u32 BE: the image data starts 8 bytes past it
inline constexpr size_t kSensorHeight = 24;  // u16 BE
inline constexpr size_t kSensorWidth = 26;   // u16 BE
inline constexpr size_t kBitsPerSample = 32;
inline constexpr u64 kHeader = 8;
}  // namespace mrw_layout

// CRW (Canon CIFF): byte order, u32 header length, "HEAP" and the kind; the file ends a fixed number
// of bytes after one of three end records (07 28 and a u32 LE length).
namespace crw_layout {
inline constexpr size_t kHeap = 4;  // 00 00 "HEAP"
inline constexpr size_t kKind = 10;  // "CCDR", "TIFP" or "ARCH", then 02
inline constexpr size_t kRecordSize = 6;
inline constexpr int kComparedBytes = 5;
}  // namespace crw_layout
