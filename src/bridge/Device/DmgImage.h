// Apple disk images opened as devices: a UDIF image (a "koly" trailer and XML block tables) is accepted
// only when every chunk is stored raw at the place a flat reading of the file finds it; any other file
// of more than 512 bytes is a flat raw image. Either way the engine reads 512-byte sectors from offset 0.
#pragma once

#include <plist/plist.h>

#include "engine/Common/Types.h"
#include "engine/DeviceRecords/ImageInfoStructs.h"

// The UDIF trailer, the last 512 bytes of the file (big-endian).
namespace koly_layout {
inline constexpr size_t kSize = 512;
inline constexpr size_t kSignature = 0;  // "koly"
inline constexpr size_t kDataForkOffset = 24;
inline constexpr size_t kDataForkLength = 32;
inline constexpr size_t kXmlOffset = 216;
inline constexpr size_t kXmlLength = 224;
inline constexpr size_t kSectorCount = 492;
}  // namespace koly_layout

// A block table ("mish"), the "Data" of each "blkx" element (big-endian).
namespace mish_layout {
inline constexpr size_t kSignature = 0;  // "mish"
inline constexpr size_t kFirstSector = 8;
inline constexpr size_t kSectorCount = 16;
inline constexpr size_t kDataOffset = 24;
inline constexpr size_t kBuffersNeeded = 32;
inline constexpr size_t kChunkCount = 200;
inline constexpr size_t kChunks = 204;
inline constexpr size_t kChunkSize = 40;
// One chunk entry.
inline constexpr size_t kChunkType = 0;
inline constexpr size_t kChunkFirstSector = 8;
inline constexpr size_t kChunkSectorCount = 16;
inline constexpr size_t kChunkOffset = 24;
inline constexpr size_t kChunkLength = 32;
}  // namespace mish_layout

namespace udif_chunk {
inline constexpr u32 kZeroFill = 0;
inline constexpr u32 kRaw = 1;
inline constexpr u32 kIgnore = 2;
inline constexpr u32 kComment = 0x7FFFFFFE;
inline constexpr u32 kTerminator = 0xFFFFFFFF;
}  // namespace udif_chunk

// The largest property list of block tables read (a raw image's tables are a few kilobytes).
inline constexpr u64 kMaxDmgXmlBytes = 16ull << 20;

// True when the image at path can be read as flat 512-byte sectors; fills the record's total sectors
// and file length (the caller has zeroed it and set the sector size, name and path). Each refusal
// writes its reason to the log.
bool ParseDmgFile(const char* path, CDMGDeviceInfoStruct* record);

// True when every block table of the "blkx" array is whole and holds only chunks a flat reading gets
// right: zero-fill, raw, ignore, comment and terminator chunks, each raw chunk at the file offset of its
// sectors. dataForkOffset is the trailer's; an empty or missing array is accepted.
bool ParseChunkEntry(plist_t blkxArray, u64 dataForkOffset = 0);
