#include "engine/EXFatSearch/ExFatQuickSearch.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "engine/Common/DebugChannel.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/EXFatSearch/ExFatDBR.h"
#include "engine/EXFatSearch/ExFatFileNode.h"
#include "engine/EXFatSearch/ExFatLayout.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/Utility/SearchedPartitionInfo.h"

namespace {

constexpr u32 kReadAheadBytes = 256 * 1024;

void Send(IProgress* progress, u32 status, u64 total, u64 current) {
    _PROGRESS_INFO record = MakeProgressInfo(status, total, current);
    progress->UpdateProgress(&record);
}

}  // namespace

CExFatQuickSearch::~CExFatQuickSearch() {
    for (CSearchedPartitionInfo* record : m_records) delete record;
}

int CExFatQuickSearch::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    return CopySearchedPartitionInfo(m_records, out, capacity);
}

u64 CExFatQuickSearch::QuickSearchFiles(IStorageDevice* volume, IProgress* progress) {
    m_device = volume;
    if (volume != nullptr && m_builder != nullptr && Prepare(volume)) QuickSearch(progress);
    // The finished record comes on every road, a failed preparation included.
    if (progress != nullptr) Send(progress, PROGRESS_FINISHED, 1, 1);
    return 0;
}

bool CExFatQuickSearch::Prepare(IStorageDevice* device) {
    for (CSearchedPartitionInfo* record : m_records) delete record;
    m_records.clear();
    m_readClusters.clear();
    m_partition.ClearFatData();
    m_partition.ResetVirtualIds();

    // Boot buffers are 4096 bytes: larger sectors are refused before anything is read.
    const u32 sectorSize = device->GetSectorSize();
    if (sectorSize == 0 || sectorSize > exfat::kMaxSectorSize) return false;
    u8 boot[exfat::kMaxSectorSize] = {};
    if (device->ReadSector(boot, 0, 1) == 0) return false;
    const CExFatDBR dbr(boot, sectorSize);
    if (!dbr.IsValid(sectorSize)) return false;

    const u32 sectorShift = dbr.GetBytePerSectorShift();
    const u32 clusterShift = sectorShift + dbr.GetSectorsPerClusterShift();
    m_analyzer.PrepareAnayze(sectorShift, clusterShift, static_cast<u64>(device->GetTotalSectors()));

    m_partition.SetSectorSize(sectorSize);
    m_partition.SetDataRegionStart(dbr.GetDataRegionStartSector());
    m_partition.SetSectorsPerCluster(dbr.GetSectorsperCluster());
    m_partition.SetRootCluster(dbr.GetRootDirStartCluster());
    // The cluster bound is the FAT's capacity when that is larger than the boot sector's cluster count.
    u32 bound = dbr.GetTotalCluster();
    const u64 capacity = u64{dbr.GetSectorsPerFat()} * sectorSize / 4;
    if (capacity > bound) {
        bound = capacity > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(capacity);
        EngineDebug("chang totalClustur = %d\n", static_cast<int>(bound));
    }
    m_partition.SetClusterBound(bound);
    // Chains follow the first FAT, whatever the active-FAT flag says.
    m_partition.CreateFatTable(device, dbr.GetFatStartSector(), dbr.GetSectorsPerFat(), dbr.GetTotalCluster());
    m_partition.UseAllocationBitmap(device);

    // Folders are read in runs of up to 256 KiB (one cluster at least).
    m_runClusters = std::max<u32>(1, kReadAheadBytes / m_partition.GetClusterSize());
    try {
        m_run.assign(size_t{m_runClusters} * m_partition.GetClusterSize(), 0);
    } catch (const std::bad_alloc&) {
        m_run.clear();
        return false;
    }
    m_runCount = 0;
    auto* record = new (std::nothrow) CSearchedPartitionInfo(sectorSize);
    if (record == nullptr) return false;
    record->m_fileSystemType = FILE_SYSTEM_EXFAT;
    record->m_sectorsPerCluster = m_partition.GetSectorsPerCluster();
    record->m_cluster0Sector = m_partition.GetDataRegionStart();
    record->m_partitionStartSector = 0;
    record->SetTotalSectors(0);
    m_records.push_back(record);

    const i64 rootSector = m_partition.ConvertClusterNumToSector(m_partition.GetRootCluster());
    return m_builder->AddSearcherInfo(SEARCHER_EXFAT, rootSector) != 0;
}

u32 CExFatQuickSearch::NextFolderCluster(const Folder& folder, u32 cluster) {
    // A folder without a FAT chain lies in consecutive clusters; its FAT entries may be free.
    if (folder.contiguous) return cluster + 1 < m_partition.GetClusterBound() ? cluster + 1 : exfat::kNoCluster;
    return m_partition.GetNextCluster(cluster, 0);
}

const u8* CExFatQuickSearch::LoadCluster(const Folder& folder, u32 cluster, i64 remaining) {
    const u32 clusterBytes = m_partition.GetClusterSize();
    if (m_runCount != 0 && cluster >= m_runFirst && cluster - m_runFirst < m_runCount) {
        return m_run.data() + size_t{cluster - m_runFirst} * clusterBytes;
    }
    // The run: from this cluster to the furthest one the folder goes on to (forward, within one run's
    // room, while its budget lasts and none was read before). A folder written between its files'
    // clusters is thus read in one device read, the files' clusters in between with it.
    const u32 most = m_runFailed ? 1 : m_runClusters;
    u32 last = cluster;
    i64 left = remaining - clusterBytes;
    for (u32 at = cluster; left > 0; left -= clusterBytes) {
        const u32 next = NextFolderCluster(folder, at);
        if (!exfat::IsCluster(next) || next <= at || next - cluster >= most || m_readClusters.count(next) != 0) break;
        at = last = next;
    }
    u32 count = last - cluster + 1;
    const u32 spc = m_partition.GetSectorsPerCluster();
    const i64 sector = m_partition.ConvertClusterNumToSector(cluster);
    m_runCount = 0;
    if (m_device->ReadSector(m_run.data(), sector, i64{count} * spc) == 0) {
        // One bad sector further on must not cost this cluster; the rest of the folder is read cluster by
        // cluster, so that a failing device is not asked for the same bad sector again and again.
        m_runFailed = true;
        if (count == 1 || m_device->ReadSector(m_run.data(), sector, spc) == 0) return nullptr;
        count = 1;
    }
    m_runFirst = cluster;
    m_runCount = count;
    return m_run.data();
}

bool CExFatQuickSearch::BuildChildren(const Folder& folder, std::deque<Folder>& queue) {
    if (m_device == nullptr || m_builder == nullptr) return false;
    // A set left unfinished by another folder never joins this folder's entries.
    m_analyzer.Reset();
    m_runCount = 0;
    m_runFailed = false;
    const u32 clusterBytes = m_partition.GetClusterSize();
    bool readable = true;
    u32 cluster = folder.firstCluster;
    i64 remaining = folder.budget;
    do {
        if (!exfat::IsCluster(cluster)) break;
        // Every cluster is read once: loops in broken chains and chains that meet end here.
        if (!m_readClusters.insert(cluster).second) break;
        const u8* bytes = LoadCluster(folder, cluster, remaining);
        if (bytes == nullptr) {
            readable = false;
            break;
        }
        const i64 sector = m_partition.ConvertClusterNumToSector(cluster);
        if (!m_analyzer.Analyze(bytes, clusterBytes, static_cast<u64>(sector))) break;
        remaining -= clusterBytes;
        cluster = NextFolderCluster(folder, cluster);
    } while (remaining > 0);

    const i64 parent = m_partition.ConvertClusterNumToSector(folder.firstCluster);
    std::vector<_tagFileBaseInfo>& records = m_analyzer.GetFileList();
    for (_tagFileBaseInfo& record : records) {
        // Everything under a deleted folder is deleted.
        if (folder.deleted) record.inUse = 0;
        CExFatFileNode* node = m_partition.BuildFile(record);
        if (node == nullptr) continue;
        node->SetID(m_partition.NodeIdOf(record));
        node->SetParentID(parent);
        if (m_builder->AddNode(node, SEARCHER_EXFAT) == 0) {
            node->Release();
            continue;
        }
        if (record.IsDirectory()) {
            queue.push_back(Folder{record.firstCluster, record.dataLength, record.inUse == 0, record.noFatChain != 0});
        }
    }
    records.clear();
    return readable;
}

void CExFatQuickSearch::QuickSearch(IProgress* progress) {
    if (progress == nullptr) return;
    std::deque<Folder> queue;
    const u64 clusterBytes = m_partition.GetClusterSize();
    const i64 rootBudget = static_cast<i64>(u64{m_partition.GetClusterBound()} * clusterBytes);
    // An unreadable folder (the root included) is skipped; the walk goes on with what is queued.
    BuildChildren(Folder{m_partition.GetRootCluster(), rootBudget, false, false}, queue);
    u64 done = 0;
    u64 lastPercent = 0;
    while (!queue.empty() && progress->Continued() != 0) {
        const Folder folder = queue.front();
        queue.pop_front();
        BuildChildren(folder, queue);
        ++done;
        const u64 total = done + queue.size();
        const u64 percent = done * 100 / total;
        if (percent > lastPercent) {
            Send(progress, PROGRESS_RUNNING, total, done);
            lastPercent = percent;
        }
    }
    m_builder->SetPartitonDevice(m_records.empty() ? nullptr : m_records.front(), m_device);
    m_builder->FlashBuild(SEARCHER_EXFAT);
}

IQuickFileSystemSearchController* CreateEXFatQuickSearcher() {
    return new (std::nothrow) CExFatQuickSearch();
}
