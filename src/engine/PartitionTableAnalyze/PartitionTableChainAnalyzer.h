// The master boot record and its chain of extended boot records.
#pragma once

#include "engine/PartitionTableAnalyze/PartitionEntry.h"
#include "engine/PartitionTableAnalyze/PartitionTableEntry.h"

class IStorageDevice;

class CPartitionTableChainAnalyzer {
public:
    // A chain longer than this is treated as hostile and ends there.
    static constexpr int kMaxExtendedRecords = 1024;

    u64 AnalyzePartitionTableChain(IStorageDevice* disk, PartitionEntryList& out);
    u64 AnalyzeMBR(IStorageDevice* disk, PartitionEntryList& out);
    // Walks the chain from its first record; number is the last logical number given (4 at the start).
    u64 AnalyzeEMBR(IStorageDevice* disk, i64 extendedStart, i64 extendedEnd, i64 ebrSector, int& number,
                    PartitionEntryList& out);
    // Lists entry at base + its first sector, cut to the disk's end; entries starting at or past the end
    // are not listed (false).
    bool InsertPartitionInfoToOutList(IStorageDevice* disk, const CPartitionTableEntry& entry, i64 base, int number,
                                      PartitionEntryList& out);
};
