// Values shared by the FAT readers: file-system types and on-disk constants.
#pragma once

#include "engine/Common/Types.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

namespace fat {

inline constexpr u32 kBadCluster = 0x0FFFFFF7;
inline constexpr u32 kEndOfChain = 0x0FFFFFF8;
inline constexpr u32 kLastUsedCluster = 0x0FFFFFEF;
// Every boot and table probe reads into buffers of this size; larger sectors are refused.
inline constexpr u32 kMaxSectorSize = 4096;

// True for the sector sizes the FAT readers accept: 512 to 4096 bytes, a multiple of 512.
inline bool IsSupportedSectorSize(u32 size) {
    return size >= 512 && size <= kMaxSectorSize && size % 512 == 0;
}

}  // namespace fat
