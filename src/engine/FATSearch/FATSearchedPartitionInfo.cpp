#include "engine/FATSearch/FATSearchedPartitionInfo.h"

#include <new>

CFATSearchedPartitionInfo* CFATSearchedPartitionInfo::Clone() const {
    auto* copy = new (std::nothrow) CFATSearchedPartitionInfo(m_sectorSize);
    if (copy == nullptr) return nullptr;
    copy->m_cluster0Sector = m_cluster0Sector;
    copy->m_partitionStartSector = m_partitionStartSector;
    copy->m_totalSectors = m_totalSectors;
    copy->m_fileSystemType = m_fileSystemType;
    copy->m_sectorsPerCluster = m_sectorsPerCluster;
    copy->m_partitionIndex = m_partitionIndex;
    copy->m_reservedSectors = m_reservedSectors;
    copy->m_sectorsPerFat = m_sectorsPerFat;
    copy->m_totalClusters = m_totalClusters;
    copy->m_rootInfo = m_rootInfo;
    copy->m_flags = m_flags;
    return copy;
}

CFATSearchedPartitionInfo* CreateFATSearchedPartitionInfo(u32 sectorSize) {
    return new (std::nothrow) CFATSearchedPartitionInfo(sectorSize);
}

void DestroyFATSearchedPartitionInfo(CFATSearchedPartitionInfo* record) {
    delete record;
}
