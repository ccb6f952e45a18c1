// Lost FAT volumes inferred from what the deep search meets: a boot sector gives a whole layout; the
// first sector of a table confirms the candidate that expects it there; a sub-folder's first sector,
// whose "." entry names its cluster n, puts the data area (n - 2) clusters before it for each cluster
// size, and the rest of the layout is inferred from the room before and after. A candidate is keyed by
// its data-area start (the sector of cluster 2) and its cluster size. All arithmetic on values read from
// the disk is 64-bit.
#include <algorithm>
#include <new>

#include "engine/FATLib/FATBootSector.h"
#include "engine/FATLib/FATLayout.h"
#include "engine/FATSearch/FATCompleteFSearcher.h"
#include "engine/FATSearch/FATSearchedPartitionInfo.h"

namespace {

const u64* ClusterLimits(u32 type) {
    return type == FILE_SYSTEM_FAT32 ? fatdeep::kFat32Clusters : fatdeep::kFat16Clusters;
}

bool WithinLimits(u64 clusters, u32 type) {
    const u64* limits = ClusterLimits(type);
    return clusters >= limits[0] && clusters < limits[1];
}

// Half-bytes (4-bit units) per table entry.
u64 HalfBytes(u32 type) {
    return type == FILE_SYSTEM_FAT32 ? 8 : 4;
}

// A candidate's layout, as a boot sector gives it or as the room around a sub-folder suggests.
struct Layout {
    i64 start;
    i64 dataStart;
    u32 sectorsPerCluster;
    u32 type;
    u64 totalSectors;
    u64 sectorsPerTable;
    u64 clusters;
    u64 reserved;
    u64 rootInfo;
    u32 flag;
};

CFATSearchedPartitionInfo* NewCandidate(u32 sectorSize, const Layout& l) {
    auto* c = CreateFATSearchedPartitionInfo(sectorSize);
    if (c == nullptr) return nullptr;
    c->m_cluster0Sector = l.dataStart;
    c->m_sectorsPerCluster = l.sectorsPerCluster;
    c->m_matchCount1 = 0;
    c->m_matchCount2 = 0;
    c->m_fileSystemType = l.type;
    c->SetTotalSectors(l.totalSectors);
    c->SetSectorPerFAT(static_cast<u32>(l.sectorsPerTable));
    c->SetTotalCluster(static_cast<u32>(l.clusters));
    c->SetStartSector(l.start);
    c->SetReservedSector(static_cast<u16>(l.reserved));
    c->SetRootInfo(static_cast<u32>(l.rootInfo));
    c->MergeFlag(l.flag);
    return c;
}

}  // namespace

u64 fatdeep::TableSectors(u64 clusters, u32 type, u32 sectorSize) {
    const u64 twice = 2 * u64{sectorSize};
    return (clusters * HalfBytes(type) + twice - 1) / twice;
}

void CFATCompleteFSearcher::AddCandidate(std::unique_ptr<CFATSearchedPartitionInfo> candidate, bool expectTables) {
    CFATSearchedPartitionInfo* c = candidate.get();
    m_candidates.emplace(c->m_cluster0Sector, std::move(candidate));
    m_peakCandidates = std::max(m_peakCandidates, m_candidates.size());
    if (!expectTables) return;
    const i64 first = c->m_partitionStartSector + c->GetReservedSector();
    m_expectedTables.emplace(first, c);
    m_expectedTables.emplace(first + i64{c->GetSectorPerFAT()}, c);
}

CFATSearchedPartitionInfo* CFATCompleteFSearcher::BuildPartitionInfoAccordingFATDBR(i64 sector,
                                                                                    const CTempFATDBR& boot,
                                                                                    bool asBackup) const {
    const u32 type = boot.GetFileSystemType();
    if (sector < 0 || (type != FILE_SYSTEM_FAT16 && type != FILE_SYSTEM_FAT32)) return nullptr;
    const i64 deviceSectors = DeviceSectors();
    i64 total = static_cast<i64>(boot.GetTotalSectors());
    if (sector + total > deviceSectors) total = deviceSectors - sector;

    const u64 reserved = boot.GetReservedSector();
    const u64 spt = boot.GetSectorsPerFat();
    const u64 tables = u64{boot.GetNumberOfFat()} * spt;
    u64 rootInfo = 0;
    i64 dataStart = sector + static_cast<i64>(reserved + tables);
    u32 flag = 0;
    if (type == FILE_SYSTEM_FAT32) {
        flag = asBackup ? fatflags::kBackupBootFat32 : fatflags::kBootFat32;
        rootInfo = boot.GetRootDirStartCluster();
    } else {
        rootInfo = u64{boot.GetRootEntries()} * fat_dir_entry_layout::kSize / m_sectorSize;
        dataStart += static_cast<i64>(rootInfo);
        flag = fatflags::kBootFat16B;
    }
    const i64 dataSectors = total - (dataStart - sector);
    if (dataSectors < 1) return nullptr;
    const u32 spc = boot.GetSectorsperCluster();
    const u64 clusters = static_cast<u64>(dataSectors) / spc;
    if (!WithinLimits(clusters, type)) return nullptr;
    if (spt < fatdeep::TableSectors(clusters, type, m_sectorSize)) return nullptr;
    if (type == FILE_SYSTEM_FAT32 && clusters < rootInfo) return nullptr;

    return NewCandidate(m_sectorSize, {sector, dataStart, spc, type, static_cast<u64>(total), spt, clusters,
                                       reserved, rootInfo, flag});
}

int CFATCompleteFSearcher::AnalyzeFATDBRSector(i64 sector, const u8* buffer) {
    const CTempFATDBR boot(buffer, m_sectorSize);
    if (!boot.IsValidDBR()) return 0;
    std::unique_ptr<CFATSearchedPartitionInfo> c(BuildPartitionInfoAccordingFATDBR(sector, boot, false));
    bool made = c != nullptr;
    // A FAT32 boot sector may also be the backup of a volume starting six sectors before it.
    if (boot.GetFileSystemType() == FILE_SYSTEM_FAT32 && sector >= fatdeep::kBackupBootDistance) {
        std::unique_ptr<CFATSearchedPartitionInfo> b(
            BuildPartitionInfoAccordingFATDBR(sector - fatdeep::kBackupBootDistance, boot, true));
        if (b) {
            made = true;
            if (CFATSearchedPartitionInfo* m = FindMatchedPartitionInfo(b->m_cluster0Sector, b->m_sectorsPerCluster)) {
                m->MergeFlag(fatflags::kBackupBootFat32);
                // The backup lies in m's reserved sectors: read as a volume of its own it would be a copy
                // of m shifted by six sectors, whose tables a FAT full of single-cluster chains seems to
                // confirm. It is m's backup only.
                if (m->GetReservedSector() > fatdeep::kBackupBootDistance) c.reset();
            } else {
                AddCandidate(std::move(b), true);
            }
        }
    }
    if (c) AddCandidate(std::move(c), true);
    return made ? 1 : 0;
}

void CFATCompleteFSearcher::UpdateFATTableInfo(i64 sector) {
    const auto [from, to] = m_expectedTables.equal_range(sector);
    for (auto it = from; it != to; ++it) {
        CFATSearchedPartitionInfo* c = it->second;
        const i64 first = c->m_partitionStartSector + c->GetReservedSector();
        if (first == sector) {
            c->MergeFlag(fatflags::kFirstTableA | fatflags::kFirstTableB);
        } else if (first + i64{c->GetSectorPerFAT()} == sector) {
            c->MergeFlag(fatflags::kSecondTableA | fatflags::kSecondTableB);
        }
    }
    // Expected sectors at or before this one can no longer be met in ascending order.
    m_expectedTables.erase(m_expectedTables.begin(), m_expectedTables.upper_bound(sector));
}

CFATSearchedPartitionInfo* CFATCompleteFSearcher::FindMatchedPartitionInfo(i64 dataStart, u32 spc) const {
    const auto [from, to] = m_candidates.equal_range(dataStart);
    for (auto it = from; it != to; ++it) {
        if (it->second->m_sectorsPerCluster == spc) return it->second.get();
    }
    return nullptr;
}

int CFATCompleteFSearcher::AnalyzeFATSubFolderFirstSector(i64 sector, u32 cluster) {
    // Cluster numbers start at 2: a "." naming 0 or 1 places no data area.
    if (cluster < 2 || sector < 0) return 1;
    const u64 before = u64{cluster} - 2;
    std::vector<u32> unmatched;
    for (u32 k : fatdeep::kSectorsPerCluster) {
        const u64 offset = before * k;
        if (offset > static_cast<u64>(sector)) continue;
        const i64 dataStart = sector - static_cast<i64>(offset);
        if (CFATSearchedPartitionInfo* m = FindMatchedPartitionInfo(dataStart, k)) {
            m->MergeFlag(fatdeep::kFromSubFolder);
            ++m->m_matchCount2;
            return 1;
        }
        unmatched.push_back(k);
    }
    for (u32 k : unmatched) {
        if (CFATSearchedPartitionInfo* c = BuildPartitionInfoAccordingtoSubFolder(sector, cluster, k)) {
            AddCandidate(std::unique_ptr<CFATSearchedPartitionInfo>(c), false);
        }
    }
    return 1;
}

CFATSearchedPartitionInfo* CFATCompleteFSearcher::BuildPartitionInfoAccordingtoSubFolder(i64 sector, u32 cluster,
                                                                                          u32 spc) const {
    if (cluster < 2 || sector < 0 || spc == 0) return nullptr;
    const u64 offset = (u64{cluster} - 2) * spc;
    if (offset > static_cast<u64>(sector)) return nullptr;
    const i64 dataStart = sector - static_cast<i64>(offset);
    u64 clusters = 0;
    u64 spt = 0;
    const u32 type = CalcFileSystemType(dataStart, spc, clusters, spt);
    if (type != FILE_SYSTEM_FAT16 && type != FILE_SYSTEM_FAT32) return nullptr;
    i64 start = dataStart - 2 * static_cast<i64>(spt) - 1;
    if (start < 0) return nullptr;
    u64 rootSectors = 0;
    u64 rootInfo = 2;
    if (type == FILE_SYSTEM_FAT16) {
        rootSectors = std::min<u64>(static_cast<u64>(start), fatdeep::kGuessedRootBytes / m_sectorSize);
        start -= static_cast<i64>(rootSectors);
        rootInfo = rootSectors;
    }
    return NewCandidate(m_sectorSize, {start, dataStart, spc, type, clusters * spc + rootSectors + 2 * spt + 1, spt,
                                       clusters, 1, rootInfo, fatdeep::kFromSubFolder});
}

u32 CFATCompleteFSearcher::CalcFileSystemType(i64 dataStart, u32 spc, u64& clusters, u64& spt) const {
    if (IsValidFileSystem(dataStart, spc, FILE_SYSTEM_FAT32, clusters, spt)) return FILE_SYSTEM_FAT32;
    if (IsValidFileSystem(dataStart, spc, FILE_SYSTEM_FAT16, clusters, spt)) return FILE_SYSTEM_FAT16;
    return FILE_SYSTEM_UNKNOWN;
}

bool CFATCompleteFSearcher::IsValidFileSystem(i64 dataStart, u32 spc, u32 type, u64& clusters, u64& spt) const {
    if ((type != FILE_SYSTEM_FAT16 && type != FILE_SYSTEM_FAT32) || spc == 0 || dataStart < 0) return false;
    const i64 deviceSectors = DeviceSectors();
    if (dataStart >= deviceSectors) return false;
    // The room from the data area to the device's end, counted in 64 bits: a device of 2^32 clusters or
    // more must not wrap into a small, valid-looking count.
    clusters = static_cast<u64>(deviceSectors - dataStart) / spc;
    if (!WithinLimits(clusters, type)) return false;
    spt = fatdeep::TableSectors(clusters, type, m_sectorSize);
    const u64 room = static_cast<u64>(dataStart) / 2;
    if (room >= spt) return true;
    // Only as many clusters as two tables in the room before the data area can map; the table size stays
    // (the caller then finds no room for it).
    clusters = room * (2 * u64{m_sectorSize}) / HalfBytes(type);
    return WithinLimits(clusters, type);
}

int CFATCompleteFSearcher::AddSearchedPartitionInfoList2(PartitionList& list) {
    int added = 0;
    for (auto& [start, candidate] : m_candidates) {
        const u32 flags = candidate->GetFlag();
        const bool boot = (flags & fatdeep::kBootFlags) != 0;
        const bool tables = (flags & (fatflags::kFirstTableA | fatflags::kSecondTableA)) != 0;
        const bool keep = boot ? (candidate->m_matchCount2 > 0 || tables) : candidate->m_matchCount2 >= 1;
        if (!keep) continue;
        const bool firstTable = (flags & fatflags::kFirstTableA) != 0;
        const bool secondTable = (flags & fatflags::kSecondTableA) != 0;
        const i64 tableScore = firstTable && secondTable ? 50 : (firstTable || secondTable ? 45 : 10);
        i64 bootScore = 10;
        if (candidate->m_fileSystemType == FILE_SYSTEM_FAT32) {
            const bool main = (flags & fatflags::kBootFat32) != 0;
            const bool backup = (flags & fatflags::kBackupBootFat32) != 0;
            bootScore = main && backup ? 50 : (main || backup ? 45 : 10);
        } else if ((flags & fatflags::kBootFat16B) != 0) {
            bootScore = 50;
        }
        candidate->m_score = tableScore + bootScore;
        candidate->m_partitionIndex = static_cast<u16>(list.size());
        list.push_back(std::move(candidate));
        ++added;
    }
    m_candidates.clear();
    m_expectedTables.clear();
    return added;
}
