// Where the fields of an OLE compound file lie (all little-endian): the header in the first 512 bytes,
// the file allocation table (FAT) and its index (DIFAT), directory entries, and the property set
// streams that hold a document's summary information. Readers take every field through ByteReader.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

namespace ole_layout {

// Header.
inline constexpr size_t kSignature = 0;  // D0 CF 11 E0 A1 B1 1A E1
inline constexpr size_t kSignatureSecondWord = 4;
inline constexpr u32 kSignatureSecondValue = 0xE11AB1A1;
inline constexpr size_t kMajorVersion = 26;  // u16
inline constexpr size_t kSectorShift = 30;   // u16
inline constexpr size_t kFirstDirectorySector = 48;
inline constexpr size_t kFirstDifatSector = 68;
inline constexpr size_t kHeaderDifat = 76;  // 109 FAT sector numbers
inline constexpr u32 kHeaderDifatCount = 109;
inline constexpr u32 kHeaderSize = 512;

// Sector sizes: 512, or 4096 for a version 4 file whose sector shift is 12.
inline constexpr u32 kSmallSector = 512;
inline constexpr u32 kLargeSector = 4096;
inline constexpr u16 kLargeVersion = 4;
inline constexpr u16 kLargeShift = 12;

// Special sector numbers.
inline constexpr u32 kFreeSector = 0xFFFFFFFF;
inline constexpr u32 kEndOfChain = 0xFFFFFFFE;

// Directory entries: 128 bytes; the name in UTF-16LE at 0 (64 bytes with its terminating zero), the
// root entry's class identifier at 80.
inline constexpr size_t kEntrySize = 128;
inline constexpr size_t kEntryNameBytes = 64;
inline constexpr size_t kEntryClassId = 80;
inline constexpr size_t kClassIdSize = 16;
// The directory bytes read to tell the writing application: the first 8 entries.
inline constexpr u32 kClassifiedBytes = 1024;

// Property set stream header.
inline constexpr size_t kByteOrder = 0;  // u16 0xFFFE
inline constexpr size_t kFormatVersion = 2;
inline constexpr size_t kSectionCount = 24;
inline constexpr size_t kFirstFormatId = 28;  // 16 bytes
inline constexpr size_t kFirstSectionOffset = 44;
inline constexpr size_t kSetHeaderSize = 48;
inline constexpr u16 kByteOrderMark = 0xFFFE;
// A property set stream starts with the byte order mark and format version 0: the u32 0x0000FFFE.
inline constexpr u32 kPropertySetStart = 0x0000FFFE;
// Streams shorter than 4096 bytes lie in the mini stream, on 64-byte boundaries.
inline constexpr u32 kMiniSectorSize = 64;

// Section: size, number of properties, then (identifier, offset from the section start) pairs.
inline constexpr size_t kSectionPropertyCount = 4;
inline constexpr size_t kSectionPairs = 8;
inline constexpr size_t kPairSize = 8;
inline constexpr size_t kPairId = 0;
inline constexpr size_t kPairOffset = 4;

// Property value: type, then the value.
inline constexpr size_t kValueType = 0;
inline constexpr size_t kValue = 4;
inline constexpr size_t kStringChars = 8;  // after the u32 count of strings
inline constexpr u32 kTypeI2 = 2;
inline constexpr u32 kTypeString = 30;      // 8-bit characters
inline constexpr u32 kTypeWideString = 31;  // UTF-16LE
inline constexpr u32 kTypeFileTime = 64;

// SummaryInformation property identifiers.
inline constexpr u32 kPidTitle = 2;
inline constexpr u32 kPidAuthor = 4;
inline constexpr u32 kPidLastAuthor = 8;
inline constexpr u32 kPidCreated = 12;
inline constexpr u32 kPidSaved = 13;

// The format identifier of the SummaryInformation property set (F29F85E0-4FF9-1068-AB91-08002B27B3D9).
inline constexpr unsigned char kSummaryInformationId[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                                            0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

}  // namespace ole_layout
