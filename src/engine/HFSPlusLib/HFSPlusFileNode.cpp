#include "engine/HFSPlusLib/HFSPlusFileNode.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "engine/Common/DebugChannel.h"
#include "engine/HFSPlusLib/HFSPlusCompressFileReader.h"
#include "engine/HFSPlusLib/HFSPlusNames.h"
#include "engine/HFSPlusLib/HFSPlusVolume.h"
#include "engine/Utility/IDataRunList.h"

using namespace hfsplus;

CHFSPlusFileNode::CHFSPlusFileNode(CHFSPlusVolume* volume, const BTKey* key, const HFSPlusCatalogRecord* record,
                                   int isDeleted) {
    CreateFileNode(volume, 0, 0, key, record, isDeleted);
}

CHFSPlusFileNode::CHFSPlusFileNode(CHFSPlusVolume* volume, i64 leafSector, u16 partitionIndex, const BTKey* key,
                                   const HFSPlusCatalogRecord* record) {
    CreateFileNode(volume, leafSector, partitionIndex, key, record, 0);
}

CHFSPlusFileNode::CHFSPlusFileNode(const CHFSPlusFileNode& other)
    : CFileNode(other),
      m_creationTime(other.m_creationTime),
      m_volume(other.m_volume),
      m_name(other.m_name),
      m_size(other.m_size),
      m_modificationTime(other.m_modificationTime),
      m_accessTime(other.m_accessTime),
      m_flags(other.m_flags),
      m_forkSize(other.m_forkSize) {}

IFileNode* CHFSPlusFileNode::Clone() { return new (std::nothrow) CHFSPlusFileNode(*this); }

_FILETIME CHFSPlusFileNode::TimeConvert(u32 hfsDate) {
    if (hfsDate == 0) return 0;
    return i64(hfsDate) * kTicksPerSecond + kFiletime1904;
}

IDataRunList* CHFSPlusFileNode::BuildFileDataRun(CHFSPlusVolume* volume, const HFSPlusForkData& fork, u32 fileID,
                                                 u8 forkType) {
    IDataRunList* list = CreateDataRunList();
    if (!list || fork.totalBlocks == 0) return list;
    auto append = [list](const HFSPlusExtentDescriptor& e) {
        if (e.blockCount != 0) list->AddDataRun(DataRun{i64(e.startBlock), e.blockCount});
        return true;
    };
    // The fork's own eight extents hold all its blocks (most files): the walk would take them in this
    // order and look for no overflow record. Otherwise (or without a volume, where only these eight are
    // known) the volume walks its overflow records too.
    u64 held = 0;
    for (const HFSPlusExtentDescriptor& e : fork.extents) held += e.blockCount;
    if (volume && held < fork.totalBlocks) {
        volume->WalkForkExtents(fileID, forkType, fork, true, append);
        return list;
    }
    u64 remaining = fork.totalBlocks;
    for (const HFSPlusExtentDescriptor& e : fork.extents) {
        append(e);
        if (e.blockCount >= remaining) break;
        remaining -= e.blockCount;
    }
    return list;
}

void CHFSPlusFileNode::CreateFileNode(CHFSPlusVolume* volume, i64 leafSector, u16 partitionIndex, const BTKey* key,
                                      const HFSPlusCatalogRecord* record, int isDeleted) {
    m_volume = volume;
    auto markDeleted = [&] {
        if (isDeleted) m_flags |= kFlagDeleted;
    };
    if (!key || !record) {
        markDeleted();
        return;
    }
    m_parentId = key->parentID;
    // Leading zero units carry no name (the private-data folder begins with four of them).
    u16 skip = 0;
    const u16 length = std::min<u16>(key->nameLength, catkey::kMaxNameUnits);
    while (skip < length && key->name[skip] == 0) ++skip;
    m_name = NameToUtf8(key->name.data() + skip, length - skip);

    auto stamp = [&](u32 created, u32 modified, u32 accessed) {
        m_creationTime = created;
        m_modificationTime = modified;
        m_accessTime = accessed;
        SetBelongedPartition(partitionIndex);
        SetMetaDataSector(u64(leafSector));
    };

    if (record->recordType == catrec::kFile) {
        const HFSPlusCatalogFile& f = record->file;
        m_nodeId = f.fileID;
        if (f.permissions.ownerFlags & bsd::kCompressedFlag) {
            m_flags |= kFlagCompressed;
            m_compressed = 1;
            m_forkSize = f.resourceFork.logicalSize;
            m_size = m_forkSize;
            if (m_forkSize != 0)
                SetDataRunList(BuildFileDataRun(volume, f.resourceFork, f.fileID, extkey::kResourceFork));
            // The size of a compressed file is its uncompressed size: copies are made of the decoded bytes.
            UpdateNodeInfo();
        } else {
            m_forkSize = f.dataFork.logicalSize;
            m_size = m_forkSize;
            if (m_size == 0 && volume) m_size = u64(f.dataFork.totalBlocks) * volume->GetBlockSize();
            SetDataRunList(BuildFileDataRun(volume, f.dataFork, f.fileID, extkey::kDataFork));
        }
        if (m_parentId == 0 && m_name.empty() && m_size > kBareRecordSize) return;
        stamp(f.createDate, f.contentModDate, f.accessDate);
        if ((f.fileType == file::kHardLinkType && f.fileCreator == file::kHardLinkCreator) ||
            f.fileType == file::kFolderAliasType)
            m_flags |= kFlagDirectory;
        markDeleted();
        return;
    }
    if (record->recordType == catrec::kFolder) {
        const HFSPlusCatalogFolder& f = record->folder;
        m_flags |= kFlagDirectory;
        // The parent of the root names no folder of its own.
        if (f.folderID == kRootParentID) {
            markDeleted();
            return;
        }
        m_nodeId = f.folderID;
        m_size = 0;
        stamp(f.createDate, f.contentModDate, f.accessDate);
        if (isDeleted && f.folderID != kRootFolderID) m_flags |= kFlagDeleted;
        return;
    }
    // Threads and anything else make no node (ID -1).
    markDeleted();
}

void CHFSPlusFileNode::UpdateNodeInfo() {
    if (!(m_flags & kFlagCompressed) || !m_volume || !m_volume->GetAttributesTree()) return;
    std::vector<u8> attribute;
    if (m_volume->getAttribute(u32(m_nodeId), decmpfs::kAttributeName, attribute) == 0) {
        EngineDebug("Warn:Can't find file 0x%llx Attribute\n", static_cast<unsigned long long>(m_nodeId));
        return;
    }
    u64 size = 0;
    if (CHFSPlusCompressFileReader::PlausibleSize(attribute, m_forkSize, size)) m_size = size;
}

IFileReader* CHFSPlusFileNode::CreateCompressFileReader(void*) {
    return new (std::nothrow) CHFSPlusCompressFileReader(m_volume, this);
}
