// The nodes of a loaded scan result and their records in the saved file (see SavedResultFormat.h):
// RestoreFileNode holds what the file-node record stores, RestoreSystemNode adds a partition root's
// searcher type and volume name. Partition records are stored through the base record's fields.
#pragma once

#include <string>

#include "bridge/SaveRestore/SavedResultStream.h"
#include "engine/Utility/DataRunList.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/SearchedPartitionInfo.h"

class CHFSPlusVolume;
class IStorageDevice;

namespace SaveRestoreResult {

// A restored run list: the runs exactly as they were saved (contiguous runs are not merged, so that a
// loaded result saves again to the same bytes), with the saved resident flag.
class CRestoredRunList : public CDataRunList {
public:
    explicit CRestoredRunList(u32 resident) { m_resident = resident; }
    void AppendExact(const DataRun& run) { m_runs.push_back(std::make_unique<DataRun>(run)); }
    IDataRunList* Clone() override;
};

class RestoreFileNode : public CFileNode {
public:
    RestoreFileNode() = default;

    const char* GetFileName() override { return m_name.c_str(); }
    i64 GetFileSize() override { return static_cast<i64>(m_size); }
    u16 GetAttribute() override { return m_attribute; }
    _FILETIME GetCreationTime() override { return m_creation; }
    _FILETIME GetModificationTime() override { return m_modification; }
    _FILETIME GetLastAccessTime() override { return m_access; }
    u32 IsDirectory() override { return m_directory; }
    u32 IsDeleted() override { return m_deleted; }
    IFileNode* Clone() override;
    void MarkDeleted() override { m_deleted = 1; }
    void FilterFileNameByDot() override {}
    // Compressed files: an HFS+ reader over the volume of the node's partition root, an unopened NTFS
    // reader (the data-recovery object opens it); none for other roots.
    IFileReader* CreateCompressFileReader(void* context) override;
    // A resident run list starts at the sector of the NTFS file record that holds the data.
    int ReadResidentData(IStorageDevice& device, u8* buffer, u32 capacity, i64* length) override;

    // Writes one file-node record.
    static void WriteFileNode(IFileNode* node, saved_result::SavedFrameWriter& out);
    // Reads one file-node record into `into`, or into a new node when it is null; the node. A record
    // that runs past the frame or holds an out-of-range count throws CSavedResultError.
    static RestoreFileNode* ReadFileNode(saved_result::SavedFrameReader& in, RestoreFileNode* into = nullptr);

    void SetName(std::string name) { m_name = std::move(name); }
    void SetSize(u64 size) { m_size = size; }
    void SetAttribute(u16 attribute) { m_attribute = attribute; }
    void SetTimes(_FILETIME creation, _FILETIME modification, _FILETIME access) {
        m_creation = creation;
        m_modification = modification;
        m_access = access;
    }
    void SetDirectory(u32 directory) { m_directory = directory; }
    void SetDeleted(u32 deleted) { m_deleted = deleted; }
    void SetCompressed(u32 compressed) { m_compressed = compressed; }

private:
    std::string m_name;
    u64 m_size = 0;
    u16 m_attribute = 0;
    _FILETIME m_creation = 0;
    _FILETIME m_modification = 0;
    _FILETIME m_access = 0;
    u32 m_directory = 0;
    u32 m_deleted = 0;
};

class RestoreSystemNode : public RestoreFileNode {
public:
    _tagSearcherType GetSearcheType() override { return m_searcherType; }
    const char* GetVolumeName() override { return m_volumeName.c_str(); }
    IFileNode* Clone() override;

    // Writes one system-node record (a file-node record, the searcher type and the volume name, cut to
    // fewer than 512 bytes at a character boundary).
    static void WriteSystemNode(IFilesystemNode* root, saved_result::SavedFrameWriter& out);
    // Reads one system-node record into a new node; a searcher type outside 31-37 or a volume name of
    // 512 bytes or more throws CSavedResultError.
    static RestoreSystemNode* ReadSystemNode(saved_result::SavedFrameReader& in);

    void SetSearcherType(_tagSearcherType type) { m_searcherType = type; }
    void SetVolumeName(std::string name) { m_volumeName = std::move(name); }

private:
    _tagSearcherType m_searcherType = SEARCHER_NONE;
    std::string m_volumeName;
};

// The partition root above a node in the builder's tree (its topmost ancestor); null without a parent.
IFileNode* TopmostAncestor(IFileNode* node);

// One partition record: its kind (GetType) and its 104 bytes.
void WritePartitionRecord(CSearchedPartitionInfo& record, saved_result::SavedFrameWriter& out);
// One partition record as a new base record (the caller owns it); a kind outside 0-4 throws
// CSavedResultError.
CSearchedPartitionInfo* ReadPartitionRecord(saved_result::SavedFrameReader& in);

}  // namespace SaveRestoreResult
