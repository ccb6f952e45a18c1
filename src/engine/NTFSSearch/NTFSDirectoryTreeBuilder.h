// The trees of the deep NTFS search: the FILE records of one chosen partition are read again from the
// positions the scan collected, grouped by the master file table whose runs hold them, and linked by
// parent record number from the root folder (record 5). Folders the root does not reach are handed
// over as lost folders with their children; deleted files whose record shows a size of 0 get their
// size and runs back from the $LogFile when it can tell them.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "engine/Common/HugePages.h"
#include "engine/Common/Types.h"
#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/NTFSLib/NTFSFileProperties.h"
#include "engine/NTFSLib/NTFSFindings.h"

class CFindFileFromLogFile;
class CMFTInfo;
class CSearchedPartitionInfo;
class IDirecotryTreeBuilder;
class IFileNode;
class IFilesystemNode;
class IProgress;
class IStorageDevice;
struct FindFileMFTAndLogx;

namespace ntfsdeep {
// The largest block read at once.
inline constexpr u32 BLOCK_MAX_TOTAL_SECTORS = 128;
// Lost folders whose parent number is below this (a system record) are not handed over.
inline constexpr i64 kMinLostParent = 25;
inline constexpr i64 kRootRecord = 5;
}  // namespace ntfsdeep

// One FILE record of a partition and the properties built from it (owned until a node takes them; an
// entry whose properties were taken is spent).
struct CNTFSRecordEntry {
    CCommonFileRecordInfo info;
    std::unique_ptr<CNTFSFileProperties> properties;
};
// A partition's records: large arrays, on huge pages.
using CNTFSRecordEntries = std::vector<CNTFSRecordEntry, hugepages::Allocator<CNTFSRecordEntry>>;

class CNTFSFileRecord;

// What the scan built of the valid FILE records it read, in rising sector order, for the records that
// the tree build would build alike for every partition (no attribute list, data resident or absent,
// not of size 0): the tree build takes them instead of reading and building those records again. A
// block holding a record that was not built (or was taken by an earlier partition) is read as before.
class CNTFSPrebuiltRecords {
public:
    enum Kind : u8 {
        kNothing,  // the build makes no entry of it (an extension or system record, no properties)
        kBuilt,    // its entry, until a partition takes it
        kNotBuilt  // the build reads it
    };
    struct Record {
        i64 sector;
        Kind kind;
        CNTFSRecordEntry entry;
    };
    static constexpr size_t kMaxRecords = size_t(1) << 22;

    void Reset();
    // The record found valid at sector s (the scan's copy, protection undone; its system-file number
    // from CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex), in rising order; any
    // other order or a full store leaves the store unused.
    void Add(const CNTFSFileRecord& record, i64 sector, u32 metaFileIndex);
    // Blocks the scan analysed: one after the other from sector 0.
    void Scanned(i64 first, i64 count);
    // Every sector of [first, end) was analysed by the scan and the store holds all its valid records.
    bool Covers(i64 first, i64 end) const { return m_usable && first >= 0 && end <= m_scannedEnd; }
    // The places [begin, end) of the records at sectors in [first, end), for At.
    std::pair<size_t, size_t> Range(i64 first, i64 end) const;
    Record& At(size_t i) { return m_blocks[i / kBlockRecords][i % kBlockRecords]; }
    const Record& At(size_t i) const { return m_blocks[i / kBlockRecords][i % kBlockRecords]; }
    // The record at a sector, or null.
    const Record* Find(i64 sector) const;
    size_t Size() const { return m_count; }

private:
    // Records are kept in blocks of this many (one huge page), so that the store grows without moving them.
    static constexpr size_t kBlockRecords = hugepages::kPageBytes / sizeof(Record);
    // The first place whose record lies at or after the sector.
    size_t LowerBound(i64 sector) const;
    void Drop();

    std::vector<std::vector<Record, hugepages::Allocator<Record>>> m_blocks;
    size_t m_count = 0;
    i64 m_scannedEnd = 0;
    bool m_usable = true;
};

// A master file table of the partition, its records, and the node that stands for its root folder
// (never handed to the engine).
struct CMFTDirectoryTreeBuildInfo {
    CMFTInfo* mft = nullptr;  // not owned
    CNTFSRecordEntries records;
    std::unique_ptr<CNTFSFileNode> root;
};

// A record's node, made ahead of the hand-over, with the numbers that place it.
struct CNTFSPreparedNode {
    i64 parent;
    i64 number;
    CNTFSFileNode* node;  // null once handed over
    bool directory;       // as the node answers IsDirectory
};

// The nodes of a table's records (or of the loose records), by parent number, the records of one parent
// in the order they were read. Nodes never handed over are released with it.
class CNTFSPreparedNodes {
public:
    using Items = std::vector<CNTFSPreparedNode, hugepages::Allocator<CNTFSPreparedNode>>;
    CNTFSPreparedNodes() = default;
    CNTFSPreparedNodes(CNTFSPreparedNodes&& other) noexcept : items(std::move(other.items)) { other.items.clear(); }
    CNTFSPreparedNodes& operator=(CNTFSPreparedNodes&& other) noexcept;
    ~CNTFSPreparedNodes() { Release(); }
    // Releases the nodes not handed over and empties the list.
    void Release();

    Items items;
};

// What the hand-over of one partition takes, made beforehand: the nodes of each of its tables, and for
// the first partition those of the records outside every table.
struct CNTFSPreparedPartition {
    int partitionIndex = -1;
    i64 cluster0 = 0;
    u32 sectorsPerCluster = 0;
    IProgress* progress = nullptr;
    std::vector<CNTFSPreparedNodes> tables;
    CNTFSPreparedNodes loose;
};

class CMFTDirectoryTreeBuilder {
public:
    CMFTDirectoryTreeBuilder(IDirecotryTreeBuilder* builder, int partitionIndex, i64 cluster0, u32 sectorsPerCluster,
                             IProgress* progress)
        : m_builder(builder), m_partition(partitionIndex), m_cluster0(cluster0), m_spc(sectorsPerCluster),
          m_progress(progress) {}

    // The record number of the record at a device sector through the table's runs, or -1.
    static i64 GetMFTNumber(i64 sector, const CMFTInfo* table, i64 cluster0Sector, u32 sectorsPerCluster);
    // Hands the table's records over: breadth first from the root, then the lost folders.
    void BuildDirectoryTree(CMFTDirectoryTreeBuildInfo& table);
    // Hands over the folders of the records that are left whose parent is 25 or more, with their children.
    void BuildLostFiles(CNTFSRecordEntries& records);

    // The two halves of the above. The nodes of the table's records (which it gives up), numbered through
    // the table; of records by their own numbers. Neither touches the tree builder.
    CNTFSPreparedNodes PrepareTable(CMFTDirectoryTreeBuildInfo& table) const;
    CNTFSPreparedNodes PrepareLoose(CNTFSRecordEntries& records) const;
    // Hands prepared nodes over as BuildDirectoryTree and BuildLostFiles do.
    void HandTable(CNTFSPreparedNodes& nodes);
    void HandLostFiles(CNTFSPreparedNodes& nodes);

private:
    using Items = CNTFSPreparedNodes::Items;
    // Makes the node of a record (taking its properties); null without properties.
    CNTFSFileNode* MakeNode(CNTFSRecordEntry& entry, i64 number, i64 parent) const;
    // Adds the record's node, made now, to the prepared list (nothing without properties).
    void AddPrepared(Items& items, CNTFSRecordEntry& entry, i64 number, i64 parent) const;
    // 1 when the tree builder took the node; a refused node is released.
    int Hand(CNTFSFileNode* node) const;
    void BuildChildren(Items& items, i64 folder, std::vector<i64>& queue);

    IDirecotryTreeBuilder* m_builder;
    int m_partition;
    i64 m_cluster0;
    u32 m_spc;
    IProgress* m_progress;
};

// The node that would stand for the volume itself: none.
class CNTFSFileSystemNodeBuilder {
public:
    static IFilesystemNode* CreateNTFSFileSystemNode(i64 cluster0Sector, u32 sectorsPerCluster, int partitionIndex);
};

// Folders named "LostFiles1", "LostFiles2", ..., counted by each tree build (which starts the count
// again); no step of the build makes one.
class CNTFSLostFilesFolderNodeBuilder {
public:
    void ResetLostFilesFolderCount() { m_count = 0; }
    CNTFSFileNode* CreateLostFilesFileNode();
    int GetLostFilesFolderCount() const { return m_count; }

private:
    int m_count = 0;
};

class CNTFSDirectoryTreeBuilder {
public:
    // Builds the trees of one candidate; the result node is always null (no node stands for a volume).
    IFilesystemNode* BuildDirectoryTree(CNTFSIntelligentSearchInfo* info, CSearchedPartitionInfo* candidate,
                                        IStorageDevice* device, int partitionIndex, IProgress* progress,
                                        IDirecotryTreeBuilder* builder);
    // The two halves of the above: reads the candidate's records and makes their nodes, without the tree
    // builder (so that it may run on another thread while an earlier partition is handed over); then
    // hands them over.
    CNTFSPreparedPartition Prepare(CNTFSIntelligentSearchInfo* info, CSearchedPartitionInfo* candidate,
                                   IStorageDevice* device, int partitionIndex, IProgress* progress);
    static void Hand(CNTFSPreparedPartition& partition, IDirecotryTreeBuilder* builder);
    bool IsDone() const { return m_done; }
    // Blocks read by the last build, for the tests.
    const std::vector<std::pair<i64, u32>>& ReadBlocks() const { return m_blocks; }

    // The properties of a valid record (and its parent number when the record did not tell it): false
    // when it has none. The same for every partition when it has no extension records and its data is
    // resident or absent.
    static bool BuildRecordProperties(const CNTFSFileRecord& record, i64 sector, IStorageDevice* device,
                                      const CExtendFileRecordInfoList* extensions, i64 bytesPerCluster,
                                      CNTFSRecordEntry& entry);

private:
    void ReadFileProperties();
    void ReadFilePropertiesfromBlock(i64 first, u32 sectors);
    // Takes the scan's entries of the block's records; false (nothing taken) when one is missing.
    bool TakePrebuiltRecords(i64 first, u32 sectors);
    void BuildCommonFileRecordInfoandFileProperties(u8* record, int size, i64 sector, CMFTDirectoryTreeBuildInfo* table);
    // Numbers the entry through the table and files it under the table (or among the loose records).
    void AddEntry(CNTFSRecordEntry entry, i64 sector, CMFTDirectoryTreeBuildInfo* table);
    CMFTDirectoryTreeBuildInfo* FindMatchedMFT(i64 sector);

    std::vector<std::unique_ptr<CMFTDirectoryTreeBuildInfo>> m_tables;
    CNTFSRecordEntries m_loose;
    IStorageDevice* m_device = nullptr;
    i64 m_cluster0 = -1;
    u32 m_spc = 0;
    i64 m_sectors = 0;
    size_t m_expected = 0;  // records the scan kept inside the volume
    bool m_keep = false;
    CNTFSIntelligentSearchInfo* m_info = nullptr;
    CSearchedPartitionInfo* m_candidate = nullptr;
    int m_partition = -1;
    IProgress* m_progress = nullptr;
    IFilesystemNode* m_result = nullptr;
    bool m_done = false;
    std::vector<std::pair<i64, u32>> m_blocks;
    std::vector<u8> m_blockBuffer;
    CNTFSLostFilesFolderNodeBuilder m_lostFolders;
    // Log readers of this volume's tables, found but not analysed yet.
    std::vector<CFindFileFromLogFile*> m_pendingLogs;
};
