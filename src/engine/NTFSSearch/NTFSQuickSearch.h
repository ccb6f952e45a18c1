// The quick search of an intact NTFS volume: boot sector, the master file table's own record (or its
// mirror's), the log-file analysis, then every record of the table in order, one node per file,
// keyed by record number and parent record number.
#pragma once

#include <memory>
#include <vector>

#include "engine/Common/IQuickFileSystemSearchController.h"
#include "engine/NTFSLib/NTFSDBR.h"
#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSSearch/FindFileFromLogFile.h"
#include "engine/Utility/SearchedPartitionInfo.h"

class CCommonFileRecordInfo;
class CMFTInfo;
class CNTFSFileProperties;
class IDirecotryTreeBuilder;
class IProgress;
class IStorageDevice;

namespace ntfsquick {
// Result codes of the quick search (module 0x12).
inline constexpr u64 kBadArgument = 0x0112006500000005ULL;
inline constexpr u64 kNotNTFS = 0x0112007500000010ULL;
inline constexpr u64 kNoMFTRecord = 0x0112007e00000011ULL;
// Sectors read per batch of the table.
inline constexpr u32 kBatchSectors = 128;
}  // namespace ntfsquick

class CNTFSQuickSearch : public IQuickFileSystemSearchController {
public:
    CNTFSQuickSearch();
    ~CNTFSQuickSearch() override;
    CNTFSQuickSearch(const CNTFSQuickSearch&) = delete;
    CNTFSQuickSearch& operator=(const CNTFSQuickSearch&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_builder = builder; }
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    u64 QuickSearchFiles(IStorageDevice* device, IProgress* progress) override;

    bool ReadDBR(IStorageDevice* device, i64 sector, i64 totalSectors, CNTFSDBR& dbr);
    // The table's runs from its own record, else from the mirror's; false when neither serves.
    bool GetMFTInfo(CNTFSDataRunList& runs);
    bool ReadMFTInfoFromFileRecord(i64 sector, u32 sectorCount, CNTFSDataRunList& runs);
    // Reads the table in batches and hands a node per file record to the tree builder.
    u64 BuildFileNodeFromMFTFileRecord(const CNTFSDataRunList& runs);
    // Parses the records of one batch: `first` is the table sector of its first byte, numbers the
    // device sector of each buffered sector (-1 where a read failed).
    void BuildFileNodeFromBuffer(u8* buffer, u32 sectorCount, u64 first, const CNTFSDataRunList& runs,
                                 const std::vector<i64>& numbers);
    // Hands a node to the tree builder; 1 for null properties (no node), else the builder's answer.
    int CreateFileNode(i64 number, i64 parent, CNTFSFileProperties* properties);

    const CFindFileFromLogFile& GetLogAnalysis() const { return m_log; }

private:
    u64 Finish(u64 code);
    // Drops or cuts the runs that reach past the volume: a bogus $MFT run must not make us read past it.
    void BoundRunsByVolume(CNTFSDataRunList& runs) const;
    // Whether the record's parent reference still names its folder (CCommonFileRecordInfo::ReferenceHolds)
    // as the table holds it: from the records read so far, else read now. True when it cannot be told.
    bool ParentReferenceHolds(const CCommonFileRecordInfo& info, const CNTFSDataRunList& runs);

    IDirecotryTreeBuilder* m_builder = nullptr;
    IStorageDevice* m_device = nullptr;
    IProgress* m_progress = nullptr;
    std::unique_ptr<CSearchedPartitionInfo> m_partition;
    std::vector<CSearchedPartitionInfo*> m_records;  // what GetSearchedPartitionInfo hands out
    CNTFSDBR m_dbr;
    u32 m_recordSize = 1024;
    u32 m_sectorSize = 512;
    u32 m_sectorsPerCluster = 1;
    CFindFileFromLogFile m_log;
    // Per record number read so far: 0 unknown, else kSeen | (in use ? kStateInUse : 0) | its sequence.
    std::vector<u32> m_recordStates;
    static constexpr u32 kSeen = 1u << 17;
    static constexpr u32 kStateInUse = 1u << 16;
    // Records past this number are not remembered (their headers are read when a reference needs them).
    static constexpr u64 kMaxRecordStates = u64(1) << 24;
};

IQuickFileSystemSearchController* CreateNTFSQuickSearcher();
