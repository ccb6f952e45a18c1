// The Apple partition map: a driver descriptor in sector 0, then one map entry per block from block 1.
#pragma once

#include <vector>

#include "engine/PartitionTableAnalyze/PartitionEntry.h"

class IStorageDevice;

class CAPMAnaly {
public:
    static constexpr u32 kMaxMapEntries = 31;

    u64 AnalyzePartition(IStorageDevice* disk, PartitionEntryList& out);
    int GetSectorsPerBlock() const { return m_sectorsPerBlock; }
    int GetPartCount() const { return m_mapEntryCount; }
    // Lists the map's entries (after AnalyzePartition has read the descriptor and the first entry).
    u64 AnalyzePartitionTable(PartitionEntryList& out);

private:
    u64 ReadBlock(i64 block);

    IStorageDevice* m_disk = nullptr;
    int m_sectorSize = 0;
    int m_sectorsPerBlock = 0;
    std::vector<u8> m_sector;
    int m_mapEntryCount = 0;
};
