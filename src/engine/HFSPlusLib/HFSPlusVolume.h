// An HFS+ or HFSX volume on any storage device, read only: the volume header, the special files and
// their B-trees, the journal and the deleted records it gives, byte reads and attribute lookups.
//
// Opening order: header, journal, extents file and tree, attributes file and tree, then (unless opened
// without it) the catalog file held in memory and its tree, and the catalog's key compare type. Each
// failing step leaves the later members empty and the status failed; a volume opened without its
// catalog still serves byte reads and attribute lookups (compressed files of a loaded scan result).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "engine/HFSPlusLib/HFSPlusBTree.h"
#include "engine/HFSPlusLib/HFSPlusDeletedRecords.h"
#include "engine/HFSPlusLib/HFSPlusStructs.h"

class IStorageDevice;
class IDirecotryTreeBuilder;
class CHFSPlusRawfile;
class CHFSPlusFileCache;
class CHFSPlusJournal;
class CHFSPlusQuickFileSystemSearchProgress;

class CHFSPlusVolume {
public:
    CHFSPlusVolume(IStorageDevice* device, bool withoutCatalog);
    ~CHFSPlusVolume();
    CHFSPlusVolume(const CHFSPlusVolume&) = delete;
    CHFSPlusVolume& operator=(const CHFSPlusVolume&) = delete;

    // The code of the last operation (after construction: the outcome of the opening).
    u64 GetStatus() const { return m_status; }
    // The outcome of the opening, whatever later reads did.
    u64 GetOpenStatus() const { return m_openStatus; }
    // Every step up to the attributes tree succeeded: byte reads and attribute lookups work (all that a
    // volume opened without its catalog offers).
    bool ServesReads() const { return m_servesReads; }
    // The whole opening succeeded, catalog included.
    bool IsOpen() const { return m_catalogReady; }

    // Bytes of the volume at a byte offset, through whole-sector reads; the count read.
    u64 Read(u64 byteOffset, void* buffer, u64 size);

    // Exact search in the B-tree of special file 8 (attributes), 4 (catalog) or 3 (extents).
    u64 Search(u32 fileID, const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record);
    // Walks the catalog (file ID 4 only); listedLeaves as the tree's Traverse.
    u64 Traverse(u32 fileID, IDirecotryTreeBuilder* builder, CHFSPlusQuickFileSystemSearchProgress* progress,
                 std::vector<u32>* listedLeaves = nullptr);

    // The header tests of the format (signature, block size a multiple of 512, version at most 16,
    // free and journal block numbers within the volume, a catalog fork as long as its blocks), on a
    // copy: usable without a volume.
    static bool IsValidVolumeHeader(const u8* buffer, u16 length);

    // The special file that owns a byte of the volume: 4, 3, 8, 6, 7 or 0.
    u32 GetNodeBelongToFile(u64 byteOffset);
    bool IsBelongToFile(u32 fileID, const HFSPlusForkData& fork, u64 byteOffset);

    // The inline data of attribute `name` of a file (live, else deleted); its size, 0 when none.
    u32 getAttribute(u32 fileID, const char* name, std::vector<u8>& data);

    // Deleted records from the journal, then every live catalog record, to the builder; the numbers of
    // the catalog leaves listed whole go to listedLeaves when given.
    u64 QuickSearchFiles(IDirecotryTreeBuilder* builder, CHFSPlusQuickFileSystemSearchProgress* progress,
                         std::vector<u32>* listedLeaves = nullptr);

    u64 FindDeleteCatalog(const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record);
    u64 FindDeleteExtent(const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record);
    u64 FindDeleteAttribute(const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record);

    // Visits the extents of a fork in file order: its own eight, then overflow records from the extents
    // tree (and from the journal's deleted extent records when deletedToo), until its totalBlocks are
    // placed or `visit` answers false. 0 when the walk ended normally; kind 0x6 when an overflow record
    // is missing, the extents file itself would need one, or a record places no block.
    u64 WalkForkExtents(u32 fileID, u8 forkType, const HFSPlusForkData& fork, bool deletedToo,
                        const std::function<bool(const HFSPlusExtentDescriptor&)>& visit);

    IStorageDevice* GetDevice() const { return m_device; }
    u32 GetSectorSize() const { return m_sectorSize; }
    const HFSPlusVolumeHeader* GetHeader() const { return m_header.get(); }
    u32 GetBlockSize() const { return m_header ? m_header->blockSize : 0; }
    u8 GetKeyCompareType() const { return m_keyCompareType; }
    CHFSPlusJournal* GetJournal() const { return m_journal.get(); }
    CHFSPlusExtents* GetExtentsTree() const { return m_extentsTree.get(); }
    CHFSPlusAttribute* GetAttributesTree() const { return m_attributesTree.get(); }
    CHFSPlusCatalog* GetCatalogTree() const { return m_catalogTree.get(); }
    CHFSPlusFileCache* GetCatalogFile() const { return m_catalogFile.get(); }
    CDeletedRecordList& DeletedCatalog() { return m_deletedCatalog; }
    CDeletedRecordList& DeletedExtents() { return m_deletedExtents; }
    CDeletedRecordList& DeletedAttributes() { return m_deletedAttributes; }

private:
    u64 Open(bool withoutCatalog);
    // Reads the special file's extents into `file` (of class File) and builds its tree; 0 or the failure.
    template <class File, class FileHolder, class Tree>
    u64 OpenTree(u32 fileID, const HFSPlusForkData& fork, std::unique_ptr<FileHolder>& file, std::unique_ptr<Tree>& tree);
    u64 FindDelete(CDeletedRecordList& list, const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record);

    u32 m_sectorSize = 512;
    IStorageDevice* m_device = nullptr;
    u64 m_status;
    u64 m_openStatus;
    std::unique_ptr<HFSPlusVolumeHeader> m_header;
    std::unique_ptr<CHFSPlusRawfile> m_extentsFile;
    std::unique_ptr<CHFSPlusExtents> m_extentsTree;
    std::unique_ptr<CHFSPlusRawfile> m_attributesFile;
    std::unique_ptr<CHFSPlusAttribute> m_attributesTree;
    std::unique_ptr<CHFSPlusFileCache> m_catalogFile;
    std::unique_ptr<CHFSPlusCatalog> m_catalogTree;
    std::unique_ptr<CHFSPlusJournal> m_journal;
    CDeletedRecordList m_deletedCatalog;
    CDeletedRecordList m_deletedExtents;
    CDeletedRecordList m_deletedAttributes;
    u8 m_keyCompareType = 0;
    bool m_servesReads = false;
    bool m_catalogReady = false;
};
