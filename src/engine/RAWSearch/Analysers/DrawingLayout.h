// Where the fields of the drawing and font files sized by their headers lie. Offsets count from the
// file's first byte (or from the structure named); readers take every field through ByteReader.
#pragma once

#include <cstddef>
#include <optional>

#include "engine/Common/Types.h"

// DWG: "AC10nn" at 0 names the release.
namespace dwg_layout {

inline constexpr size_t kVersion = 0;  // six ASCII bytes
inline constexpr size_t kVersionSize = 6;

// Releases 13 to 15 (AC1012-AC1015): a count of section locators, then 9-byte locators.
inline constexpr size_t kLocatorCount = 21;  // u32 LE
inline constexpr size_t kFirstLocator = 25;
inline constexpr size_t kLocatorSize = 9;
inline constexpr size_t kLocatorNumber = 0;  // u8, the locator's index
inline constexpr size_t kLocatorOffset = 1;  // u32 LE, the section's file offset
inline constexpr size_t kLocatorLength = 5;  // u32 LE, the section's length

// Releases 18, 24 and 27 (AC1018, AC1024, AC1027): a scrambled header at 0x80.
inline constexpr size_t kScrambledHeader = 0x80;
inline constexpr size_t kScrambledHeaderSize = 108;
// Fields of the descrambled header.
inline constexpr size_t kHeaderZero = 11;           // four zero bytes
inline constexpr size_t kHeaderMarks = 16;          // u64 LE: 0x6C then 4
inline constexpr u64 kHeaderMarksValue = 0x40000006CULL;
inline constexpr size_t kSecondHeaderAddress = 52;  // u64 LE
inline constexpr size_t kHeaderSectionMark = 68;    // u32 LE: 32
inline constexpr u32 kHeaderSectionMarkValue = 32;
inline constexpr size_t kHeaderPageMarks = 72;      // u64 LE: 0x80 then 0x40
inline constexpr u64 kHeaderPageMarksValue = 0x4000000080ULL;
// The header scramble: a linear congruential generator from seed 1, one byte per step.
inline constexpr u32 kScrambleSeed = 1;
inline constexpr u32 kScrambleMultiplier = 214013;
inline constexpr u32 kScrambleIncrement = 2531011;

// Release 21 (AC1021): 984 Reed-Solomon coded bytes at 128, interleaved by three blocks of 255 bytes
// of which 239 are data.
inline constexpr size_t kCodedHeader = 128;
inline constexpr size_t kCodedHeaderSize = 984;
inline constexpr size_t kCodedBlocks = 3;
inline constexpr size_t kCodedBlockData = 239;
inline constexpr size_t kDecodedSize = kCodedBlocks * kCodedBlockData;  // 717
// Fields of the decoded data.
inline constexpr size_t kCompressedLength = 24;  // i32 LE: below 1 when the header is stored
inline constexpr size_t kHeaderData = 32;
inline constexpr size_t kStoredHeaderSize = 272;
// Fields of the file header.
inline constexpr size_t kFileSize = 8;  // u64 LE

// Sizes above this are not believed.
inline constexpr u64 kMaxSize = 0x514000000ULL;

}  // namespace dwg_layout

// TrueType: an offset table, then 16-byte table records (all big-endian).
namespace ttf_layout {

inline constexpr size_t kTableCount = 4;  // u16 BE
inline constexpr size_t kOffsetTableSize = 12;
inline constexpr size_t kTableRecordSize = 16;
inline constexpr size_t kRecordTag = 0;
inline constexpr size_t kRecordLength = 12;  // u32 BE
inline constexpr u32 kMaxTables = 31;

}  // namespace ttf_layout

// FreeHand 11: fixed bytes at 4 and the version "11" at 34.
namespace fh11_layout {

inline constexpr size_t kMarks = 4;
inline constexpr size_t kMarksSize = 12;
inline constexpr size_t kVersion = 34;  // "11"
inline constexpr u64 kMaxSize = 0xD000000;
inline constexpr u32 kZeroRunUnit = 4;

}  // namespace fh11_layout

// NGRR: "-in-" at 0, then from 60 "data" chunks (24 bytes of header, the payload length at 16).
namespace ngrr_layout {

inline constexpr size_t kFirstChunk = 60;
inline constexpr size_t kChunkName = 0;  // "data"
inline constexpr size_t kChunkLength = 16;  // u32 LE
inline constexpr size_t kChunkHeaderRead = 20;
inline constexpr u64 kChunkOverhead = 24;
inline constexpr i64 kMaxSize = 52428800;

}  // namespace ngrr_layout

// InDesign: a 4096-byte master page pair, pages, then contiguous objects (a 32-byte header with the
// object's GUID and its length at 24, the data, a 32-byte trailer).
namespace indd_layout {

inline constexpr size_t kDocumentMark = 16;  // "DOCUMENT"
inline constexpr size_t kFilePages = 280;    // u32 LE: pages before the contiguous objects
inline constexpr u64 kPageSize = 4096;
inline constexpr size_t kObjectLength = 24;  // u32 LE, from the object header
inline constexpr size_t kObjectHeaderRead = 28;
inline constexpr u64 kObjectOverhead = 64;
inline constexpr i64 kMaxCovered = 200000000;

}  // namespace indd_layout

// After Effects: a big-endian RIFX chunk, then possibly an XMP packet after it.
namespace aep_layout {

inline constexpr size_t kRifxLength = 4;  // i32 BE
inline constexpr size_t kFormType = 8;    // 45 67 67
inline constexpr i64 kChunkHeader = 8;
inline constexpr i64 kMaxCovered = 100000000;
inline constexpr u32 kXmpZeroTail = 9;

}  // namespace aep_layout

// 3DS: "MM" records whose chain is followed by an 88-byte look-ahead; or a cartridge image with
// "NCSD" at 256 and its size in 512-byte units at 260.
namespace tds_layout {

inline constexpr size_t kEditorMark = 16;  // u16 LE 0x3D3D
inline constexpr u16 kEditorMarkValue = 0x3D3D;
inline constexpr u16 kRecordMark = 0x4D4D;  // "MM"
inline constexpr size_t kRecordLength = 2;  // u16 LE
inline constexpr i64 kLookAhead = 88;
inline constexpr size_t kRecordRead = kLookAhead + 2;  // the bytes one step of the chain reads
inline constexpr i64 kMaxChain = 1000000000;
inline constexpr size_t kNcsdMark = 256;  // "NCSD"
inline constexpr size_t kNcsdUnits = 260;  // u32 LE, 512-byte units
inline constexpr u64 kNcsdUnit = 512;
inline constexpr u64 kNcsdMaxSize = 1000000000;
inline constexpr u64 kNcsdOversize = 200000000;

// One step of the chain at a record: the next position, or absent where the chain ends.
inline std::optional<i64> NextRecord(i64 position, u16 atRecord, u16 length, u16 lookAhead) {
    if (lookAhead == kRecordMark) return position + kLookAhead;
    if (atRecord != kRecordMark || lookAhead == 0 || length == 0) return std::nullopt;
    return position + length;
}

}  // namespace tds_layout

// Photo-Paint CPT: "CPTn" and "FILE" at 4; a block table whose last entry leads to the last block.
namespace cpt_layout {

inline constexpr size_t kFileMark = 4;  // "FILE"
inline constexpr size_t kEntryCount = 40;  // u32 LE
inline constexpr size_t kTableOffset = 52;  // u32 LE, 316 in the files taken
inline constexpr u32 kTableOffsetValue = 316;
inline constexpr u64 kEntrySize = 8;
inline constexpr u64 kBlockCheckA = 32;  // u32 LE, from the last block
inline constexpr u64 kBlockCheckB = 60;  // u32 LE, from the last block

}  // namespace cpt_layout

// SVG and the XML files found with it (GPX tracks, property lists, citation styles, note exports),
// and the binary form whose length sits at 1100.
namespace svg_layout {

inline constexpr size_t kGpxAt[] = {57, 39};           // "<gpx" after an XML declaration
inline constexpr size_t kPlistAt[] = {39, 40};         // "<!DOCTYPE plist"
inline constexpr size_t kBomLength = 3;                // EF BB BF before the declaration
inline constexpr size_t kOpenerSearch = 512;           // where the search looks for "<svg"
inline constexpr size_t kFallbackOpenerSearch = 2048;  // where the device analyser looks for it
inline constexpr i64 kBinaryLength = 1100;             // u32 LE: the binary form's length less its header
inline constexpr u64 kBinaryHeader = 1152;
inline constexpr i64 kMaxCovered = 0xA00000;
inline constexpr u32 kListZeroTail = 8;  // zero bytes a sector ends in before a GPX or plist end is looked for
inline constexpr u64 kDeviceCap = 0x500001;    // the device walk looks at sectors starting below this
inline constexpr u32 kSmallSector = 256;       // sectors this small end a file only at a closing tag
inline constexpr u64 kSmallSectorEndSlack = 9;  // past the closing tag's start
inline constexpr u32 kSmallSectorTail = 16;     // a tag in the 32 bytes from 16 before the sector end

}  // namespace svg_layout
