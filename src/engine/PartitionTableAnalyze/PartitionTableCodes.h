// Result codes of the partition-table readers (module 0x10), and the sector reads they share.
#pragma once

#include <cstring>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/Common/ResultCode.h"
#include "engine/PartitionTableAnalyze/PartitionEntry.h"
#include "engine/PartitionTableAnalyze/PartitionTableLayout.h"
#include "engine/StorageDevice/IStorageDevice.h"

namespace partition_codes {

constexpr u64 Code(u16 site, u32 kind) { return result::Make(result::kModulePartitionTable, site, kind); }

inline constexpr u64 kNoDevice = Code(0x020, 5);
inline constexpr u64 kNotWholeDisk = Code(0x027, 3);
inline constexpr u64 kNoPrivateData = Code(0x064, 7);
inline constexpr u64 kNotDiskData = Code(0x06c, 7);
inline constexpr u64 kNoDiskRecord = Code(0x033, 7);
inline constexpr u64 kNotPhysicalDisk = Code(0x03a, 3);
inline constexpr u64 kSectorTooSmall = Code(0x18b, 8);
inline constexpr u64 kMbrDynamicDisk = Code(0x086, 3);
inline constexpr u64 kGptDynamicDisk = Code(0x0a4, 3);
inline constexpr u64 kGptNoDevice = Code(0x021, 5);
inline constexpr u64 kMbrNoDevice = Code(0x029, 5);
inline constexpr u64 kMbrNoSignature = Code(0x04f, 6);
inline constexpr u64 kMbrBadBootFlag = Code(0x054, 6);
inline constexpr u64 kEbrNoSignature = Code(0x0b3, 6);
inline constexpr u64 kEbrBadBootFlag = Code(0x0b8, 6);
inline constexpr u64 kEbrTwoLinks = Code(0x0e6, 6);
inline constexpr u64 kApmNoDevice = Code(0x0b8, 5);
inline constexpr u64 kApmBadSectorSize = Code(0x029, 3);
inline constexpr u64 kApmNoDriverDescriptor = Code(0x043, 6);
inline constexpr u64 kApmNoMapEntry = Code(0x062, 6);
inline constexpr u64 kApmTooManyEntries = Code(0x06a, 6);

}  // namespace partition_codes

namespace partition_io {

// Reads count sectors from first into a buffer of count sectors; the device's last error (or a generic
// failure when it has none) when the read fails.
inline u64 ReadSectors(IStorageDevice* disk, i64 first, i64 count, std::vector<u8>& out) {
    // Every reader looks at offsets up to 511 of a sector.
    if (disk->GetSectorSize() < mbr_layout::kRecordSize) return partition_codes::kSectorTooSmall;
    out.assign(static_cast<size_t>(disk->GetSectorSize()) * static_cast<size_t>(count), 0);
    if (disk->ReadSector(out.data(), first, count)) return 0;
    const u64 error = disk->GetLastError();
    return result::IsFailure(error) ? error : result::kGenericFailure;
}

inline bool HasBootSignature(const std::vector<u8>& sector) {
    static constexpr u8 kBootSignature[2] = {0x55, 0xAA};
    return sector.size() >= mbr_layout::kRecordSize &&
           ByteReader(sector).Equals(mbr_layout::kSignature, kBootSignature, sizeof(kBootSignature));
}

// A partition entry with the common fields set and the rest zero.
inline PartitionEntry MakeEntry(i32 number, i64 start, i64 count) {
    PartitionEntry entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.number = number;
    entry.startSector = start;
    entry.sectorCount = count;
    return entry;
}

}  // namespace partition_io
