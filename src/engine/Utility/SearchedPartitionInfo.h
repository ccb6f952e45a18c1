// The record of a partition or volume that a searcher found or rebuilt. The FAT and NTFS searches
// derive their own records from it. Plain data: the saved-result file writes it field by field.
#pragma once

#include <new>
#include <vector>

#include "engine/Common/Types.h"
#include "engine/Utility/IPrivateData.h"

class CSearchedPartitionInfo {
public:
    static constexpr u32 kUnknownFileSystem = 10;

    explicit CSearchedPartitionInfo(u32 sectorSize = 512);
    virtual ~CSearchedPartitionInfo() = default;
    CSearchedPartitionInfo(const CSearchedPartitionInfo&) = default;
    CSearchedPartitionInfo& operator=(const CSearchedPartitionInfo&) = default;

    // 4 for the base record; derived records answer their own kind.
    virtual u32 GetType() { return 4; }
    i64 GetTotalSectors() const { return m_totalSectors; }
    void SetTotalSectors(u64 total) { m_totalSectors = static_cast<i64>(total); }

    IPrivateData* m_privateData = nullptr;  // not owned
    i32 m_partitionIndex = -1;              // stamped on nodes as 16 bits
    u32 m_fileSystemType = kUnknownFileSystem;
    u32 m_sectorsPerCluster = 0;
    i64 m_cluster0Sector = 0;  // device sector of cluster 0: the base of data runs
    i64 m_partitionStartSector = 0;
    i64 m_matchCount1 = 0;
    i64 m_matchCount2 = 0;
    u32 m_sectorSize = 512;
    u32 m_reserved = 0;
    i64 m_totalSectors = 0;
    i64 m_score = 1;
    double m_weight = 0.0;
    u32 m_extra1 = 0;
    u32 m_extra2 = 0;
};

// The partition-info contract of every searcher: with a null array the count; with room for all,
// copies (owned by the caller) and the count; with less room 0 and nothing written.
template <class Record>
int CopySearchedPartitionInfo(const std::vector<Record*>& records, CSearchedPartitionInfo** out, int capacity) {
    const int count = static_cast<int>(records.size());
    if (!out) return count;
    if (capacity < count) return 0;
    for (int i = 0; i < count; ++i) {
        out[i] = new (std::nothrow) Record(*records[i]);
        if (out[i]) continue;
        for (int j = 0; j < i; ++j) delete out[j];
        return 0;
    }
    return count;
}
