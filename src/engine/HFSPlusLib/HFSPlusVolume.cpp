#include "engine/HFSPlusLib/HFSPlusVolume.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/Common/DebugChannel.h"
#include "engine/HFSPlusLib/FastUnicodeCompare.h"
#include "engine/HFSPlusLib/HFSPlusFileNode.h"
#include "engine/HFSPlusLib/HFSPlusJournal.h"
#include "engine/HFSPlusLib/HFSPlusQuickSearchProgress.h"
#include "engine/HFSPlusLib/HFSPlusRawfile.h"
#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/StorageDevice/IStorageDevice.h"

using namespace hfsplus;

CHFSPlusVolume::CHFSPlusVolume(IStorageDevice* device, bool withoutCatalog)
    : m_device(device),
      m_status(kNotReady),
      m_openStatus(kNotReady),
      m_deletedCatalog([this](const BTKey& a, const BTKey& b) { return CHFSPlusCatalog::CompareKey(a, b, m_keyCompareType); }),
      m_deletedExtents([](const BTKey& a, const BTKey& b) { return CHFSPlusExtents::CompareKey(a, b); }),
      m_deletedAttributes([](const BTKey& a, const BTKey& b) { return CHFSPlusAttribute::CompareKey(a, b); }) {
    m_status = Open(withoutCatalog);
    m_openStatus = m_status;
}

CHFSPlusVolume::~CHFSPlusVolume() {
    m_journal.reset();
    m_catalogTree.reset();
    m_catalogFile.reset();
    m_attributesTree.reset();
    m_attributesFile.reset();
    m_extentsTree.reset();
    m_extentsFile.reset();
    m_header.reset();
    m_deletedCatalog.Clear();
    m_deletedExtents.Clear();
    m_deletedAttributes.Clear();
}

u64 CHFSPlusVolume::Open(bool withoutCatalog) {
    if (!m_device) return HFSPLUS_FAIL(kKindNullArgument);
    m_sectorSize = m_device->GetSectorSize() ? m_device->GetSectorSize() : 512;

    u8 bytes[kVolumeHeaderSize];
    const u64 got = Read(kVolumeHeaderOffset, bytes, sizeof bytes);
    if (got != sizeof bytes) return AtStep(kSiteVolumeHeader, HFSPLUS_FAIL(kKindShortRead));
    m_header.reset(new (std::nothrow) HFSPlusVolumeHeader);
    if (!m_header) return HFSPLUS_FAIL(kKindNoMemory);
    DecodeVolumeHeader(ByteReader(bytes, sizeof bytes), *m_header);

    // The journal keeps its own status: an unusable journal never stops the opening.
    m_journal.reset(new (std::nothrow) CHFSPlusJournal(this));
    if (!m_journal) return HFSPLUS_FAIL(kKindNoMemory);

    if (const u64 code = OpenTree<CHFSPlusRawfile>(kExtentsFileID, m_header->extentsFile, m_extentsFile, m_extentsTree))
        return AtStep(kSiteExtentsFile, code);

    // A volume without an attributes file (formatters that never made one) opens without that tree.
    if (m_header->attributesFile.totalBlocks != 0) {
        // Held in memory like the catalog: every compressed file looks its decmpfs attribute up here.
        if (const u64 code = OpenTree<CHFSPlusFileCache>(kAttributesFileID, m_header->attributesFile, m_attributesFile,
                                                         m_attributesTree))
            return AtStep(kSiteAttributesFile, code);
    }

    // Without its catalog the volume serves byte reads and attribute lookups only; the opening still
    // ends with the null-argument code at the catalog step.
    m_servesReads = true;
    if (withoutCatalog) return HFSPLUS_FAIL(kKindNullArgument);
    if (const u64 code = OpenTree<CHFSPlusFileCache>(kCatalogFileID, m_header->catalogFile, m_catalogFile, m_catalogTree))
        return AtStep(kSiteCatalogFile, code);
    const BTHeaderRec* header = m_catalogTree->GetHeaderRec();
    if (!header) return AtStep(kSiteCatalogFile, HFSPLUS_FAIL(kKindBadData));
    m_keyCompareType = header->keyCompareType;
    m_catalogReady = true;
    return 0;
}

template <class File, class FileHolder, class Tree>
u64 CHFSPlusVolume::OpenTree(u32 fileID, const HFSPlusForkData& fork, std::unique_ptr<FileHolder>& file,
                             std::unique_ptr<Tree>& tree) {
    auto* opened = new (std::nothrow) File(this, fileID, fork);
    file.reset(opened);
    if (!opened) return HFSPLUS_FAIL(kKindNoMemory);
    if (result::IsFailure(opened->GetStatus())) return opened->GetStatus();
    tree.reset(new (std::nothrow) Tree(this, opened));
    if (!tree) return HFSPLUS_FAIL(kKindNoMemory);
    return result::IsFailure(tree->GetLastError()) ? tree->GetLastError() : 0;
}

u64 CHFSPlusVolume::Read(u64 byteOffset, void* buffer, u64 size) {
    if (!m_device || !buffer) {
        m_status = HFSPLUS_QUIET(kKindReadFailed);
        return 0;
    }
    const u64 sector = m_sectorSize;
    auto* out = static_cast<u8*>(buffer);
    u64 done = 0;
    std::vector<u8> scratch;
    auto fail = [&](u64 at) {
        EngineDebug("Location:0x%llx Size:0x%llx\n", static_cast<unsigned long long>(at),
                    static_cast<unsigned long long>(size - done));
        m_status = HFSPLUS_QUIET(kKindReadFailed);
        return done;
    };
    auto readOne = [&](u64 first) -> bool {
        if (scratch.size() != sector) {
            try {
                scratch.assign(sector, 0);
            } catch (const std::bad_alloc&) {
                return false;
            }
        }
        return first <= u64(INT64_MAX) && m_device->ReadSector(scratch.data(), i64(first), 1) != 0;
    };
    // Head: the part of a sector that the offset falls into.
    if (size > 0 && byteOffset % sector != 0) {
        if (!readOne(byteOffset / sector)) return fail(byteOffset);
        const u64 within = byteOffset % sector;
        const u64 take = std::min(sector - within, size);
        std::memcpy(out, scratch.data() + within, size_t(take));
        done += take;
    }
    // Middle: whole sectors straight into the caller's buffer.
    const u64 whole = (size - done) / sector;
    if (whole > 0) {
        const u64 first = (byteOffset + done) / sector;
        if (first > u64(INT64_MAX) || whole > u64(INT64_MAX) ||
            m_device->ReadSector(out + done, i64(first), i64(whole)) == 0)
            return fail(byteOffset + done);
        done += whole * sector;
    }
    // Tail: the start of one more sector.
    if (done < size) {
        if (!readOne((byteOffset + done) / sector)) return fail(byteOffset + done);
        std::memcpy(out + done, scratch.data(), size_t(size - done));
        done = size;
    }
    return done;
}

u64 CHFSPlusVolume::Search(u32 fileID, const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record) {
    if (!m_header) return HFSPLUS_FAIL(kKindNullArgument);
    CHFSPlusBTreeOptionBase* tree = nullptr;
    switch (fileID) {
        case kAttributesFileID: tree = m_attributesTree.get(); break;
        case kCatalogFileID: tree = m_catalogTree.get(); break;
        case kExtentsFileID: tree = m_extentsTree.get(); break;
        default: return HFSPLUS_FAIL(kKindUnsupported);
    }
    if (!tree) return HFSPLUS_QUIET(kKindNotReady);
    return tree->Search(key, result, record);
}

u64 CHFSPlusVolume::Traverse(u32 fileID, IDirecotryTreeBuilder* builder,
                             CHFSPlusQuickFileSystemSearchProgress* progress, std::vector<u32>* listedLeaves) {
    if (fileID != kCatalogFileID) return HFSPLUS_FAIL(kKindUnsupported);
    if (!m_catalogTree) return HFSPLUS_FAIL(kKindNotReady);
    return m_catalogTree->Traverse(builder, progress, listedLeaves);
}

bool CHFSPlusVolume::IsValidVolumeHeader(const u8* buffer, u16 length) {
    if (!buffer || length < kVolumeHeaderSize) return false;
    HFSPlusVolumeHeader h;
    if (!DecodeVolumeHeader(ByteReader(buffer, length), h)) return false;
    if (h.signature != kSignatureHFSPlus && h.signature != kSignatureHFSX) return false;
    if (h.blockSize % 512 != 0) return false;
    if (h.version > kMaxVersion) return false;
    if (h.freeBlocks > h.totalBlocks || h.journalInfoBlock > h.totalBlocks) return false;
    return h.catalogFile.logicalSize == u64(h.blockSize) * h.catalogFile.totalBlocks;
}

u64 CHFSPlusVolume::WalkForkExtents(u32 fileID, u8 forkType, const HFSPlusForkData& fork, bool deletedToo,
                                    const std::function<bool(const HFSPlusExtentDescriptor&)>& visit) {
    u64 remaining = fork.totalBlocks;
    u64 placed = 0;
    HFSPlusExtentRecord extents = fork.extents;
    while (remaining > 0) {
        const u64 before = placed;
        for (const HFSPlusExtentDescriptor& e : extents) {
            if (!visit(e)) return 0;
            const bool last = e.blockCount >= remaining;
            const u64 take = std::min<u64>(e.blockCount, remaining);
            remaining -= take;
            placed += take;
            if (last) return 0;
        }
        // Eight extents and blocks left: the rest is in an overflow record.
        if (fileID == kExtentsFileID) return HFSPLUS_FAIL(kKindBadData);
        if (placed == before || placed > UINT32_MAX) return HFSPLUS_FAIL(kKindBadData);
        BTKey key;
        key.keyLength = extkey::kKeyLengthValue;
        key.forkType = forkType;
        key.fileID = fileID;
        key.startBlock = u32(placed);
        HFSPlusSearchResult found;
        BTRecordPtr record;
        if (m_extentsTree) m_extentsTree->Search(key, found, &record);
        if ((!found.found || !record) && deletedToo) FindDeleteExtent(key, found, &record);
        if (!found.found || !record) return HFSPLUS_FAIL(kKindBadData);
        extents = record->extents;
    }
    return 0;
}

bool CHFSPlusVolume::IsBelongToFile(u32 fileID, const HFSPlusForkData& fork, u64 byteOffset) {
    const u64 blockSize = GetBlockSize();
    if (blockSize == 0) return false;
    bool hit = false;
    WalkForkExtents(fileID, extkey::kDataFork, fork, false, [&](const HFSPlusExtentDescriptor& e) {
        const u64 start = u64(e.startBlock) * blockSize;
        const u64 end = (u64(e.startBlock) + e.blockCount) * blockSize;
        hit = start <= byteOffset && byteOffset < end;
        return !hit;
    });
    return hit;
}

u32 CHFSPlusVolume::GetNodeBelongToFile(u64 byteOffset) {
    if (!m_header) {
        m_status = HFSPLUS_QUIET(kKindNotReady);
        return 0;
    }
    const std::pair<u32, const HFSPlusForkData*> files[] = {
        {kCatalogFileID, &m_header->catalogFile},
        {kExtentsFileID, &m_header->extentsFile},
        {kAttributesFileID, &m_header->attributesFile},
        {kAllocationFileID, &m_header->allocationFile},
        {kStartupFileID, &m_header->startupFile},
    };
    for (const auto& [id, fork] : files) {
        if (IsBelongToFile(id, *fork, byteOffset)) return id;
    }
    return 0;
}

u32 CHFSPlusVolume::getAttribute(u32 fileID, const char* name, std::vector<u8>& data) {
    data.clear();
    if (!m_header || !name) return 0;
    if (!m_attributesTree) return 0;
    BTKey key;
    key.fileID = fileID;
    key.startBlock = 0;
    const size_t length = std::min<size_t>(std::strlen(name), key.name.size());
    for (size_t i = 0; i < length; ++i) key.name[i] = static_cast<u8>(name[i]);
    key.nameLength = u16(length);
    key.keyLength = u16(attrkey::kMinKeyLength + 2 * length);

    HFSPlusSearchResult found;
    BTRecordPtr record;
    m_attributesTree->Search(key, found, &record);
    if (!found.found || !record) FindDeleteAttribute(key, found, &record);
    if (!found.found || !record) return 0;
    if (record->attribute.recordType != attrrec::kInlineData) {
        EngineDebug("unsupported attribute node format\n");
        return 0;
    }
    data = std::move(record->attribute.data);
    return u32(data.size());
}

u64 CHFSPlusVolume::FindDelete(CDeletedRecordList& list, const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record) {
    result.found = 0;
    CDeletedRecordList::Entry* entry = list.FindNewest(key);
    if (!entry) return 0;
    if (record) {
        *record = BTRecordPtr(new (std::nothrow) BTRecord(*entry->record));
        if (!*record) return HFSPLUS_FAIL(kKindNoMemory);
    }
    result.found = 1;
    return 0;
}

u64 CHFSPlusVolume::FindDeleteCatalog(const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record) {
    return FindDelete(m_deletedCatalog, key, result, record);
}

u64 CHFSPlusVolume::FindDeleteExtent(const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record) {
    return FindDelete(m_deletedExtents, key, result, record);
}

u64 CHFSPlusVolume::FindDeleteAttribute(const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record) {
    return FindDelete(m_deletedAttributes, key, result, record);
}

u64 CHFSPlusVolume::QuickSearchFiles(IDirecotryTreeBuilder* builder, CHFSPlusQuickFileSystemSearchProgress* progress,
                                     std::vector<u32>* listedLeaves) {
    if (!m_journal) return HFSPLUS_FAIL(kKindNotReady);
    if (progress && m_header)
        progress->SetTotal(m_deletedCatalog.Size() + u64(m_header->fileCount) + m_header->folderCount + 1);
    m_journal->GetDeleteRecord(progress, m_deletedCatalog, m_deletedExtents, m_deletedAttributes);
    if (progress && m_header)
        progress->SetTotal(m_deletedCatalog.Size() + u64(m_header->fileCount) + m_header->folderCount + 1);
    const bool going = !progress || progress->Continued();

    // The most recently found deleted record first; the list is emptied either way.
    std::vector<CDeletedRecordList::Entry> deleted = m_deletedCatalog.TakeAll();
    if (going) {
        for (CDeletedRecordList::Entry& entry : deleted) {
            if (progress && !progress->Continued()) break;
            auto* node = new (std::nothrow) CHFSPlusFileNode(this, entry.key.get(), &entry.record->catalog, 1);
            entry.key.reset();
            entry.record.reset();
            if (!node) continue;
            if (node->GetCurrentNodeID() == -1 || !builder) {
                delete node;
                continue;
            }
            if (builder->AddNode(node, SEARCHER_HFSPLUS)) {
                if (progress) progress->UpdateProgress();
            } else {
                delete node;
            }
        }
    }
    deleted.clear();
    return Traverse(kCatalogFileID, builder, progress, listedLeaves);
}
