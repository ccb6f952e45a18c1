#include "engine/EXFatSearch/ExFatPartitionEx.h"

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
    return first >= GetDataRegionStart() + 2 * spc &&
           first + static_cast<i64>(set->GetSectorCounts()) <= GetDataRegionStart() + GetPartitionLength();
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
