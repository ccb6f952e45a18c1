// Lists the partitions of a whole disk from its partition table (read only).
#pragma once

#include "engine/PartitionTableAnalyze/PartitionEntry.h"

class IStorageDevice;

class IPartitionTableAnalyze {
public:
    virtual ~IPartitionTableAnalyze() = default;
    // Empties out, then fills it in the order found. Returns 0 or a failure code; on failure out holds
    // the partitions read before it.
    virtual u64 AnalyzePartitionTable(IStorageDevice* disk, PartitionEntryList& out) = 0;
};

// A new reader; the caller deletes it. Null when memory is exhausted.
IPartitionTableAnalyze* CreatePartitionTableAnalyze();
