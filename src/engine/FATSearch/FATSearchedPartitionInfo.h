// The record of a FAT volume found by a FAT search: the base partition record plus the FAT geometry.
#pragma once

#include "engine/Utility/SearchedPartitionInfo.h"

// Flag bits of a search: where the boot sector and the tables were found.
namespace fatflags {
inline constexpr u32 kBootFat16A = 0x01;
inline constexpr u32 kBootFat16B = 0x02;
inline constexpr u32 kBootFat32 = 0x04;
inline constexpr u32 kBackupBootFat32 = 0x08;
inline constexpr u32 kFirstTableA = 0x40;
inline constexpr u32 kFirstTableB = 0x80;
inline constexpr u32 kSecondTableA = 0x100;
inline constexpr u32 kSecondTableB = 0x200;
inline constexpr u32 kQuickFat16 = 0x3C3;
inline constexpr u32 kQuickFat32 = 0x3CC;
}  // namespace fatflags

class CFATSearchedPartitionInfo : public CSearchedPartitionInfo {
public:
    explicit CFATSearchedPartitionInfo(u32 sectorSize) : CSearchedPartitionInfo(sectorSize) {}

    u32 GetType() override { return 1; }
    CFATSearchedPartitionInfo* Clone() const;

    void SetSectorPerFAT(u32 v) { m_sectorsPerFat = v; }
    void SetTotalCluster(u32 v) { m_totalClusters = v; }
    void SetStartSector(i64 v) { m_partitionStartSector = v; }
    void SetReservedSector(u16 v) { m_reservedSectors = v; }
    void SetRootInfo(u32 v) { m_rootInfo = v; }
    u16 GetReservedSector() const { return m_reservedSectors; }
    u32 GetSectorPerFAT() const { return m_sectorsPerFat; }
    u32 GetTotalCluster() const { return m_totalClusters; }
    u32 GetRootInfo() const { return m_rootInfo; }
    u32 GetFlag() const { return m_flags; }
    void MergeFlag(u32 bits) { m_flags |= bits; }

    u16 m_reservedSectors = 0;
    u32 m_sectorsPerFat = 0;
    u32 m_totalClusters = 0;
    u32 m_rootInfo = 0;  // FAT32: the root's first cluster; FAT16: the root directory's sectors
    u32 m_flags = 0;
};

CFATSearchedPartitionInfo* CreateFATSearchedPartitionInfo(u32 sectorSize);
void DestroyFATSearchedPartitionInfo(CFATSearchedPartitionInfo* record);
