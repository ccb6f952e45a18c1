#include "engine/FATSearch/FATBuildChildren.h"

#include <cstring>
#include <new>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/FATLib/FATBuildDataRun.h"
#include "engine/FATLib/FATDirEntry.h"
#include "engine/FATLib/FATFileNode.h"
#include "engine/FATLib/FATLayout.h"
#include "engine/FATLib/FATTable.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/Utility/IDataRunList.h"
#include "engine/Utility/SearchedPartitionInfo.h"

FATSecondaryLists::FATSecondaryLists() = default;
FATSecondaryLists::~FATSecondaryLists() = default;

void FATSecondaryLists::Clear() {
    deletedFolders.clear();
    files.clear();
    temporaries.clear();
}

namespace {

constexpr u32 kRunSectors = 128;

CFATFileProperties* PropertiesOf(IFileNode* node) {
    auto* fatNode = dynamic_cast<CFATFileNode*>(node);
    return fatNode != nullptr ? fatNode->GetFileProperties() : nullptr;
}

}  // namespace

CFATBuildChildren::CFATBuildChildren(const FATBuildContext& context)
    : m_ctx(context),
      m_state(context.state != nullptr ? context.state : &m_ownState),
      m_sectorSize(context.device != nullptr ? context.device->GetSectorSize() : 512) {
    if (m_ctx.type == FILE_SYSTEM_FAT32) {
        m_state->preReadFileCluNum = 0;
        m_revise = fat::ReadReviseSwitch(fat::UIConfigPath());
    }
}

CFATBuildChildren::~CFATBuildChildren() = default;

u64 CFATBuildChildren::ConvertClusterNumToSector(u64 cluster) const {
    if (cluster < 2) return 0;
    return (cluster - 2) * m_ctx.sectorsPerCluster + m_ctx.dataStart;
}

IDataRunList* CFATBuildChildren::BuildDataRunList(u64 firstCluster, u64 size, bool deleted) {
    CFATBuildDataRun runs(m_ctx.table, m_sectorSize, m_ctx.sectorsPerCluster, m_ctx.totalSectors);
    return runs.BuildDataRunList(firstCluster, size, deleted);
}

// ---- reading folders -----------------------------------------------------------------------------------

int CFATBuildChildren::BuildRoot(std::vector<IFileNode*>& folders, int allEntries, int enabled) {
    if (!enabled) return 0;
    if (m_ctx.type == FILE_SYSTEM_FAT32) return BuildChildren(nullptr, m_ctx.rootCluster, folders, 1, allEntries);
    if (m_ctx.device == nullptr || m_ctx.rootSectors == 0) return 0;
    std::vector<u8> buffer;
    try {
        buffer.resize(u64{m_ctx.rootSectors} * m_sectorSize);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (m_ctx.rootStart + m_ctx.rootSectors > static_cast<u64>(m_ctx.device->GetTotalSectors())) return 0;
    if (m_ctx.device->ReadSector(buffer.data(), static_cast<i64>(m_ctx.rootStart), m_ctx.rootSectors) == 0) return 0;
    FATSecondaryLists secondary;
    const u32 used = BuildChildrenFromBuffer(buffer.data(), static_cast<u32>(buffer.size()), nullptr, folders,
                                             secondary, 0, allEntries);
    return used == kFailed ? 0 : 1;
}

int CFATBuildChildren::BuildChildren(IFileNode* parent, u32 firstCluster, std::vector<IFileNode*>& folders, int isRoot,
                                     int allEntries, FATOpenRun* openRun) {
    if (openRun != nullptr) *openRun = FATOpenRun{};
    i64 lastSector = -1;
    if (m_ctx.device == nullptr || m_ctx.table == nullptr || m_ctx.sectorsPerCluster == 0 ||
        m_ctx.sectorsPerCluster > kRunSectors || m_ctx.builtClusters == nullptr) {
        return 0;
    }
    const u32 spc = m_ctx.sectorsPerCluster;
    // Grown to the largest run read and the bytes carried before it (a run is at most kRunSectors):
    // a folder of one cluster clears one cluster, not a whole run's room.
    std::vector<u8> buffer;
    FATSecondaryLists secondary;
    u32 carried = 0;
    u64 c = firstCluster;
    const u64 deviceSectors = static_cast<u64>(m_ctx.device->GetTotalSectors());
    while (c >= 2 && c < fat::kEndOfChain) {
        u32 count = 0;
        u64 n = c;
        u64 next = 0;
        do {
            ++count;
            next = m_ctx.table->GetNextCluster(static_cast<u32>(n));
            if (next != n + 1) break;
            n = next;
        } while (u64{count} * spc < kRunSectors);

        // A cluster already read means a loop, or a folder built before.
        if (m_ctx.builtClusters->count(static_cast<u32>(c)) != 0) return 0;
        for (u32 i = 0; i < count; ++i) m_ctx.builtClusters->insert(static_cast<u32>(c + i));

        const u64 sector = ConvertClusterNumToSector(c);
        const u64 sectors = u64{count} * spc;
        // A folder whose clusters cannot be read ends here: a stale buffer must not become nodes.
        if (sector + sectors > deviceSectors) return 0;
        if (buffer.size() < carried + sectors * m_sectorSize) buffer.resize(carried + sectors * m_sectorSize);
        if (m_ctx.device->ReadSector(buffer.data() + carried, static_cast<i64>(sector), static_cast<i64>(sectors)) == 0)
            return 0;
        lastSector = static_cast<i64>(sector + sectors - 1);
        if (c == firstCluster) {
            const bool sub = isRoot == 0;
            if (IsCurDirFileName(buffer.data()) != sub ||
                IsParentDirFileName(buffer.data() + fat_dir_entry_layout::kSize) != sub)
                return 0;
        }
        const u32 total = carried + static_cast<u32>(sectors * m_sectorSize);
        const u32 used = BuildChildrenFromBuffer(buffer.data(), total, parent, folders, secondary, 0, allEntries);
        secondary.Clear();
        if (used == kFailed) break;
        const u32 rest = total - used;
        if (rest >= 1 && rest <= 1023) {
            std::memmove(buffer.data(), buffer.data() + used, rest);
            carried = rest;
        } else {
            carried = 0;
        }
        c = next;
    }
    if (openRun != nullptr && carried > 0) {
        openRun->lastSector = lastSector;
        openRun->bytes.assign(buffer.begin(), buffer.begin() + carried);
    }
    return 1;
}

CFATFileProperties* CFATBuildChildren::BuildProperties(const u8* buffer, u32 entryOffset, i64 lfnStart) const {
    const u32 from = lfnStart >= 0 ? static_cast<u32>(lfnStart) : entryOffset;
    return CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntryBuffer(
        buffer + from, entryOffset + fat_dir_entry_layout::kSize - from);
}

void CFATBuildChildren::MakeTemporaryNode(const u8* buffer, u32 entryOffset, i64 lfnStart, u32 parentCluster,
                                          FATSecondaryLists& secondary) const {
    CFATFileProperties* p = BuildProperties(buffer, entryOffset, lfnStart);
    if (p == nullptr) return;
    p->m_parentFirstCluster = parentCluster;
    auto node = std::unique_ptr<CFATFileNode>(new (std::nothrow) CFATFileNode());
    if (!node) {
        delete p;
        return;
    }
    node->SetFileProperties(p);
    if (p->m_attribute & 0x10) {
        secondary.deletedFolders.push_back(node.get());
    } else {
        secondary.files.push_back(node.get());
    }
    secondary.temporaries.push_back(std::move(node));
}

u32 CFATBuildChildren::BuildChildrenFromBuffer(const u8* buffer, u32 length, IFileNode* parent,
                                               std::vector<IFileNode*>& folders, FATSecondaryLists& secondary,
                                               int stopAtInvalid, int allEntries) {
    u32 parentCluster = 0;
    bool parentDeleted = false;
    u32 folderStart = 0;
    bool inLostFolder = false;
    if (parent != nullptr) {
        CFATFileProperties* pp = PropertiesOf(parent);
        if (pp == nullptr) return kFailed;
        parentCluster = static_cast<u32>(pp->m_firstCluster);
        parentDeleted = (pp->m_state & 1) != 0;
        folderStart = parentCluster;
        if ((pp->m_state & 9) == 9) {
            folderStart = 0;
            inLostFolder = true;
        }
    }
    u64 nextCluster = folderStart;
    i64 lfnStart = -1;
    int dots = 0;
    u32 offset = 0;
    while (offset + fat_dir_entry_layout::kSize <= length) {
        const u8* e = buffer + offset;
        CTempFATDirEntry entry(e);
        if (!entry.IsValidFATDirEntry(true)) {
            lfnStart = -1;
            if (stopAtInvalid) {
                offset = length;
                break;
            }
        } else if (entry.IsLongFileNameEntry()) {
            if (lfnStart < 0) lfnStart = offset;
        } else if (entry.IsVolumeLabel()) {
            lfnStart = -1;
        } else if (e[fat_dir_entry_layout::kName] == '.') {
            lfnStart = -1;
            if (++dots > 2) return kFailed;
        } else if (!entry.IsDirectory() && !entry.IsErased() && !parentDeleted && allEntries == 0) {
            if (m_revise) MakeTemporaryNode(buffer, offset, lfnStart, parentCluster, secondary);
            lfnStart = -1;
        } else {
            MakeNode(buffer, offset, lfnStart, parent, parentCluster, parentDeleted, folderStart, nextCluster,
                     inLostFolder, folders, secondary);
            lfnStart = -1;
        }
        offset += fat_dir_entry_layout::kSize;
    }
    if (lfnStart >= 0) return static_cast<u32>(lfnStart);
    return offset > length ? length : offset;
}

void CFATBuildChildren::MakeNode(const u8* buffer, u32 entryOffset, i64 lfnStart, IFileNode* parent, u32 parentCluster,
                                 bool parentDeleted, u32 folderStart, u64& nextCluster, bool inLostFolder,
                                 std::vector<IFileNode*>& folders, FATSecondaryLists& secondary) {
    const u8* e = buffer + entryOffset;
    CTempFATDirEntry entry(e);
    if (m_revise && entry.IsDirectory() && !entry.IsErased()) {
        MakeTemporaryNode(buffer, entryOffset, lfnStart, parentCluster, secondary);
    }
    const u64 c = entry.GetFirstClusterNO();
    if (c > 2 && (c - 2) * m_ctx.sectorsPerCluster > m_ctx.totalSectors) return;
    if (parentCluster != 0 && c == parentCluster) return;  // an entry pointing at its own folder

    CFATFileProperties* p = BuildProperties(buffer, entryOffset, lfnStart);
    if (p == nullptr) return;
    if (parentDeleted) p->m_state |= 1;
    p->m_parentFirstCluster = parentCluster;
    p->m_metadataSector = ConvertClusterNumToSector(parentCluster);

    const u32 saved = static_cast<u32>(c);
    u32 entryCluster = saved;
    ReverseDelFileFirstNum(e, entryCluster, folderStart, nextCluster, p, inLostFolder);
    if (parentCluster != 0 && entryCluster == parentCluster) {
        entryCluster = saved;
        p->m_firstCluster = saved;
    }

    IDataRunList* runs = nullptr;
    const bool isFolder = (p->m_attribute & 0x10) != 0;
    if (!isFolder) {
        if (p->m_size < 1) {
            p->m_firstCluster = m_state->virtualClusters.GetVirtualClusterNum();
        } else {
            p->m_firstCluster = entryCluster;
            runs = BuildDataRunList(p->m_firstCluster, static_cast<u64>(p->m_size), (p->m_state & 1) != 0);
        }
    } else {
        p->m_firstCluster = entryCluster;
    }

    auto* node = new (std::nothrow) CFATFileNode();
    if (node == nullptr) {
        delete p;
        if (runs != nullptr) runs->Release();
        return;
    }
    node->SetFileProperties(p);
    node->SetDataRunList(runs);
    if (m_ctx.record != nullptr) node->SetBelongedPartition(static_cast<u16>(m_ctx.record->m_partitionIndex));
    if (m_ctx.builder != nullptr && m_ctx.builder->AddNode(node, SEARCHER_FAT) == 0) {
        node->Release();
        return;
    }
    const u16 state = p->m_state;
    if (isFolder) {
        if (m_ctx.folderMap != nullptr) m_ctx.folderMap->emplace(static_cast<u32>(p->m_firstCluster), node);
        folders.push_back(node);
        if (state == 1) secondary.deletedFolders.push_back(node);
    } else if (state == 1) {
        secondary.files.push_back(node);
    }
}
