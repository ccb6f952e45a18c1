// Values shared by the FAT readers: file-system types, on-disk constants and little-endian reads.
#pragma once

#include <cstring>

#include "engine/Common/Types.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

namespace fat {

inline constexpr u32 kBadCluster = 0x0FFFFFF7;
inline constexpr u32 kEndOfChain = 0x0FFFFFF8;
inline constexpr u32 kLastUsedCluster = 0x0FFFFFEF;
inline constexpr u32 kDirEntrySize = 32;
// Every boot and table probe reads into buffers of this size; larger sectors are refused.
inline constexpr u32 kMaxSectorSize = 4096;

inline u16 Le16(const u8* p) {
    return static_cast<u16>(p[0] | (p[1] << 8));
}
inline u32 Le32(const u8* p) {
    return u32{p[0]} | (u32{p[1]} << 8) | (u32{p[2]} << 16) | (u32{p[3]} << 24);
}
inline void PutLe16(u8* p, u16 v) {
    p[0] = static_cast<u8>(v);
    p[1] = static_cast<u8>(v >> 8);
}

// True for the sector sizes the FAT readers accept: 512 to 4096 bytes, a multiple of 512.
inline bool IsSupportedSectorSize(u32 size) {
    return size >= 512 && size <= kMaxSectorSize && size % 512 == 0;
}

}  // namespace fat
