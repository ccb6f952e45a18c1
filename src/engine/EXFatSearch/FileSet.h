// The entries found in one run of consecutive exFAT directory sectors during a deep search: the files they
// describe, the folders among them, and the bounds those files set on the volume's cluster size. Sets
// that continue each other (a folder cut between two clusters lying apart) are chained by non-owning
// links.
#pragma once

#include <list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Common/Types.h"
#include "engine/EXFatSearch/ExFatDirEntry.h"

// Clusters claimed by the files of a tree: whole runs kept as intervals, so a long contiguous file costs
// one entry, not one per cluster.
class CClusterClaims {
public:
    // Claims count clusters from first (at least the first one). False when a cluster lies outside
    // 2..0xFFFFFFF5 or was claimed already; nothing is claimed then.
    bool Claim(u32 first, u64 count);
    bool Contains(u32 cluster) const;
    size_t Runs() const { return m_runs.size(); }

private:
    std::map<u32, u32> m_runs;  // first cluster -> last cluster, disjoint
};

// A file as its set keeps it: the record's fields, and where its name (UTF-8, as ExFatNameToUtf8 gives it)
// lies in the set's pool (CFileSet::NameBytes, CFileSet::Name). A fraction of the full record's size: a
// deep scan keeps every file of the disk until its end.
struct CExFatSetFile : _tagFileBaseFields {
    u32 nameAt = 0;
    u16 nameBytes = 0;
};

class CFileSet {
public:
    static constexpr u32 kLabelSeen = 0x01;
    static constexpr u32 kBitmapSeen = 0x02;
    static constexpr u32 kUpcaseSeen = 0x04;
    static constexpr u32 kAbridged = 0x08;
    static constexpr u32 kNotEnded = 0x10;
    static constexpr u32 kMatched = 0x20;
    static constexpr u32 kNoMinCluster = 0xFFFFFFF6;
    static constexpr u64 kStartMinClusterSize = 512;
    static constexpr u64 kStartMaxClusterSize = 33554432;  // 32 MiB, the largest exFAT cluster

    CFileSet() { Reset(); }

    void Reset();

    bool IsRoot() const { return (m_flags & (kLabelSeen | kBitmapSeen | kUpcaseSeen)) == (kLabelSeen | kBitmapSeen | kUpcaseSeen); }
    bool IsAbridged() const { return (m_flags & kAbridged) != 0; }
    bool IsNotEnd() const { return (m_flags & kNotEnded) != 0; }
    bool IsMatched() const { return (m_flags & kMatched) != 0; }
    void SetMatched(bool matched) { m_flags = matched ? (m_flags | kMatched) : (m_flags & ~kMatched); }
    bool HasFile() const { return !m_inUse.empty() || !m_deleted.empty(); }
    bool HasFolder() const { return !m_folders.empty(); }
    u32 GetFlags() const { return m_flags; }
    void AddFlags(u32 flags) { m_flags |= flags; }

    i64 GetFirstSector() const { return m_firstSector; }
    u32 GetSectorCounts() const { return m_sectorCount; }
    u32 GetMinCluster() const { return m_minCluster; }
    // The smallest first cluster among the files that own clusters (an empty file's first cluster is 0).
    u32 GetMinOwnedCluster() const { return m_minOwnedCluster; }
    u32 GetMaxCluster() const { return m_maxCluster; }
    // In bytes while the set grows; in sectors once CalculateClusterSize has run at the hand-over.
    u64 GetMinClusterSize() const { return m_minClusterSize; }
    u64 GetMaxClusterSize() const { return m_maxClusterSize; }
    void SetClusterSizeBounds(u64 smallest, u64 largest) { m_minClusterSize = smallest; m_maxClusterSize = largest; }
    u32 GetRootCluster() const { return m_rootCluster; }
    u32 GetTotalCluster() const { return m_totalCluster; }
    u32 GetUpaCaseTableCluster() const { return m_upcaseCluster; }
    u64 GetUpaCaseTableSize() const { return m_upcaseLength; }
    const std::vector<CExFatSetFile>& InUseFiles() const { return m_inUse; }
    const std::vector<CExFatSetFile>& DeletedFiles() const { return m_deleted; }
    // The name of one of this set's files in UTF-8 (_tagFileBaseInfo::Name).
    std::string_view NameBytes(const CExFatSetFile& file) const {
        return file.nameAt <= m_names.size() && file.nameBytes <= m_names.size() - file.nameAt
                   ? std::string_view(m_names.data() + file.nameAt, file.nameBytes)
                   : std::string_view();
    }
    std::string Name(const CExFatSetFile& file) const { return std::string(NameBytes(file)); }
    const std::vector<u32>& Folders() const { return m_folders; }

    CFileSet* GetNext() const { return m_next; }
    CFileSet* GetLast() const { return m_last; }
    void SetNext(CFileSet* next) { m_next = next; }
    void SetLast(CFileSet* last) { m_last = last; }

    // Records an analysed sector that held entries.
    void RecordSector(i64 sector);
    // Adds a complete record: bounds, folder list, in-use (sorted by first cluster) or deleted list.
    void AddFile(const _tagFileBaseInfo& file);
    void SeeLabel() { m_flags |= kLabelSeen; }
    void SeeBitmap(u32 firstCluster, u64 length);
    void SeeUpcase(u32 firstCluster, u64 length);

    // Narrows the smallest possible cluster size by the gaps between contiguous in-use files, then turns
    // both bounds into sectors.
    void CalculateClusterSize(u32 sectorShift);
    // Claims the clusters of the in-use files of this set and of every next set of its chain.
    bool GetAndCheckClusterSet(CClusterClaims& claims, u64 clusterBytes) const;
    // Cluster size in sectors against the bounds and the set's own span.
    bool IsClusterSizeConflict(u64 sectorsPerCluster) const;
    // Appends the folder clusters of this set and of every next set of its chain.
    void GetFolder(std::list<u32>& folders) const;

    // Visits this set and every next set of its chain once, however the links loop.
    template <typename F>
    void ForChain(F&& visit) const {
        std::vector<const CFileSet*> seen;
        for (const CFileSet* s = this; s != nullptr; s = s->m_next) {
            for (const CFileSet* v : seen) {
                if (v == s) return;
            }
            seen.push_back(s);
            visit(*s);
        }
    }

private:
    std::vector<CExFatSetFile> m_inUse;
    std::vector<CExFatSetFile> m_deleted;
    std::vector<char> m_names;  // the files' names in UTF-8, one after the other (half the bytes of units)
    std::vector<u32> m_folders;
    u32 m_minCluster = kNoMinCluster;
    u32 m_minOwnedCluster = kNoMinCluster;
    u32 m_maxCluster = 0;
    u64 m_minClusterSize = kStartMinClusterSize;
    u64 m_maxClusterSize = kStartMaxClusterSize;
    i64 m_firstSector = -1;
    u32 m_sectorCount = 0;
    u32 m_flags = 0;
    u32 m_rootCluster = 2;
    u32 m_totalCluster = 0;
    u32 m_upcaseCluster = 0;
    u64 m_upcaseLength = 0;
    CFileSet* m_next = nullptr;
    CFileSet* m_last = nullptr;
};
