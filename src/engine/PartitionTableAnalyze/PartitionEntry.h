// One partition found in a disk's partition table, and the partition schemes.
#pragma once

#include <vector>

#include "engine/Common/Types.h"

enum enumDiskPartitionScheme : u32 {
    DISK_PARTITION_SCHEME_NONE = 0,
    DISK_PARTITION_SCHEME_MBR = 1,
    DISK_PARTITION_SCHEME_GPT = 2,
    DISK_PARTITION_SCHEME_APM = 3,
};

struct PartitionEntry {
    // 1-4 primary MBR entries, 5 upward logical ones, the index from 1 in a GUID table or an Apple map;
    // -1 for the entry that stands for a whole disk without partitions.
    i32 number;
    i32 reserved;      // 0
    i64 startSector;   // absolute on the disk
    i64 sectorCount;
    u8 typeGuid[16];   // GUID tables only, as stored on disk
    u8 uniqueGuid[16]; // GUID tables only, as stored on disk
    char typeName[32]; // Apple maps only: the entry's partition type text (not always terminated)
};

using PartitionEntryList = std::vector<PartitionEntry>;
