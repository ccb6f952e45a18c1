// Partition candidates of the deep NTFS search. Every structure found says where cluster 0 of its
// volume must lie for a given cluster size; each such reading is a candidate, and readings of the same
// volume (same cluster-0 sector and sectors per cluster) are merged by OR-ing their evidence flags.
#pragma once

#include <memory>
#include <set>
#include <vector>

#include "engine/Common/Types.h"
#include "engine/NTFSLib/SearchedNTFSPartitionInfo.h"

class CNTFSDBR;

namespace ntfsdeep {

// Every list of the deep search (the candidates too) stops growing here; later evidence of that kind
// is ignored.
inline constexpr size_t kMaxListEntries = 500000;

// The evidence flags of a candidate and what each adds to its score.
inline constexpr u32 kFlagBoot = 1;         // primary boot sector at the start
inline constexpr u32 kFlagBootCopy = 2;     // backup boot sector at the end
inline constexpr u32 kFlagMFTPair = 4;      // $MFT and $MFTMirr found as a consistent pair
inline constexpr u32 kFlagMFTGroup = 8;     // an $MFT record group
inline constexpr u32 kFlagMirrorGroup = 16; // an $MFTMirr record group
inline constexpr u32 kFlagIndex = 32;       // an index record located through its folder
inline constexpr u32 kFlagRestart1 = 64;    // first restart page of the $LogFile
inline constexpr u32 kFlagRestart2 = 128;   // second restart page
inline constexpr i64 kFlagScores[8] = {30, 10, 30, 10, 10, 0, 10, 10};
// A meta-file match count adds 10 once it reaches its threshold.
inline constexpr i64 kUpCaseThreshold = 256;
inline constexpr i64 kLogFileThreshold = 10000;
inline constexpr i64 kAttrDefThreshold = 5;
inline constexpr i64 kMaxScore = 150;
// A structure this close to (or before) the cluster 0 it implies gives no candidate.
inline constexpr i64 kMinVolumeSectors = 8;
// Cluster sizes tried when the evidence gives none, in this order.
inline constexpr u32 NTFS_SUPPORTED_SECTORS_PER_CLUSTER[] = {1, 2, 4, 8, 16, 32, 64, 128};

}  // namespace ntfsdeep

using NTFSCandidate = std::unique_ptr<CSearchedNTFSPartitionInfo>;

// A candidate from a structure found at `sector` that must lie at `cluster`: cluster 0 at
// sector - cluster x spc, reaching the end of the device until other evidence shortens it. Null when
// cluster 0 would lie before the device or fewer than 8 sectors before the structure.
NTFSCandidate BuildPartitionInfoAccordingtoFileRecord(i64 sector, i64 cluster, u32 sectorsPerCluster, u32 flag,
                                                      i64 deviceTotalSectors, u32 sectorSize);
// The same for every supported cluster size; each candidate that exists is appended to out.
void BuildPartitionInfoAccordingtoFileRecord(i64 sector, i64 cluster, u32 flag, i64 deviceTotalSectors,
                                             std::vector<NTFSCandidate>& out, u32 sectorSize);
// A candidate from a boot sector read as the start of a volume at `start`; null when impossible.
NTFSCandidate BuildPartitionInfoFromDBR(const CNTFSDBR& boot, i64 start, u32 flag, i64 deviceTotalSectors,
                                        u32 sectorSize);
// The flags' scores plus 10 for each meta-file match count at its threshold (at most 150).
i64 CalcFileSystemReliabilityScore(const CSearchedNTFSPartitionInfo& candidate);

// The candidate set: ascending by cluster-0 sector, then sectors per cluster; equal candidates (same
// both) may stand side by side. The controller and the analysers share it.
class CNTFSPartitionInfoBuilder {
public:
    struct Key {
        i64 cluster0;
        u32 sectorsPerCluster;
    };
    struct Order {
        using is_transparent = void;
        static Key Of(const NTFSCandidate& c) { return {c->m_cluster0Sector, c->m_sectorsPerCluster}; }
        static Key Of(const Key& k) { return k; }
        template <class A, class B>
        bool operator()(const A& a, const B& b) const {
            const Key x = Of(a), y = Of(b);
            return x.cluster0 != y.cluster0 ? x.cluster0 < y.cluster0 : x.sectorsPerCluster < y.sectorsPerCluster;
        }
    };
    using Set = std::multiset<NTFSCandidate, Order>;

    void SetDeviceTotalSectors(i64 total) { m_deviceTotal = total; }
    i64 GetDeviceTotalSectors() const { return m_deviceTotal; }
    void SetSectorSize(u32 size) { m_sectorSize = size; }
    u32 GetSectorSize() const { return m_sectorSize; }

    Set& Candidates() { return m_set; }
    // The candidates equal to the probe (not the probe itself).
    std::vector<CSearchedNTFSPartitionInfo*> EqualTo(const CSearchedNTFSPartitionInfo& probe);
    // For every candidate equal to the probe: flags = (flags without `remove`) | `add`; a candidate left
    // without flags leaves the set. 1 when an equal candidate existed; the probe is never inserted.
    int AdjustPartitionBuildFromFlag(const CSearchedNTFSPartitionInfo& probe, u32 add, u32 remove);
    // Confirms: equal candidates get the flag and the probe is dropped, or the probe is inserted.
    // True when equal candidates existed.
    bool Confirm(NTFSCandidate probe, u32 flag);
    // Withdraws the flag from the candidates equal to the probe (the probe is dropped).
    void Withdraw(const CSearchedNTFSPartitionInfo& probe, u32 flag) { AdjustPartitionBuildFromFlag(probe, 0, flag); }
    // The located-structure candidate (sector, cluster, spc) confirmed with flag; nothing when none exists.
    void ConfirmLocated(i64 sector, i64 cluster, u32 sectorsPerCluster, u32 flag);
    void Insert(NTFSCandidate candidate);
    void Clear() { m_set.clear(); }

private:
    Set m_set;
    i64 m_deviceTotal = 0;
    u32 m_sectorSize = 512;
};
