// The extents of a FAT file: a live file follows its cluster chain, a deleted one is taken to occupy
// the clusters from its first on that the table marks free. Runs count clusters from cluster 2 (run
// start 0).
#pragma once

#include <vector>

#include "engine/FATLib/FATTypes.h"

class IFATTable;
class IDataRunList;

class CFATBuildDataRun {
public:
    // clusterBits (optional, one bit per cluster counted from cluster 2) marks the clusters of live lists.
    CFATBuildDataRun(IFATTable* table, u32 sectorSize, u32 sectorsPerCluster, u64 totalSectors,
                     std::vector<bool>* clusterBits = nullptr);

    // A new list owned by the caller, or none.
    IDataRunList* BuildDataRunList(u64 firstCluster, u64 size, bool deleted);
    static void BuildDeleteFileDataRunList(IDataRunList* list, u64 firstCluster, u64 size, IFATTable* table,
                                           u32 sectorsPerCluster, u64 totalSectors, u32 sectorSize);

private:
    bool FitsVolume(i64 runStart, u64 runLength) const;

    IFATTable* m_table;
    u32 m_sectorSize;
    u32 m_sectorsPerCluster;
    u64 m_totalSectors;
    std::vector<bool>* m_clusterBits;
};
