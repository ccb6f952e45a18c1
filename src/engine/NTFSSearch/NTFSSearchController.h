// The deep NTFS searcher (type 35): handed every block of a whole device, it looks at every sector for
// boot sectors, restart pages, index records and FILE records, and at the log record pages of each
// block; it derives partition candidates from them and collects the positions of the file records.
// At the end it scores the candidates, keeps the credible ones and builds a tree for each. The blocks
// of the deep scan's cache are analysed on a thread of the searcher's own, in order, behind the scan.
#pragma once

#include <array>
#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "engine/Common/ICompleteFileSystemSearchController.h"
#include "engine/Common/SerialWorker.h"
#include "engine/NTFSLib/NTFSFindings.h"
#include "engine/NTFSSearch/FindFileFromLogFile.h"
#include "engine/NTFSSearch/NTFSDirectoryTreeBuilder.h"
#include "engine/NTFSSearch/NTFSLogFileAnalyzer.h"
#include "engine/NTFSSearch/NTFSMetaFileAnalyzers.h"
#include "engine/NTFSSearch/NTFSPartitionInfoBuilder.h"

class CNTFSDBR;
class CNTFSFileRecord;
class CStorageDeviceWithCache;
class IDirecotryTreeBuilder;
class IRSData;
class IStorageDevice;

namespace ntfsdeep {
// Sectors available to the tests of one sector (a record or page may continue past it).
inline constexpr i64 kSectorsAvailable = 16;
inline constexpr u32 kFileRecordSize = 1024;
inline constexpr u32 kIndexRecordSize = 4096;
// Record positions are kept up to this many runs (16 bytes each, far more than disks hold).
inline constexpr size_t kMaxPositions = 8000000;
// Index-record infos and folders paired with each other at most this many times in a scan.
inline constexpr u64 kMaxIndexPairings = u64{1} << 24;
// Blocks of the cache held for the analysis on the searcher's own thread, waiting at most (64 MiB of
// 4 MiB blocks): a disk read from memory outruns that analysis for a while where records lie densely.
inline constexpr size_t kHeldBlocks = 16;
// How long the analysis thread looks for the next block before it sleeps (none on a machine of fewer
// than four processors: the scan, its read-ahead and the analysis need one each).
std::chrono::microseconds AnalysisSpin();
}  // namespace ntfsdeep

// An index record seen by the scan: where it lies and whose folder it belongs to.
struct CIndexRecordInfo {
    i64 sector = 0;
    i64 vcn = 0;
    i64 logSequence = 0;
    i64 parent = 0;
    bool operator<(const CIndexRecordInfo& other) const { return parent < other.parent; }
};

// The joining buffers of records cut by a block edge: the searcher's own, emptied by every new search.
struct CNTFSJoiningBuffers {
    std::array<u8, ntfsdeep::kFileRecordSize> file{};
    bool filePending = false;
    i64 fileSector = -1;
    std::array<u8, ntfsdeep::kIndexRecordSize> index{};
    bool indexPending = false;
    i64 indexSector = -1;
    u32 indexBytes = 0;

    void Reset();
};

class CNTFSSearchController : public ICompleteFileSystemSearchController {
public:
    CNTFSSearchController();
    ~CNTFSSearchController() override;
    CNTFSSearchController(const CNTFSSearchController&) = delete;
    CNTFSSearchController& operator=(const CNTFSSearchController&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { Settled().m_treeBuilder = builder; }
    // Copies of the candidates in set order (the caller owns them).
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    void SetDevice(IStorageDevice* device) override;
    void SetBlockSize(int sectors) override;
    int PreparetoSearch() override;
    int EndSearch(int build) override;
    int AnalyzeBlock(i64 firstSector, i64 sectorCount) override;

    // Scores, thresholds and the candidate set, for the tests.
    static i64 CalcFileSystemReliabilityScore(const CSearchedNTFSPartitionInfo& candidate) {
        return ::CalcFileSystemReliabilityScore(candidate);
    }
    CNTFSPartitionInfoBuilder& GetPartitionInfoBuilder() { return Settled().m_partitions; }
    const std::list<CCommonFileRecordPositionInfo>& GetPositions() const { return Settled().m_positions; }
    const CValidFileRecordSectors& GetValidFileRecordSectors() const { return Settled().m_validRecords; }
    const CNTFSPrebuiltRecords& GetPrebuiltRecords() const { return Settled().m_prebuilt; }
    // Off: the tree build reads and checks every record again (the tests compare both ways).
    void SetKeepScanRecords(bool keep) { Settled().m_keepScanRecords = keep; }
    const std::list<CMFTInfo*>& GetMFTInfos() const { return Settled().m_mftInfos; }
    const std::multiset<CIndexRecordInfo>& GetIndexRecords() const { return Settled().m_indexRecords; }
    const CLogFileAnalyzer* GetLogFileAnalyzer() const { return Settled().m_log.get(); }
    const CAttrDefFileAnalyzer* GetAttrDefAnalyzer() const { return Settled().m_attrDef.get(); }
    const CUpCaseFileAnalyzer* GetUpCaseAnalyzer() const { return Settled().m_upCase.get(); }
    // Blocks read and analysed, and blocks whose read failed (not analysed). Like every accessor here,
    // it first waits for the blocks handed to the searcher's thread.
    u64 AnalyzedBlocks() const { return Settled().m_analyzedBlocks; }
    u64 FailedBlocks() const { return Settled().m_failedBlocks; }
    // Blocks analysed where the cache holds them (no copy).
    u64 BlocksAnalysedInPlace() const { return Settled().m_inPlaceBlocks; }

    // The findings in the framed file of saved results (no step of a scan calls them).
    bool SaveMFTInfoContainer(IRSData& data) const;
    bool SaveCommonFileRecordPositionInfo(IRSData& data) const;
    bool RestoreMFTInfoContainer(IRSData& data);
    bool RestoreCommonFileRecordPositionInfo(IRSData& data);

    // The sector analyses, also reachable one by one from the tests (not while blocks are handed over:
    // they run on the searcher's thread then). They only read the sectors given (the cache's block is
    // analysed in place): the record readers undo a protection in copies of their own.
    void AnalyzeSector(const u8* sector, i64 s, i64 available);
    void AnalyzeNTFSDBRSector(const u8* sector, i64 s);
    void AnalyzeIndexRecord(const u8* sector, i64 s, i64 available);
    void AnalyzeNTFSFileRecordSector(const u8* sector, i64 s, i64 available);
    // True for a 512-byte sector that none of AnalyzeSector's tests takes, whatever was held before:
    // no structure's mark, no meta-file template sector. HasNoMark runs the tests one by one;
    // IsQuietSector answers a sector that holds one byte value at every place those tests read (zeroed
    // and filled sectors) from the answer for a sector of that value alone, found once per value.
    static bool HasNoMark(const u8* sector);
    static bool IsQuietSector(const u8* sector);

private:
    // No join and no group of system records is open: a sector that IsQuietSector passes over (nearly
    // every sector of a disk) is then one that AnalyzeSector would leave as it found everything.
    bool MayBeQuiet() const;
    void AnalyzeIndexRecordBuffer(const u8* record, i64 s);
    void LocateIndexRecord(i64 s, i64 vcn, const CFolderIndexAllocationInfo& folder);
    void AnalyzeFileRecord(const u8* buffer, int size, i64 s);
    void AnalyzeFolderFileRecordHavingIndexAllocation(const CNTFSFileRecord& record, i64 s);
    void AddPosition(i64 s, bool mergeable);
    // The block's sectors, read where they lie (inPlace: in the cache) or from our own buffer.
    void AnalyzeBlockAt(const u8* block, i64 first, i64 count, bool inPlace);
    // Waits for the blocks handed to our thread; what they found is then ours to read.
    CNTFSSearchController& Settled() {
        m_beside.Settle();
        return *this;
    }
    const CNTFSSearchController& Settled() const {
        m_beside.Settle();
        return *this;
    }
    void ReleaseAnalyzers();
    void ClearFindings();

    IDirecotryTreeBuilder* m_treeBuilder = nullptr;
    CNTFSJoiningBuffers m_join;
    IStorageDevice* m_device = nullptr;
    // The deep scan's cache, whose current block is analysed where it lies; without it (or when the
    // block is not the cache's current one) the block is read into m_block.
    CStorageDeviceWithCache* m_cache = nullptr;
    int m_iSectorsperBlock = 0;
    u32 m_sectorSize = 512;
    std::vector<u8> m_block;
    std::multiset<CIndexRecordInfo> m_indexRecords;
    CNTFSPartitionInfoBuilder m_partitions;
    // Folders owning an $INDEX_ALLOCATION, by their own record number.
    std::multimap<i64, std::unique_ptr<CFolderIndexAllocationInfo>> m_folders;
    std::list<std::unique_ptr<CMFTMirrInfo>> m_mirrorInfos;
    std::list<CMFTFilesPair> m_pairs;
    std::list<CMFTInfo*> m_mftInfos;  // owned
    std::list<CCommonFileRecordPositionInfo> m_positions;
    // Where valid FILE records were read: the tree build does not check them again.
    CValidFileRecordSectors m_validRecords;
    // What the scan built of those records, taken by the tree build instead of reading them again.
    CNTFSPrebuiltRecords m_prebuilt;
    bool m_keepScanRecords = true;
    std::vector<FindFileMFTAndLogx> m_logReaders;
    std::unique_ptr<CMetaFileRecordGroupinMFTAnalyzer> m_group;
    std::unique_ptr<CAttrDefFileAnalyzer> m_attrDef;
    std::unique_ptr<CUpCaseFileAnalyzer> m_upCase;
    std::unique_ptr<CLogFileAnalyzer> m_log;
    u64 m_indexPairings = 0;
    u64 m_analyzedBlocks = 0;
    u64 m_failedBlocks = 0;
    u64 m_inPlaceBlocks = 0;
    // The thread that analyses the cache's blocks, held, behind the scan. Last: it stops (after its
    // blocks) before anything it reads goes.
    mutable CSerialWorker m_beside{ntfsdeep::kHeldBlocks, ntfsdeep::AnalysisSpin()};
};

ICompleteFileSystemSearchController* CreateNTFSSearcher();
