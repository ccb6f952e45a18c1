// The GUID partition table: the entry array in sectors 2-33 (the header in sector 1 is not read, so a
// damaged header does not hide the partitions).
#pragma once

#include <vector>

#include "engine/PartitionTableAnalyze/PartitionEntry.h"
#include "engine/PartitionTableAnalyze/PartitionTableLayout.h"

class IStorageDevice;

class CBaseGPTAnalyzer {
public:
    static constexpr int kEntryCount = 128;
    static constexpr int kEntrySize = static_cast<int>(gpt_layout::kEntrySize);
    static constexpr i64 kArrayFirstSector = 2;
    static constexpr i64 kArraySectors = 32;
    // Partitions of 8 MiB or less, counted in 512-byte units whatever the sector size, are not listed.
    static constexpr i64 kMinimumListedSectors512 = 16384;

    u64 AnalyzeBaseGPT(IStorageDevice* disk, PartitionEntryList& out);
    u64 AnalyzeBaseGPTInBuf(IStorageDevice* disk, const std::vector<u8>& buffer, PartitionEntryList& out,
                            int entryCount);
    // Lists one 128-byte entry as partition `number`; false when it is not listed.
    bool InsertPartitionInfoToOutList(IStorageDevice* disk, const u8* entry, int number, PartitionEntryList& out);
};
