// The deep exFAT search's partition builder: turns boot sectors, FAT and up-case table sectors and the
// file sets of the pre-analysis into candidate volumes (data-region start, sectors per cluster), inferring
// geometries from root folder sets and from trees of folder sets whose folder entries point at each other.
// Sets are processed lazily while the scan runs, so the end faces only the last of them.
#pragma once

#include <algorithm>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "engine/Common/FlatKeyTable.h"
#include "engine/Common/Types.h"
#include "engine/EXFatSearch/ExFatPartitionEx.h"
#include "engine/EXFatSearch/FileSet.h"

class CExFatDBR;

class CPartitionBuilder {
public:
    // A set is processed at once when more than this many wait, or when the scan has gone this many
    // sectors past the last pushed set's reach.
    static constexpr size_t kMaxWaitingSets = 2176;
    static constexpr i64 kLazyDistance = 0x2000000;
    // Neighbours a set is tried with as the root of a tree; candidates tried by the belonging test.
    static constexpr size_t kNeighboursBefore = 31;
    static constexpr size_t kNeighboursAfter = 128;
    static constexpr size_t kBelongingTries = 16;
    // The candidate list is trimmed to kTrimTo when it reaches kTrimAt.
    static constexpr size_t kTrimAt = 1025;
    static constexpr size_t kTrimTo = 512;
    static constexpr u32 kTreeMinScore = 7;

    CPartitionBuilder() = default;
    ~CPartitionBuilder() { Clear(); }
    CPartitionBuilder(const CPartitionBuilder&) = delete;
    CPartitionBuilder& operator=(const CPartitionBuilder&) = delete;

    // Starts a new search on a device of that sector size and length.
    void PrepareBuild(unsigned int sectorSize, unsigned long long totalSectors);
    // A valid boot sector at a sector: a main reading, and a backup reading 12 sectors earlier (or the
    // confirmation of a main reading made 12 sectors earlier).
    void Build(long long sector, CExFatDBR* dbr);
    void RecordFAT(long long sector);
    void RecordUpCaseTable(long long sector);
    // A finished file set (owned from now on), with the first sector of the set it continues and of the
    // set that continues it (-1 for none).
    void PushFileSet(CFileSet* set, long long previous, long long next);
    // After every analysed sector: processes one waiting set when many wait or the scan is far past them.
    void Build(long long sector) {
        const size_t pushed = m_processing.size();
        if (m_nextToProcess < pushed &&
            (pushed - m_nextToProcess > kMaxWaitingSets || sector - kLazyDistance > m_progressBound)) {
            ProcessOne();
        }
    }
    // The same as Build(s) for every sector s from `from` up to `to` (excluded), in order, with no set
    // pushed between: waiting sets are processed for the sectors where Build would process one, and the
    // sectors where it would not are passed over at once.
    void BuildRange(long long from, long long to) {
        for (long long s = from; s < to && m_nextToProcess < m_processing.size();) {
            if (m_processing.size() - m_nextToProcess > kMaxWaitingSets || s - kLazyDistance > m_progressBound) {
                ProcessOne();
                ++s;
            } else {
                // Neither holds before the scan passes the bound: the waiting sets only get fewer, and only
                // a pushed set moves the bound.
                s = std::max<long long>(s + 1, m_progressBound + kLazyDistance + 1);
            }
        }
    }
    // Processes every set still waiting.
    void ProcessWaiting();
    // The end of the search: processes every waiting set, winnows the candidates and moves the chosen
    // ones, best first, to chosen (candidates whose evidence a better one covers are dropped).
    void FinishBuid(std::list<std::unique_ptr<CExFatPartitionEx>>& chosen);

    CFileSet* FindFileSet(long long sector) const;
    CExFatPartitionEx* FindPartition(long long dataStart, unsigned int sectorsPerCluster) const;
    // Removes the candidate with that identity when its only evidence is a backup boot reading.
    void RemovePartion(long long dataStart, unsigned int sectorsPerCluster);
    // The score of the folder tree rooted at root under that geometry (0 when it fails); tree receives
    // the tree's sets, root first.
    u32 CheckTree(CFileSet* root, long long dataStart, unsigned int sectorsPerCluster, std::list<CFileSet*>& tree,
                  unsigned int minScore);

    // The steps of FinishBuid. Winnowing: in rank order each candidate takes the unassigned sets that fit
    // it and keeps them when it finds data, else it is rejected; the rest become the survivors.
    void WinnowPartition();
    // Matches one unassigned set (with the tree under it when that scores) to a candidate.
    void UpdatePartitionMatched(CExFatPartitionEx& candidate, CFileSet* set);
    // Moves the candidate's matched sets that lie within its aligned data sectors to the assigned sets.
    void UpdateFileSetUnMatched(CExFatPartitionEx& candidate);
    // Survivors, best first, to chosen; a survivor whose scores a better one covers is dropped.
    void RemovePartionBeCoveredByOther(std::list<std::unique_ptr<CExFatPartitionEx>>& chosen);

    // The candidates, best ranked first.
    std::vector<CExFatPartitionEx*> Candidates() const;
    size_t CandidateCount() const { return m_ranked.size(); }
    // Every pushed set, in push order; the unassigned ones (all of them before the choice).
    std::vector<CFileSet*> PushedSets() const;
    // The files of every pushed set: at most the nodes the chosen partitions make.
    size_t PushedFiles() const;
    const std::vector<CFileSet*>& UnassignedSets() const { return m_processing; }
    bool IsAssigned(CFileSet* set) const { return m_assigned.count(set) != 0; }
    size_t RejectedCount() const { return m_rejected.size(); }
    size_t ProcessedCount() const { return m_nextToProcess; }
    const std::vector<i64>& UpCaseSectors() const { return m_upcaseSectors; }

    // Releases every set and candidate.
    void Clear();

private:
    using Identity = std::pair<i64, u32>;
    using Owned = std::unique_ptr<CExFatPartitionEx>;
    // Candidates made by one inference before they join the list: new ones owned, found ones borrowed.
    struct Local {
        std::vector<Owned> made;
        CExFatPartitionEx* found = nullptr;
        std::map<Identity, CExFatPartitionEx*> byIdentity;
        size_t Size() const { return made.size() + (found != nullptr ? 1 : 0); }
        void Drop() { made.clear(); found = nullptr; byIdentity.clear(); }
    };

    void ProcessOne();
    bool Belongs(CFileSet* set);
    void UpCaseInference(CFileSet* root);
    void RootInference(CFileSet* root);
    void TreeInference(CFileSet* set, CFileSet* neighbour);
    // Outcome of trying a root candidate: true when an existing candidate with that root was found.
    bool TryRootCandidate(Local& local, i64 heap, u32 sectorsPerCluster, u32 clusterCount, u32 rootCluster);
    void AddCandidates(Local& local, CFileSet* set);
    void MatchTree(CExFatPartitionEx& candidate, const std::list<CFileSet*>& tree);
    void Index(Owned candidate);
    void Remove(CExFatPartitionEx* candidate);
    void Trim();
    void Sort();
    i64 DeviceSectorsFrom(i64 sector) const;

    u32 m_sectorSize = 512;
    i64 m_totalSectors = 0;
    std::vector<std::unique_ptr<CFileSet>> m_sets;  // owned, in push order
    std::vector<CFileSet*> m_processing;            // push order
    FlatKeyTable<i64, CFileSet*> m_byFirstSector;
    size_t m_nextToProcess = 0;
    i64 m_progressBound = 0;
    std::set<CFileSet*> m_assigned;  // taken by a chosen candidate
    std::vector<Owned> m_ranked;  // kept sorted best first
    std::vector<Owned> m_rejected;   // kept until Clear
    std::vector<Owned> m_survivors;  // of the winnowing, best first
    std::map<Identity, CExFatPartitionEx*> m_index;
    std::vector<i64> m_upcaseSectors;
};
