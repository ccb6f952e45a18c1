#include "engine/EXFatSearch/ExFatPartitionEx.h"

#include <algorithm>

#include "engine/EXFatSearch/ExFatLayout.h"

bool CExFatPartitionEx::CheckFatSector(i64 sector) {
    if (m_flags < kBackupBoot) return false;
    const i64 fatStart = GetPartitionStart() + m_fatOffset;
    if (sector == fatStart) {
        m_flags |= kFirstFat;
        return true;
    }
    if (m_numberOfFats == 2 && sector == fatStart + static_cast<i64>(m_fatLength)) {
        m_flags |= kSecondFat;
        return true;
    }
    return false;
}

void CExFatPartitionEx::InsertMathedFileSet(CFileSet* set) {
    if (set == nullptr) return;
    set->ForChain([&](const CFileSet& s) { m_matched.insert(const_cast<CFileSet*>(&s)); });
}

void CExFatPartitionEx::InsertMathedFileSet(CFileSet* set, u32 score) {
    if (set == nullptr) return;
    set->ForChain([&](const CFileSet& s) {
        CFileSet* own = const_cast<CFileSet*>(&s);
        m_matched.insert(own);
        own->SetMatched(true);
        m_scores[own->GetFirstSector()] = score;
    });
}

bool CExFatPartitionEx::IsFileSetInPartition(const CFileSet* set) const {
    const i64 first = set->GetFirstSector();
    const i64 spc = GetSectorsPerCluster();
    // The volume ends at its start + its length: counted from the heap instead, a volume's range would
    // reach into the next volume's first sectors and take its sets.
    return first >= GetDataRegionStart() + 2 * spc &&
           first + static_cast<i64>(set->GetSectorCounts()) <= GetPartitionStart() + GetPartitionLength();
}

bool CExFatPartitionEx::IsClusterSizeConflicted(const CFileSet* set) const {
    const u64 spc = GetSectorsPerCluster();
    return set->GetMinClusterSize() > spc || set->GetMaxClusterSize() < spc;
}

void CExFatPartitionEx::AddDataSector(i64 sector) {
    const i64 spc = GetSectorsPerCluster();
    const i64 offset = sector - GetDataRegionStart();
    if (spc > 0 && offset % spc == 0) {
        m_aligned.push_back(sector);
    } else {
        m_unaligned.push_back(sector);
    }
}

u32 CExFatPartitionEx::ClusterOf(i64 sector, i64 heap, u64 spc) {
    if (sector < heap || spc == 0) return 0;
    const u64 cluster = static_cast<u64>(sector - heap) / spc + exfat::kFirstCluster;
    return cluster <= exfat::kLastCluster ? static_cast<u32>(cluster) : 0;
}

bool CExFatPartitionEx::SimpleCheck(CFileSet* set, unsigned int sectorSize) const {
    if (set == nullptr) return false;
    const u32 cluster = ClusterOfSector(set->GetFirstSector());
    if (cluster == 0 || u64{cluster} + 1 != set->GetMinCluster()) return false;
    CClusterClaims claims;
    if (!claims.Claim(cluster, 1)) return false;
    return set->GetAndCheckClusterSet(claims, u64{sectorSize} * GetSectorsPerCluster());
}

void CExFatPartitionEx::SetRootFileSet(CFileSet* set) {
    if (set == nullptr || IsMatched(set)) return;
    if (GetRootCluster() == 0xFFFFFFFFu || ClusterOfSector(set->GetFirstSector()) == GetRootCluster()) {
        InsertMathedFileSet(set, 1);
    }
}

void CExFatPartitionEx::CalcPartitionParam(unsigned int sectorSize) {
    SetSectorSize(sectorSize);
    if (m_aligned.empty() && m_flags < kBackupBoot) return;
    // Without a boot sector, and without a root set's bitmap giving the cluster count, the volume's end
    // is unknown: its last cluster-aligned set bounds it.
    const bool endKnown = m_flags >= kBackupBoot || GetClusterBound() != 0;
    const i64 limit = endKnown ? GetPartitionStart() + GetPartitionLength() : m_aligned.back();
    for (const i64 sector : m_unaligned) {
        if (sector >= limit) break;
        m_aligned.push_back(sector);
    }
}

bool IsCover(const std::map<i64, u32>& cover, const std::map<i64, u32>& covered) {
    if (covered.size() > cover.size()) return false;
    return std::all_of(covered.begin(), covered.end(), [&](const auto& entry) {
        auto it = cover.find(entry.first);
        return it != cover.end() && it->second >= entry.second;
    });
}
