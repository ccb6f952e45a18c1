// The on-disk layout of the exFAT structures the searchers read: the main boot sector and the 32-byte
// directory entries. Every offset is named once here and read through ByteReader.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

namespace exfat {

// Clusters: 2 is the first cluster of the heap; numbers above kLastCluster are no cluster (bad, end).
inline constexpr u32 kFirstCluster = 2;
inline constexpr u32 kLastCluster = 0xFFFFFFF5;
inline constexpr u32 kNoCluster = 0xFFFFFFFF;
// Boot buffers are 4096 bytes: larger sectors are refused before anything is read.
inline constexpr u32 kMaxSectorSize = 4096;
// The largest cluster: 32 MiB (bytes-per-sector shift + sectors-per-cluster shift).
inline constexpr u32 kMaxClusterShift = 25;

inline constexpr bool IsCluster(u32 cluster) {
    return cluster >= kFirstCluster && cluster <= kLastCluster;
}

namespace boot {
inline constexpr size_t kFileSystemName = 3;  // 8 bytes: "EXFAT   "
inline constexpr char kName[] = "EXFAT   ";
inline constexpr size_t kMustBeZero = 11;  // through byte 63
inline constexpr size_t kMustBeZeroLength = 53;
inline constexpr size_t kVolumeLength = 72;         // u64, sectors
inline constexpr size_t kFatOffset = 80;            // u32, sectors from the volume start
inline constexpr size_t kFatLength = 84;            // u32, sectors
inline constexpr size_t kClusterHeapOffset = 88;    // u32, sector of cluster 2
inline constexpr size_t kClusterCount = 92;         // u32
inline constexpr size_t kRootCluster = 96;          // u32
inline constexpr size_t kVolumeFlags = 106;         // u16, bit 0: the active FAT
inline constexpr size_t kBytesPerSectorShift = 108;  // u8
inline constexpr size_t kSectorsPerClusterShift = 109;  // u8
inline constexpr size_t kNumberOfFats = 110;        // u8
inline constexpr size_t kSignature = 510;           // 0x55 0xAA
inline constexpr size_t kSize = 512;
// The backup boot region starts this many sectors after the main boot sector.
inline constexpr u32 kBackupDistance = 12;
}  // namespace boot

namespace entry {
inline constexpr size_t kSize = 32;
inline constexpr size_t kType = 0;
inline constexpr u8 kInUseBit = 0x80;
// Set in the types of secondary entries (stream, name, vendor extension and allocation).
inline constexpr u8 kSecondaryBit = 0x40;

// Entry types, in use and deleted.
inline constexpr u8 kEndOfDirectory = 0x00;
inline constexpr u8 kBitmap = 0x81;
inline constexpr u8 kUpcase = 0x82;
inline constexpr u8 kVolumeLabel = 0x83;
// Benign primary entries the format allows in the root: the volume GUID and TexFAT padding.
inline constexpr u8 kVolumeGuid = 0xA0;
inline constexpr u8 kTexFatPadding = 0xA1;
inline constexpr size_t kSecondaryCountOfPrimary = 1;  // u8, of every primary entry
inline constexpr u8 kDeletedVolumeLabel = 0x03;
inline constexpr u8 kFile = 0x85;
inline constexpr u8 kDeletedFile = 0x05;
inline constexpr u8 kStream = 0xC0;
inline constexpr u8 kDeletedStream = 0x40;
inline constexpr u8 kName = 0xC1;
inline constexpr u8 kDeletedName = 0x41;
// A set is one file entry and 2..18 secondary entries.
inline constexpr u8 kMinSecondaryCount = 2;
inline constexpr u8 kMaxSecondaryCount = 18;
}  // namespace entry

namespace file {
inline constexpr size_t kSecondaryCount = 1;  // u8
inline constexpr size_t kSetChecksum = 2;     // u16
inline constexpr size_t kAttributes = 4;      // u16, 0x10 directory
inline constexpr size_t kReserved1 = 6;       // u16
inline constexpr size_t kCreateTime = 8;      // u32: DOS time low, DOS date high
inline constexpr size_t kModifiedTime = 12;   // u32
inline constexpr size_t kAccessedTime = 16;   // u32
inline constexpr size_t kCreate10ms = 20;     // u8
inline constexpr size_t kModified10ms = 21;   // u8
inline constexpr size_t kReserved2 = 25;      // 7 bytes
inline constexpr size_t kReserved2Length = 7;
inline constexpr u16 kDirectoryAttribute = 0x10;
inline constexpr u8 kMax10ms = 199;
}  // namespace file

namespace stream {
inline constexpr size_t kFlags = 1;            // u8: bit 1 no FAT chain
inline constexpr size_t kReserved1 = 2;        // u8
inline constexpr size_t kNameLength = 3;       // u8
inline constexpr size_t kReserved2 = 6;        // u16
inline constexpr size_t kValidDataLength = 8;  // u64
inline constexpr size_t kReserved3 = 16;       // u32
inline constexpr size_t kFirstCluster = 20;    // u32
inline constexpr size_t kDataLength = 24;      // u64
inline constexpr u8 kNoFatChainFlag = 0x02;
}  // namespace stream

namespace name {
inline constexpr size_t kFlags = 1;       // u8
inline constexpr size_t kCharacters = 2;  // 15 UTF-16LE units
inline constexpr size_t kCharacterCount = 15;
}  // namespace name

namespace label {
inline constexpr size_t kCharacterCount = 1;  // u8
inline constexpr size_t kCharacters = 2;      // 11 UTF-16LE units
inline constexpr size_t kMaxCharacters = 11;
inline constexpr size_t kReserved = 24;  // 8 bytes
inline constexpr size_t kReservedLength = 8;
}  // namespace label

// The allocation bitmap and up-case table entries share the cluster and length fields.
namespace bitmap {
inline constexpr size_t kFlags = 1;     // bit 0: the second bitmap (of a volume with two FATs)
inline constexpr size_t kReserved = 2;  // bytes 2..19
inline constexpr size_t kReservedLength = 18;
inline constexpr size_t kFirstCluster = 20;  // u32
inline constexpr size_t kDataLength = 24;    // u64
}  // namespace bitmap

namespace upcase {
inline constexpr size_t kReserved1 = 1;  // bytes 1..3
inline constexpr size_t kReserved1Length = 3;
inline constexpr size_t kChecksum = 4;   // u32, not read
inline constexpr size_t kReserved2 = 8;  // bytes 8..19
inline constexpr size_t kReserved2Length = 12;
inline constexpr size_t kFirstCluster = 20;  // u32
inline constexpr size_t kDataLength = 24;    // u64
}  // namespace upcase

}  // namespace exfat
