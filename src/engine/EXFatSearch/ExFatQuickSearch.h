// The quick search of an intact exFAT volume: a breadth-first walk from the root through the FAT that
// hands every entry set of every folder, live and deleted, to the tree builder (searcher type 33).
#pragma once

#include <deque>
#include <memory>
#include <set>
#include <vector>

#include "engine/Common/IQuickFileSystemSearchController.h"
#include "engine/EXFatSearch/EFDTAnalyze.h"
#include "engine/EXFatSearch/ExFatPartition.h"

class CExFatFileNode;
class CSearchedPartitionInfo;
class IDirecotryTreeBuilder;

class CExFatQuickSearch : public IQuickFileSystemSearchController {
public:
    CExFatQuickSearch() = default;
    ~CExFatQuickSearch() override;
    CExFatQuickSearch(const CExFatQuickSearch&) = delete;
    CExFatQuickSearch& operator=(const CExFatQuickSearch&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_builder = builder; }
    // One record once a volume was recognised (type 7, sectors per cluster, the sector of cluster 2).
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    // Walks the volume; answers 0 in every case and always ends with a finished progress record.
    u64 QuickSearchFiles(IStorageDevice* volume, IProgress* progress) override;

    const CExFatPartition& Partition() const { return m_partition; }

private:
    struct Folder {
        u32 firstCluster;
        i64 budget;  // bytes still to read
        bool deleted;
        bool contiguous;  // no FAT chain: the clusters follow each other
    };

    bool Prepare(IStorageDevice* device);
    void QuickSearch(IProgress* progress);
    // Reads one folder and hands its entry sets over; false when a cluster of it could not be read.
    bool BuildChildren(const Folder& folder, std::deque<Folder>& queue);
    // The cluster a folder reads after this one.
    u32 NextFolderCluster(const Folder& folder, u32 cluster);
    // The bytes of a folder's cluster, read together with the clusters the folder reads next when they
    // lie a little further on (one device read instead of one per cluster); null when the cluster cannot
    // be read.
    const u8* LoadCluster(const Folder& folder, u32 cluster, i64 remaining);

    IDirecotryTreeBuilder* m_builder = nullptr;
    IStorageDevice* m_device = nullptr;
    CExFatPartition m_partition;
    CEFDTAnalyze m_analyzer;
    // Clusters around the folder being read: m_runCount clusters from m_runFirst.
    std::vector<u8> m_run;
    u32 m_runClusters = 1;  // capacity of m_run, in clusters
    u32 m_runFirst = 0;
    u32 m_runCount = 0;
    bool m_runFailed = false;  // a run of this folder could not be read: one cluster at a time
    std::set<u32> m_readClusters;
    std::vector<CSearchedPartitionInfo*> m_records;
    bool m_registered = false;
};

IQuickFileSystemSearchController* CreateEXFatQuickSearcher();
