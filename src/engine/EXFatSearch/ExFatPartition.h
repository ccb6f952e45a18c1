// The geometry of one exFAT volume over its FAT: cluster <-> sector, chains bounded by the cluster bound,
// and the nodes and data runs made from entry-set records. The quick search owns one for the volume it
// scans; the deep search's candidates derive from it.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "engine/Common/Types.h"
#include "engine/EXFatSearch/FatTable.h"

class CExFatFileNode;
class IDataRunList;
class IStorageDevice;
struct _tagFileBaseFields;
struct _tagFileBaseInfo;

class CExFatPartition : public CFatTable {
public:
    // Empty files have no cluster: they get virtual IDs from here on, so that no two share one.
    static constexpr i64 kFirstVirtualId = 0x100000000LL;

    // 0 for clusters 0 and 1; otherwise the device sector of the cluster.
    i64 ConvertClusterNumToSector(u32 cluster) const;
    // The cluster that begins at or after sector (rounded up); 0 when the geometry is unset.
    u32 ConvertSectorToClusterNum(i64 sector) const;
    // The FAT entry of a cluster below the cluster bound, else 0xFFFFFFFF.
    u32 GetNextCluster(u32 cluster, int fatIndex);
    using CFatTable::GetNextCluster;

    // A new node from one record: attributes, times, name, size, metadata sector, deleted mark, runs.
    // Its ID and parent are the caller's. Null when memory is exhausted.
    CExFatFileNode* BuildFile(const _tagFileBaseInfo& record);
    // The same from a record's fields and its name's UTF-16 units, or its name in UTF-8.
    CExFatFileNode* BuildFile(const _tagFileBaseFields& record, std::u16string_view name);
    CExFatFileNode* BuildFile(const _tagFileBaseFields& record, std::string_view utf8Name);
    // A new run list (clusters counted from cluster 2) covering no more clusters than the length needs.
    // A deleted file whose chain ends before its length (a driver frees the chain with the file) goes on
    // with the clusters after its last one that the allocation bitmap marks free, one after the other
    // where the bitmap cannot tell.
    IDataRunList* BuildFileDataRun(const _tagFileBaseFields& record);
    // The allocation bitmap is read through this device: found in the root folder's first cluster when
    // first needed, then read a sector at a time. Null: no bitmap.
    void UseAllocationBitmap(IStorageDevice* device);
    // Whether the bitmap marks the cluster in use; nothing when it cannot tell.
    std::optional<bool> IsClusterInUse(u32 cluster);
    // The node ID of a record: the sector of its first cluster, or the next virtual ID for a record
    // without a cluster.
    i64 NodeIdOf(const _tagFileBaseFields& record);
    void ResetVirtualIds(i64 from = kFirstVirtualId) { m_nextVirtualId = from; }
    i64 NextVirtualId() const { return m_nextVirtualId; }

    void SetSectorSize(u32 size) { m_sectorSize = size; UpdateClusterSize(); }
    void SetSectorsPerCluster(u32 count) { m_sectorsPerCluster = count; UpdateClusterSize(); }
    void SetClusterBound(u32 bound) { m_clusterBound = bound; }
    void SetRootCluster(u32 cluster) { m_rootCluster = cluster; }
    void SetDataRegionStart(i64 sector) { m_dataStart = sector; }
    void SetPartitionStart(i64 sector) { m_partitionStart = sector; }
    void SetPartitionLength(i64 sectors) { m_partitionLength = sectors; }

    u32 GetSectorSize() const { return m_sectorSize; }
    u32 GetSectorsPerCluster() const { return m_sectorsPerCluster; }
    u32 GetClusterBound() const { return m_clusterBound; }
    u32 GetRootCluster() const { return m_rootCluster; }
    u32 GetClusterSize() const { return m_clusterSize; }
    i64 GetDataRegionStart() const { return m_dataStart; }
    i64 GetPartitionStart() const { return m_partitionStart; }
    i64 GetPartitionLength() const { return m_partitionLength; }

private:
    void UpdateClusterSize() { m_clusterSize = m_sectorSize * m_sectorsPerCluster; }
    // Looks for the bitmap entry in the root folder's first cluster and gathers the bitmap's clusters.
    bool FindAllocationBitmap();
    // The cluster after `cluster` that the bitmap marks free (the next one where it cannot tell), or
    // kNoCluster past the cluster bound.
    u32 NextFreeCluster(u32 cluster);

    u32 m_sectorSize = 512;
    u32 m_sectorsPerCluster = 1;
    u32 m_clusterBound = 0;
    u32 m_rootCluster = 0xFFFFFFFFu;
    u32 m_clusterSize = 512;
    i64 m_dataStart = 0;
    i64 m_partitionStart = 0;
    i64 m_partitionLength = 0;
    i64 m_nextVirtualId = kFirstVirtualId;

    IStorageDevice* m_bitmapDevice = nullptr;
    enum class BitmapState { Unknown, Found, Missing } m_bitmapState = BitmapState::Unknown;
    u64 m_bitmapLength = 0;              // bytes
    std::vector<u32> m_bitmapClusters;   // the bitmap's clusters in order
    std::vector<u8> m_bitmapSector;      // the last sector read, and where
    i64 m_bitmapSectorAt = -1;
};
