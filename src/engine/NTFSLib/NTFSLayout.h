// The on-disk layout of the NTFS structures the search reads, each offset named once. Everything is
// little-endian and read through ByteReader.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

namespace ntfs {

// Boot sector (offsets in the sector).
namespace boot {
inline constexpr size_t kOemId = 3;  // "NTFS    "
inline constexpr size_t kBytesPerSector = 11;
inline constexpr size_t kSectorsPerCluster = 13;  // 1..128, or above 0x80: 2 to the power of (256 - byte)
inline constexpr u32 kMaxClusterBytes = 2u << 20;  // the largest cluster a formatter makes (2 MiB)
inline constexpr size_t kReservedSectors = 14;
inline constexpr size_t kTotalSectors = 40;
inline constexpr size_t kMftCluster = 48;
inline constexpr size_t kMirrorCluster = 56;
inline constexpr size_t kClustersPerRecord = 64;
inline constexpr size_t kSerialNumber = 72;
inline constexpr size_t kEndMarker = 510;  // 0x55 0xAA
// FAT-only fields that must be zero.
inline constexpr size_t kZeroFields[] = {16, 17, 18, 19, 20, 22, 23, 32, 33, 34, 35};
inline constexpr size_t kSize = 512;
}  // namespace boot

// FILE record header.
namespace record {
inline constexpr size_t kMagic = 0;  // "FILE"
inline constexpr size_t kUsaOffset = 4;
inline constexpr size_t kUsaCount = 6;
inline constexpr size_t kLogSequence = 8;
inline constexpr size_t kSequence = 16;  // raised each time the record is freed
inline constexpr size_t kFirstAttribute = 20;
inline constexpr size_t kFlags = 22;
inline constexpr size_t kBytesInUse = 24;
inline constexpr size_t kBytesAllocated = 28;
inline constexpr size_t kBaseReference = 32;
inline constexpr size_t kNumberGuard = 42;  // 0 when the number at 44 is present
inline constexpr size_t kRecordNumber = 44;
inline constexpr u16 kInUse = 0x01;
inline constexpr u16 kDirectory = 0x02;
// Attribute walks stop at kWalkEnd (records handled as 1024-byte records); the update-sequence
// protection is undone over every stride of the record.
inline constexpr u32 kHandledSize = 1024;
inline constexpr u32 kWalkEnd = 1016;
inline constexpr u32 kMaxUsaCount = 16;
inline constexpr u32 kMinUsaOffset = 42;
inline constexpr u32 kMaxUsaOffset = 256;
inline constexpr u64 kReferenceMask = 0xFFFFFFFFFFFFULL;  // low 48 bits: a record number
inline constexpr u32 kReferenceSequenceShift = 48;        // high 16 bits: the record's sequence number
}  // namespace record

// Common attribute header, then the resident and non-resident forms.
namespace attr {
inline constexpr size_t kType = 0;
inline constexpr size_t kLength = 4;
inline constexpr size_t kNonResident = 8;
inline constexpr size_t kNameLength = 9;
inline constexpr size_t kNameOffset = 10;
inline constexpr size_t kFlags = 12;
inline constexpr size_t kId = 14;
inline constexpr size_t kCommonHeader = 16;
inline constexpr size_t kValueLength = 16;
inline constexpr size_t kValueOffset = 20;
inline constexpr size_t kResidentHeader = 24;
inline constexpr size_t kFirstVcn = 16;
inline constexpr size_t kLastVcn = 24;
inline constexpr size_t kPairsOffset = 32;
inline constexpr size_t kCompressionUnit = 34;
inline constexpr size_t kAllocatedSize = 40;
inline constexpr size_t kRealSize = 48;
inline constexpr size_t kInitializedSize = 56;
inline constexpr size_t kNonResidentHeader = 64;
inline constexpr u16 kCompressed = 0x0001;
inline constexpr u16 kEncrypted = 0x4000;

inline constexpr u32 kStandardInformation = 0x10;
inline constexpr u32 kAttributeList = 0x20;
inline constexpr u32 kFileName = 0x30;
inline constexpr u32 kVolumeName = 0x60;
inline constexpr u32 kData = 0x80;
inline constexpr u32 kIndexRoot = 0x90;
inline constexpr u32 kIndexAllocation = 0xA0;
inline constexpr u32 kEnd = 0xFFFFFFFF;
}  // namespace attr

// $FILE_NAME, offsets from the start of the attribute (its value taken to start at 24).
namespace filename {
inline constexpr size_t kParent = 24;
inline constexpr size_t kCreation = 32;
inline constexpr size_t kModification = 40;
inline constexpr size_t kAccess = 56;
inline constexpr size_t kRealSize = 72;
inline constexpr size_t kFlags = 80;
inline constexpr size_t kNameLength = 88;
inline constexpr size_t kNamespace = 89;
inline constexpr size_t kName = 90;
inline constexpr u32 kDirectoryFlag = 0x10000000;
inline constexpr u32 kEncryptedFlag = 0x4000;
inline constexpr u8 kWin32Namespace = 1;
}  // namespace filename

// $STANDARD_INFORMATION, offsets from the start of the attribute.
namespace stdinfo {
inline constexpr size_t kCreation = 24;
inline constexpr size_t kModification = 32;
inline constexpr size_t kAccess = 48;
inline constexpr size_t kDosAttributes = 56;
inline constexpr u32 kMinValue = 40;
}  // namespace stdinfo

// $INDEX_ROOT, offsets from the start of its value.
namespace indexroot {
inline constexpr size_t kEntriesOffset = 16;  // counted from this field
inline constexpr size_t kEntriesTotal = 20;
}  // namespace indexroot

// Index entry (in $INDEX_ROOT and INDX blocks); the key is a $FILE_NAME value.
namespace entry {
inline constexpr size_t kLength = 8;
inline constexpr size_t kFlags = 12;
inline constexpr size_t kParent = 16;
inline constexpr size_t kAllocatedSize = 56;
inline constexpr size_t kRealSize = 64;
inline constexpr size_t kNameLength = 80;
inline constexpr size_t kMinSize = 88;
inline constexpr u16 kSubNode = 0x01;
inline constexpr u16 kLast = 0x02;
}  // namespace entry

// INDX block header.
namespace indx {
inline constexpr size_t kUsaOffset = 4;
inline constexpr size_t kUsaCount = 6;
inline constexpr size_t kLogSequence = 8;
inline constexpr size_t kVcn = 16;
inline constexpr size_t kEntriesOffset = 24;  // counted from 24
inline constexpr size_t kEntriesInUse = 28;
inline constexpr size_t kEntriesAllocated = 32;
inline constexpr size_t kEntriesBase = 24;
inline constexpr u32 kMinUsaOffset = 40;
inline constexpr u32 kMaxUsaOffset = 256;
}  // namespace indx

// RCRD log page.
namespace rcrd {
inline constexpr size_t kUsaOffset = 4;
inline constexpr size_t kUsaCount = 6;
inline constexpr size_t kLastLsn = 8;
inline constexpr size_t kLastEndLsn = 32;
inline constexpr size_t kSequence = 40;
inline constexpr size_t kSavedEnds = 42;
inline constexpr size_t kHeaderSize = 64;
inline constexpr u16 kUsaOffsetValue = 40;
inline constexpr u16 kUsaCountValue = 9;
inline constexpr u32 kPageSize = 4096;
inline constexpr u32 kDataSize = kPageSize - kHeaderSize;  // 4032
}  // namespace rcrd

// Log record (an operation record of a RCRD page); client data offsets count from kHeaderSize.
namespace logrec {
inline constexpr size_t kThisLsn = 0;
inline constexpr size_t kClientLength = 24;
inline constexpr size_t kHeaderSize = 48;
inline constexpr size_t kRedoOperation = 48;
inline constexpr size_t kUndoOperation = 50;
inline constexpr size_t kRedoOffset = 52;
inline constexpr size_t kRedoLength = 54;
inline constexpr size_t kUndoOffset = 56;
inline constexpr size_t kUndoLength = 58;
inline constexpr size_t kTargetAttribute = 60;
inline constexpr size_t kLcnsToFollow = 62;
inline constexpr size_t kRecordOffset = 64;
inline constexpr size_t kAttributeOffset = 66;
inline constexpr size_t kClusterIndex = 68;
inline constexpr size_t kTargetVcn = 72;
inline constexpr size_t kFirstLcn = 80;
inline constexpr size_t kKeptHeader = 88;     // the bytes kept of each record
inline constexpr size_t kFileRecordAt = 88;   // "FILE0" of a whole FILE record written by the log
}  // namespace logrec

// $ATTRIBUTE_LIST entry.
namespace attrlist {
inline constexpr size_t kType = 0;
inline constexpr size_t kLength = 4;
inline constexpr size_t kReference = 16;
}  // namespace attrlist

}  // namespace ntfs
