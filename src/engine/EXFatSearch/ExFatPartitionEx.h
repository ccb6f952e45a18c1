// A candidate lost exFAT volume of the deep search: a geometry (data-region start, sectors per cluster)
// with the evidence found for it (boot sectors, FAT sectors, root folder sets, folder trees) and the file
// sets that fit it.
#pragma once

#include <map>
#include <set>
#include <vector>

#include "engine/Common/Types.h"
#include "engine/EXFatSearch/ExFatPartition.h"
#include "engine/EXFatSearch/FileSet.h"

// File sets ordered by first sector (the pointer only separates sets that share one).
struct CFileSetBySector {
    bool operator()(const CFileSet* a, const CFileSet* b) const {
        if (a->GetFirstSector() != b->GetFirstSector()) return a->GetFirstSector() < b->GetFirstSector();
        return std::less<const CFileSet*>()(a, b);
    }
};

class CExFatPartitionEx : public CExFatPartition {
public:
    static constexpr u32 kMainBoot = 0x80000000;
    static constexpr u32 kBackupBoot = 0x40000000;
    static constexpr u32 kRootSetFits = 0x10000000;
    static constexpr u32 kTreeFits = 0x08000000;
    static constexpr u32 kSecondFat = 0x00000002;
    static constexpr u32 kFirstFat = 0x00000001;

    u32 GetFlags() const { return m_flags; }
    void AddFlags(u32 flags) { m_flags |= flags; }
    void SetFatInfo(u32 numberOfFats, u32 fatLength, i64 fatOffset) {
        m_numberOfFats = numberOfFats;
        m_fatLength = fatLength;
        m_fatOffset = fatOffset;
    }
    u32 GetNumberOfFats() const { return m_numberOfFats; }
    u32 GetFatLength() const { return m_fatLength; }
    i64 GetFatOffset() const { return m_fatOffset; }

    // A FAT's first sector: taken (flag 0x1 or 0x2) only by a candidate with boot-sector evidence whose
    // first or second FAT starts there.
    bool CheckFatSector(i64 sector);
    // Adds the set and every next set of its chain to the matched sets.
    void InsertMathedFileSet(CFileSet* set);
    // The same, and each set is flagged matched and scored (first sector -> score) in the map.
    void InsertMathedFileSet(CFileSet* set, u32 score);
    bool IsMatched(const CFileSet* set) const { return m_matched.count(const_cast<CFileSet*>(set)) != 0; }
    // The set lies inside the volume, past its first two clusters.
    bool IsFileSetInPartition(const CFileSet* set) const;
    // The set's cluster-size bounds exclude this candidate's sectors per cluster.
    bool IsClusterSizeConflicted(const CFileSet* set) const;
    // A data sector of a matched set: to the aligned list when it begins a cluster, else to the others.
    void AddDataSector(i64 sector);
    // Forgets the matched sets and their scores (the sets keep their matched flag).
    void ForgetMatched() { m_matched.clear(); m_scores.clear(); }

    // A lone folder set fits this geometry: its files claim no cluster twice (nor the folder's own), and
    // the folder lies in the cluster just before its first file's data.
    bool SimpleCheck(CFileSet* set, unsigned int sectorSize) const;
    // A root folder set: matched (marking form) when no root cluster is known or it lies in the root cluster.
    void SetRootFileSet(CFileSet* set);
    // Completes a chosen candidate: sector and cluster size, and the data sectors that do not begin a
    // cluster but lie inside it appended to the list of data sectors.
    void CalcPartitionParam(unsigned int sectorSize);
    // The cluster a sector lies in under a geometry, or 0 when it lies before the heap or past the last
    // cluster number; the same under this candidate's geometry.
    static u32 ClusterOf(i64 sector, i64 heap, u64 sectorsPerCluster);
    u32 ClusterOfSector(i64 sector) const { return ClusterOf(sector, GetDataRegionStart(), GetSectorsPerCluster()); }

    const std::set<CFileSet*, CFileSetBySector>& MatchedSets() const { return m_matched; }
    size_t MatchedCount() const { return m_matched.size(); }
    const std::map<i64, u32>& Scores() const { return m_scores; }
    const std::vector<i64>& AlignedDataSectors() const { return m_aligned; }
    const std::vector<i64>& OtherDataSectors() const { return m_unaligned; }

private:
    u32 m_flags = 0;
    u32 m_numberOfFats = 0;
    u32 m_fatLength = 0;
    i64 m_fatOffset = 0;
    std::set<CFileSet*, CFileSetBySector> m_matched;
    std::vector<i64> m_aligned;
    std::vector<i64> m_unaligned;
    std::map<i64, u32> m_scores;
};

// The two sets of file sets share a member.
template <typename A, typename B>
bool IsOverlaped(const A& a, const B& b) {
    if (a.size() > b.size()) return IsOverlaped(b, a);
    for (CFileSet* set : a) {
        if (b.count(set) != 0) return true;
    }
    return false;
}

// Every first sector of covered's score map is in cover's with a score at least as high, and covered's map
// has no more entries.
bool IsCover(const std::map<i64, u32>& cover, const std::map<i64, u32>& covered);

// Candidates ranked: evidence flags descending (as unsigned numbers: a boot sector outranks everything),
// then the number of matched sets descending. Used with a stable sort.
struct CExFatPartitionGreater {
    bool operator()(const CExFatPartitionEx& a, const CExFatPartitionEx& b) const {
        if (a.GetFlags() != b.GetFlags()) return a.GetFlags() > b.GetFlags();
        return a.MatchedCount() > b.MatchedCount();
    }
};
