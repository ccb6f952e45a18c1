// The contents of a saved scan result, inside the framed archive (engine/FileArchive): three frames, in
// this order, all little-endian without padding.
//
// Frame 1 (_frFileSystemSearchControllerList): u32 8, u32 controller type (0 deleted, 1 complete,
// 2 partition, 3 none), u32 deep flag.
// Frame 2 (_frDiskDevice): u64 capacity, i32 disk index, i32 volume index, i32 file system, u32 N + N name
// bytes, u32 isAppleDmg, u32 M (0xFFFFFFFF: absent) + M bytes of the image record, u32 isEdi, u32 E
// (0xFFFFFFFF: absent) + E bytes of the EDI information block.
// Frame 3 (_frFileSystemNode): u64 R; per root: u32 1, its system-node record, u32 P, P times (u32 kind +
// 104-byte partition record), its nodes breadth first (each u32 0 + file-node record), u32 0xFFFFFFFF.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

namespace saved_result {

inline constexpr u32 kFrame1Length = 8;
inline constexpr u32 kAbsentBlock = 0xFFFFFFFFu;
// The image records the device record may carry: exactly these sizes.
inline constexpr u32 kDmgRecordSize = 2088;
inline constexpr u32 kEdiBlockSize = 1192;
// A device name is shorter than this.
inline constexpr u32 kMaxDeviceName = 4096;

inline constexpr u32 kRootMarker = 1;
inline constexpr u32 kNodeMarker = 0;
inline constexpr u32 kEndMarker = 0xFFFFFFFFu;
inline constexpr u32 kMaxPartitions = 512;
inline constexpr u32 kMaxPartitionKind = 4;
// A node name is shorter than this; a volume name is shorter than kMaxVolumeName (longer ones are cut
// when written).
inline constexpr u32 kMaxNodeName = 65536;
inline constexpr u32 kMaxVolumeName = 512;

// The file-node record: a fixed head, K runs, the name, a fixed tail (88 + 16 K + L bytes).
namespace node_layout {
inline constexpr size_t kId = 0;            // i64
inline constexpr size_t kParentId = 8;      // i64
inline constexpr size_t kSize = 16;         // u64
inline constexpr size_t kAttribute = 24;    // u16
inline constexpr size_t kCreation = 26;     // FILETIME
inline constexpr size_t kModification = 34;  // FILETIME
inline constexpr size_t kAccess = 42;       // FILETIME
inline constexpr size_t kDirectory = 50;    // u32
inline constexpr size_t kDeleted = 54;      // u32
inline constexpr size_t kRunCount = 58;     // u32 K
inline constexpr size_t kResident = 62;     // u32
inline constexpr size_t kHeadSize = 66;
inline constexpr size_t kRunSize = 16;  // i64 start, u64 length
inline constexpr size_t kRunStart = 0;
inline constexpr size_t kRunLength = 8;
// After the runs: u32 L and L name bytes, then the tail.
inline constexpr size_t kShown = 0;        // u32
inline constexpr size_t kPartition = 4;    // u16, 0xFFFF none
inline constexpr size_t kMetadata = 6;     // u64
inline constexpr size_t kCompressed = 14;  // u32
inline constexpr size_t kTailSize = 18;
}  // namespace node_layout

// The partition record: the listed offsets are fixed; bytes 0-15 and 96-103 are written as zeros and
// ignored when read.
namespace partition_layout {
inline constexpr size_t kIndex = 16;             // u16
inline constexpr size_t kFileSystem = 20;        // u32
inline constexpr size_t kSectorsPerCluster = 24;  // u32
inline constexpr size_t kCluster0Sector = 32;    // i64
inline constexpr size_t kStartSector = 40;       // i64
inline constexpr size_t kMatchCount1 = 48;       // i64
inline constexpr size_t kMatchCount2 = 56;       // i64
inline constexpr size_t kSectorSize = 64;        // u32
inline constexpr size_t kTotalSectors = 72;      // i64
inline constexpr size_t kScore = 80;             // i64
inline constexpr size_t kWeight = 88;            // IEEE double, stored as its 64 bits
inline constexpr size_t kSize = 104;
}  // namespace partition_layout

// Codes of a refused file (the load thread's error codes).
inline constexpr u32 kCodeHeader = 3;  // bad header or status 0
inline constexpr u32 kCodeFrame1 = 4;  // frame 1 missing or bad
inline constexpr u32 kCodeFormat = 5;  // frame 2 or 3 missing, short or out of range

}  // namespace saved_result
