#include "engine/FATSearch/FATBuildWorker.h"

#include <deque>
#include <new>
#include <string>
#include <vector>

#include "engine/Common/IProgress.h"
#include "engine/Common/ResultCode.h"
#include "engine/FATLib/FATBuildDataRun.h"
#include "engine/FATLib/FATFileNode.h"
#include "engine/FATSearch/FATBuildChildren.h"
#include "engine/FATSearch/FATSearchedPartitionInfo.h"
#include "engine/StorageDevice/IStorageDevice.h"

CFATBuildWorker::CFATBuildWorker(IDirecotryTreeBuilder* builder, IProgress* progress, CFATSearchedPartitionInfo* record,
                                 IStorageDevice* device, const FATWorkerGeometry& geometry, IFATTable* table,
                                 FATSearchState* state)
    : m_builder(builder),
      m_progress(progress),
      m_record(record),
      m_device(device),
      m_geometry(geometry),
      m_table(table),
      m_state(state != nullptr ? state : &m_ownState),
      m_sectorSize(device != nullptr ? device->GetSectorSize() : 512) {}

CFATBuildWorker::~CFATBuildWorker() = default;

IDataRunList* CFATBuildWorker::BuildDataRunList(u64 firstCluster, u64 size, bool deleted) {
    CFATBuildDataRun runs(m_table, m_sectorSize, m_geometry.sectorsPerCluster, m_geometry.totalSectors);
    return runs.BuildDataRunList(firstCluster, size, deleted);
}

u64 CFATBuildWorker::ConvertSectorToClusterNum(u64 sector) const {
    if (m_geometry.sectorsPerCluster == 0 || sector < m_geometry.dataStart) return 0;
    return (sector - m_geometry.dataStart) / m_geometry.sectorsPerCluster + 2;
}

u64 CFATBuildWorker::ConvertClusterNumToSector(u64 cluster) const {
    if (cluster < 2) return 0;
    return (cluster - 2) * m_geometry.sectorsPerCluster + m_geometry.dataStart;
}

bool CFATBuildWorker::IsFirsectorInCluster(u64 sector) const {
    if (m_geometry.sectorsPerCluster == 0 || sector < m_geometry.dataStart) return false;
    return (sector - m_geometry.dataStart) % m_geometry.sectorsPerCluster == 0;
}

CFATFileNode* CFATBuildWorker::CreateTempFileNode(u32 cluster, u32 parentCluster) {
    CFATFileProperties* p = CFATFileProperties::Create();
    if (p == nullptr) return nullptr;
    p->m_name = "DIR" + std::to_string(m_state->lostFolderCounter++);
    p->m_attribute |= 0x10;
    p->m_state = 9;
    p->m_firstCluster = cluster;
    p->m_parentFirstCluster = parentCluster;
    p->m_metadataSector = ConvertClusterNumToSector(parentCluster);
    auto* node = new (std::nothrow) CFATFileNode();
    if (node == nullptr) {
        delete p;
        return nullptr;
    }
    node->SetFileProperties(p);
    return node;
}

void CFATBuildWorker::SendProgress(u32 status, u64 current) {
    if (m_progress == nullptr) return;
    _PROGRESS_INFO info = MakeProgressInfo(status, 100, current);
    m_progress->UpdateProgress(&info);
}

u64 CFATBuildWorker::QuickBuildDirectoryTree(int flag) {
    m_state->virtualClusters.ResetVirtualClusterNum();
    FATBuildContext ctx;
    ctx.builder = m_builder;
    ctx.progress = m_progress;
    ctx.record = m_record;
    ctx.device = m_device;
    ctx.builtClusters = &m_builtClusters;
    ctx.folderMap = &m_folderMap;
    ctx.totalSectors = m_geometry.totalSectors;
    ctx.type = m_geometry.type;
    ctx.table = m_table;
    ctx.sectorsPerCluster = m_geometry.sectorsPerCluster;
    ctx.rootCluster = m_geometry.rootCluster;
    ctx.rootStart = m_geometry.rootStart;
    ctx.rootSectors = m_geometry.rootSectors;
    ctx.dataStart = m_geometry.dataStart;
    ctx.state = m_state;
    CFATBuildChildren children(ctx);
    children.SetFileSectorMap(m_fileSectorMap);
    children.SetQuickScan(false);

    std::vector<IFileNode*> found;
    if (children.BuildRoot(found, flag, 1) == 0) return result::Make(result::kModuleFATSearch, 0x008e, 1);
    std::deque<IFileNode*> pending(found.begin(), found.end());
    u64 visited = 0;
    u64 lastPercent = 0;
    u64 outcome = 0;
    while (!pending.empty()) {
        if (m_progress != nullptr && m_progress->Continued() == 0) {
            outcome = result::Make(result::kModuleFATSearch, 0x0098, 0xd);
            break;
        }
        ++visited;
        const u64 percent = visited * 100 / (visited + pending.size());
        if (percent > lastPercent) {
            lastPercent = percent;
            SendProgress(PROGRESS_RUNNING, percent);
        }
        IFileNode* folder = pending.front();
        pending.pop_front();
        if (folder->GetFirstChild() != nullptr) continue;
        auto* fatFolder = dynamic_cast<CFATFileNode*>(folder);
        if (fatFolder == nullptr || fatFolder->GetFileProperties() == nullptr) continue;
        found.clear();
        // Sub-folders list every entry too; the tree builder decides what to show of existing files.
        children.BuildChildren(folder, static_cast<u32>(fatFolder->GetFileProperties()->m_firstCluster), found, 0, 1);
        pending.insert(pending.end(), found.begin(), found.end());
    }
    SendProgress(PROGRESS_RUNNING, 100);
    return outcome;
}
