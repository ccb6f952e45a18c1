// A file or folder of an HFS+ volume, live or deleted, built from one catalog key and record.
#pragma once

#include <string>

#include "engine/HFSPlusLib/HFSPlusStructs.h"
#include "engine/Utility/FileNode.h"

class CHFSPlusVolume;

class CHFSPlusFileNode : public CFileNode {
public:
    static constexpr u8 kFlagDeleted = 1;
    static constexpr u8 kFlagDirectory = 2;
    static constexpr u8 kFlagCompressed = 4;
    // A file record without parent and name and with more bytes than this is kept bare (no times, no
    // deleted mark): it is not a user file.
    static constexpr u64 kBareRecordSize = 0x40000000;

    // The quick search's node (partition index and leaf sector 0). Key and record stay the caller's.
    CHFSPlusFileNode(CHFSPlusVolume* volume, const BTKey* key, const HFSPlusCatalogRecord* record, int isDeleted);
    // The deep search's node: found in the leaf at leafSector, in partition partitionIndex; never deleted.
    CHFSPlusFileNode(CHFSPlusVolume* volume, i64 leafSector, u16 partitionIndex, const BTKey* key,
                     const HFSPlusCatalogRecord* record);
    CHFSPlusFileNode(const CHFSPlusFileNode& other);
    ~CHFSPlusFileNode() override = default;
    CHFSPlusFileNode& operator=(const CHFSPlusFileNode&) = delete;

    const char* GetFileName() override { return m_name.c_str(); }
    i64 GetFileSize() override { return i64(m_size); }
    u16 GetAttribute() override { return 0; }
    _FILETIME GetCreationTime() override { return TimeConvert(m_creationTime); }
    _FILETIME GetModificationTime() override { return TimeConvert(m_modificationTime); }
    _FILETIME GetLastAccessTime() override { return TimeConvert(m_accessTime); }
    u32 IsDirectory() override { return (m_flags & kFlagDirectory) ? 1 : 0; }
    u32 IsDeleted() override { return (m_flags & kFlagDeleted) ? 1 : 0; }
    _tagSearcherType GetSearcheType() override { return SEARCHER_HFSPLUS; }
    // A copy with its own run list and no tree links; the caller owns it.
    IFileNode* Clone() override;
    void MarkDeleted() override { m_flags |= kFlagDeleted; }
    // A new reader of the decompressed content (over the volume that found the node), or null.
    IFileReader* CreateCompressFileReader(void* context) override;
    u32 IsCompressed() override { return (m_flags & kFlagCompressed) ? 1 : 0; }
    void FilterFileNameByDot() override { m_name = CFileNode::FilterFileNameByDot(m_name); }
    void UpdateFileSize(i64 size) override { m_size = size < 0 ? 0 : u64(size); }
    // A compressed file takes the uncompressed size of its decmpfs attribute, when it has one.
    void UpdateNodeInfo() override;
    void SetFileName(const char* name) override { m_name = name ? name : ""; }

    CHFSPlusVolume* GetVolume() const { return m_volume; }
    // Bytes of the fork whose extents the run list holds (the resource fork of a compressed file).
    u64 GetForkSize() const { return m_forkSize; }
    u8 GetFlags() const { return m_flags; }

    // HFS+ date (seconds since 1904) to node time; 0 stays 0.
    static _FILETIME TimeConvert(u32 hfsDate);
    // The runs of a fork in allocation blocks, overflow records included (live, then deleted ones); the
    // caller owns the list.
    static IDataRunList* BuildFileDataRun(CHFSPlusVolume* volume, const HFSPlusForkData& fork, u32 fileID, u8 forkType);

private:
    void CreateFileNode(CHFSPlusVolume* volume, i64 leafSector, u16 partitionIndex, const BTKey* key,
                        const HFSPlusCatalogRecord* record, int isDeleted);

    u32 m_creationTime = 0;
    CHFSPlusVolume* m_volume = nullptr;
    std::string m_name;
    u64 m_size = 0;
    u32 m_modificationTime = 0;
    u32 m_accessTime = 0;
    u8 m_flags = 0;
    u64 m_forkSize = 0;
};
