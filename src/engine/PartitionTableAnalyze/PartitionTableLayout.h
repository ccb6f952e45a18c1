// Where the fields of the partition tables lie: the master (and extended) boot record, the entries of
// the GUID partition table and the Apple partition map. Offsets are in bytes from the start of the
// structure named by the namespace; the readers take every field through ByteReader at these offsets.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

namespace mbr_layout {

// The boot record (one sector; only its first 512 bytes are read).
inline constexpr size_t kEntries = 446;  // four partition entries
inline constexpr size_t kEntryCount = 4;
inline constexpr size_t kSignature = 510;  // 0x55 0xAA
inline constexpr u16 kSignatureValue = 0xAA55;  // the signature read as a little-endian u16
inline constexpr size_t kRecordSize = 512;
// The type of the one entry of a GUID disk's protective record.
inline constexpr u8 kProtectiveType = 0xEE;

// One partition entry.
inline constexpr size_t kEntrySize = 16;
inline constexpr size_t kBootIndicator = 0;  // 0x00, or 0x80 for the active partition
inline constexpr size_t kType = 4;
inline constexpr size_t kFirstSector = 8;   // u32 LE, from the record's base
inline constexpr size_t kSectorCount = 12;  // u32 LE

// The type byte of entry `slot` within the record.
constexpr size_t EntryType(size_t slot) {
    return kEntries + slot * kEntrySize + kType;
}

}  // namespace mbr_layout

namespace gpt_layout {

// The partition entry array as the tools write it (128 entries), behind the header in sector 1.
inline constexpr size_t kEntryArrayBytes = 16384;

// One entry of the partition entry array.
inline constexpr size_t kEntrySize = 128;
inline constexpr size_t kTypeGuid = 0;     // 16 bytes; all zero: an unused entry
inline constexpr size_t kUniqueGuid = 16;  // 16 bytes
inline constexpr size_t kGuidSize = 16;
inline constexpr size_t kFirstLba = 32;  // u64 LE
inline constexpr size_t kLastLba = 40;   // u64 LE, inclusive

}  // namespace gpt_layout

namespace apm_layout {

// The driver descriptor in block 0.
inline constexpr size_t kDescriptorSignature = 0;  // "ER"
inline constexpr size_t kBlockSize = 2;            // u16 BE

// A map entry, one per block from block 1.
inline constexpr size_t kEntrySignature = 0;  // "PM" (or the older "TS")
inline constexpr size_t kMapEntries = 4;      // u32 BE: entries in the map
inline constexpr size_t kFirstBlock = 8;      // u32 BE
inline constexpr size_t kBlockCount = 12;     // u32 BE
inline constexpr size_t kTypeName = 48;       // 32 bytes of text
inline constexpr size_t kTypeNameSize = 32;

}  // namespace apm_layout
