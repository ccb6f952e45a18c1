// The deep search of HFS+ volumes on a whole device, read once block by block.
//
// Every sector is tested for a volume header, a journal info block, a journal header and a B-tree node.
// Headers and journal structures make partition candidates; the records of catalog leaves become file
// nodes of the candidate that owns them. A candidate behind which an intact volume opens is listed
// whole by the volume's own catalog walk, and the blocks of its live files are marked in the shared
// sector bitmap so that the signature search does not carve them a second time. At the end each
// candidate's start and size are worked out from its header and journal info block.
#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include "engine/Common/ICompleteFileSystemSearchController.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/HFSPlusLib/HFSPlusStructs.h"

class CFileNode;
class CHFSPlusBTNode;
class CHFSPlusVolume;
class CStorageDeviceWithCache;

// One partition candidate: where a volume may lie and what was found of it.
struct CompleteSearchPatition {
    CompleteSearchPatition(i64 start, i64 count, u32 index);
    ~CompleteSearchPatition();
    CompleteSearchPatition(const CompleteSearchPatition&) = delete;
    CompleteSearchPatition& operator=(const CompleteSearchPatition&) = delete;

    i64 startSector;
    i64 sectorCount;
    u32 blockSize = 4096;
    u32 fileCount = 0;
    u32 folderCount = 0;
    std::unique_ptr<HFSPlusVolumeHeader> header;
    i64 headerSector = -1;
    // The header's 512 bytes as met: the volume reads them when its own place holds none (lost).
    std::vector<u8> headerBytes;
    // The catalog's B-tree header node that placed the volume (no journal info block met yet), or -1.
    i64 catalogSector = -1;
    std::unique_ptr<IStorageDevice> partitionDevice;
    std::unique_ptr<CHFSPlusVolume> volume;
    std::unique_ptr<JournalInfoBlock> journalInfo;
    i64 journalInfoSector = -1;
    std::unique_ptr<JournalHeader> journalHeader;
    i64 journalHeaderSector = -1;
    u32 partitionIndex;
    // The disk's own volume records name an HFS+ volume here.
    bool recordedVolume = false;
    // The live files its volume's own catalog walk listed, as RecordKey gives them, sorted: a copy of
    // such a record (same ID, parent and name) met in a journal or a stray leaf is never handed on, so it
    // can never change the walk's node. And the files its leaves outside any journal gave the tree
    // builder: a journal's copy of one of them is older than the record in place.
    std::vector<u64> walkedRecords;
    std::vector<u64> leafRecords;
};

// A catalog record as the tree builder tells copies apart: a hash of its catalog ID and parent ID (their
// low 32 bits, before any stamp) and its name.
u64 RecordKey(i64 id, i64 parentId, const char* name);

// Catalog IDs repeat from volume to volume, and the tree builder links nodes by ID: a node of candidate
// k > 0 carries k in the high 32 bits of its own and its parent's ID (readers take the low 32 bits), and
// the root folder of such a volume (parent 1) hangs below the search's root under its volume name.
void StampPartition(CFileNode& node, u32 index);

// Wraps the search's tree builder for the files of one intact volume: stamps their partition index and
// marks the blocks of live files in the bitmap before passing them on.
class CHFSPlusDirectoryTreeBuilder : public IDirecotryTreeBuilder {
public:
    CHFSPlusDirectoryTreeBuilder(IDirecotryTreeBuilder* inner, u32 sectorsPerBlock, u32 partitionIndex,
                                 u64 partitionStart);
    ~CHFSPlusDirectoryTreeBuilder() override = default;

    int Initialize(const char* deviceName, IDrirectoryTree* tree, IRecoveryFilter* filter) override;
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, i64 rootFolderID) override;
    void FlashBuild(_tagSearcherType type) override;
    void Release() override;
    void SetPartitonDevice(CSearchedPartitionInfo* record, IStorageDevice* device) override;
    void SetBitmap(TBitmap* bitmap) { m_bitmap = bitmap; }
    // Collects the RecordKey of the live nodes passed on (unsorted).
    void SetWalkedRecords(std::vector<u64>* records) { m_walkedRecords = records; }

private:
    IDirecotryTreeBuilder* m_inner;
    TBitmap* m_bitmap = nullptr;
    std::vector<u64>* m_walkedRecords = nullptr;
    u32 m_sectorsPerBlock;
    u32 m_partitionIndex;
    u64 m_partitionStart;
};

class CHFSPlusCompleteFileSystemSearchController : public ICompleteFileSystemSearchController {
public:
    // The largest node the node check tries.
    static constexpr u32 kMaxNodeBytes = 32768;

    CHFSPlusCompleteFileSystemSearchController() = default;
    ~CHFSPlusCompleteFileSystemSearchController() override;
    CHFSPlusCompleteFileSystemSearchController(const CHFSPlusCompleteFileSystemSearchController&) = delete;
    CHFSPlusCompleteFileSystemSearchController& operator=(const CHFSPlusCompleteFileSystemSearchController&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_builder = builder; }
    // Null array: the number of reported candidates. Fewer slots than that: the same number, nothing
    // written. Otherwise one new record per reported candidate (the caller's), and their number.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    void SetDevice(IStorageDevice* device) override;
    void SetBlockSize(int sectors) override { m_blockSize = u32(sectors); }
    int PreparetoSearch() override;
    int EndSearch(int build) override;
    int AnalyzeBlock(i64 firstSector, i64 sectorCount) override;
    void SetIProgressSink(IProgress* progress) override { m_progress = progress; }
    void SetBitmap(TBitmap* bitmap) override { m_bitmap = bitmap; }
    TBitmap* GetBitmap() override { return m_bitmap; }
    bool SetActivePartition(bool active) override {
        m_knownVolumes = active ? 1 : 0;
        return active;
    }

    // The checks of one sector, each usable alone (tests drive them on a device in memory).
    int CheckVolumeHeader(i64 sector);
    int CheckJournalInfoBlock(i64 sector);
    int CheckJournalHeader(i64 sector);
    // Sectors the node at `sector` takes (at most `remaining`); 0 when none starts there.
    i64 CheckNode(i64 sector, i64 remaining);

    const std::vector<std::unique_ptr<CompleteSearchPatition>>& Candidates() const { return m_candidates; }
    u64 GetStatus() const { return m_status; }
    // 1024 bytes over the sector size: where a volume's header lies after its start, in sectors.
    i64 HeaderOffset() const { return m_sectorSize ? i64(1024 / m_sectorSize) : 0; }

    // At most this many B-tree header nodes are remembered (the most recent ones), and at most this
    // many catalog leaves that no candidate owned when they were met.
    static constexpr size_t kMaxTreeHeaders = 4096;
    static constexpr size_t kMaxUnownedLeaves = size_t{1} << 20;
    // Blocks after a rebuilt volume's header tried as the start of its allocation file.
    static constexpr u32 kAllocationFileTries = 64;

    // The checks that may hit on a sector, as MayHoldStructure answers.
    enum : u32 { kMayHeader = 1, kMayJournalInfo = 2, kMayJournalHeader = 4, kMayNode = 8 };
    // The quick refusal run on every sector before any structure is examined: the checks that can hit
    // on these bytes, 0 when none can (the sector is refused). Three byte tests, looser than the checks
    // they stand for: the first byte of a header slice's signature or of the journal magic, a leaf's or
    // header node's kind, and the journal info block's fill in the last byte. Null bytes: 0; sectors
    // under 512 bytes: every check.
    static u32 MayHoldStructure(const u8* bytes, u32 sectorSize);
    // How many sectors in a row from `bytes` on (at most count) the quick refusal refuses: the block's
    // sweep over sectors read in place.
    static i64 RefusedSectors(const u8* bytes, i64 count, u32 sectorSize);

private:
    // The same on the sector's bytes as viewed (null: no hit).
    int CheckVolumeHeader(i64 sector, const u8* bytes);
    int CheckJournalInfoBlock(i64 sector, const u8* bytes);
    int CheckJournalHeader(i64 sector, const u8* bytes);
    // inPlace: sectors readable from `first` on (0: unknown, the cache is asked).
    i64 CheckNode(i64 sector, i64 remaining, const u8* first, i64 inPlace = 0);

    // A B-tree header node met by the scan: where, and the geometry of its tree.
    struct TreeHeader {
        i64 sector;
        u32 nodeSize;
        u32 totalNodes;
        u16 maxKeyLength;
        u8 keyCompareType;
    };
    struct Leaf {
        i64 sector;
        u32 nodeSize;
    };

    CompleteSearchPatition* AddCandidate(i64 start, i64 count);
    void RegisterHeader(std::unique_ptr<HFSPlusVolumeHeader> header, i64 sector, const u8* bytes);
    // Sector bytes: in place from the cache's current block when they lie in it, else read into the
    // scratch buffer; count sectors past the device end read as zeros. Null when the read fails.
    const u8* View(i64 sector, i64 count);
    // How a leaf is read: as the scan meets it (a leaf inside a journal is kept for the end), again at
    // the end once headers may place it, or as a journal's copy (after every leaf in place).
    enum class LeafPass { Scan, Again, Journal };
    // Turns the catalog records of a leaf (bytes that passed IsValidNode) into nodes of their owners
    // (of `owner` when given, opened on first use); a leaf some of whose records no candidate owned is
    // remembered.
    void AnalyseNode(i64 sector, const u8* bytes, u32 nodeSize, CompleteSearchPatition* owner = nullptr,
                     LeafPass pass = LeafPass::Scan);
    // The record loop of AnalyseNode, apart: most leaves a scan meets are only remembered.
    [[gnu::noinline]] void TakeLeafRecords(CHFSPlusBTNode& node, i64 sector, u32 nodeSize,
                                           CompleteSearchPatition* given, LeafPass pass);
    // Whether a sector lies in the extent of a journal met (its header and the size it gives).
    bool InJournal(i64 sector) const;
    // The leaves kept for the end, read there: those met before any header could own them, then the
    // journals' copies (a record in place has already been handed when its copy comes).
    void ReadKeptLeaves();
    // Reads these leaves (copied: the volume may read while they are analysed), those outside any
    // journal first.
    void ReadLeaves(const std::vector<Leaf>& leaves, CompleteSearchPatition* owner);
    // A volume lost with every copy of its header, met by its journal info block and journal header:
    // its start is the journal header's sector less the journal's offset; its B-tree files are the
    // tree header nodes met after that start; the leaves no candidate owned there become its files.
    void RecoverHeaderlessVolumes();
    bool RecoverHeaderless(CompleteSearchPatition& holder);
    // Blocks of a volume, from `first` on.
    struct BlockRun {
        u32 first;
        u32 count;
    };
    // The blocks of a volume at `start` (at most `limit`) as its allocation file counts them: the file is
    // looked for between the volume's header and the first of the `used` runs, as a bitmap in which the
    // header's blocks, its own first block and every used run are marked. Formatters mark the volume's
    // last block (it holds the alternate header), so the last bit set ends the volume. 0: not found.
    u32 BlocksInAllocationFile(i64 start, u32 blockSize, u32 limit, const std::vector<BlockRun>& used);
    // The block after the last one the file records of the catalog leaves remembered in [from, to)
    // give their extents (in the volume's blocks, whatever their size), or 0.
    u64 FilesEndBlock(i64 from, i64 to);
    // The first tree header node of that largest key length in [from, to), outside [skipFrom, skipTo).
    const TreeHeader* TreeHeaderIn(u16 maxKeyLength, i64 from, i64 to, i64 skipFrom, i64 skipTo) const;
    // placedOnly: only a candidate whose volume, as its header places it, holds the sector (a leaf read
    // at the end, met before that header).
    CompleteSearchPatition* OwnerOf(const HFSPlusCatalogRecord& record, i64 sector, bool placedOnly = false);
    // Whether the volume of a candidate's header holds the sector: placed by its journal info block, else
    // by the catalog header node met before the sector when the header lies at that volume's start or
    // end (its own place or the alternate's), else by the header at its own place.
    bool PlacesSector(const CompleteSearchPatition& candidate, i64 sector) const;
    // The candidate a journal structure at sector belongs to: the last one starting at or before it.
    CompleteSearchPatition& CandidateAt(i64 sector);
    // The start its journal info block gives a candidate with a header, or -1.
    i64 JournalStart(const CompleteSearchPatition& candidate) const;
    // The sector of the catalog header node met before the leaf at leafSector that places the
    // candidate's catalog (same geometry as its header's catalog fork, the leaf inside that fork's
    // extents counted from there), or -1.
    i64 CatalogHeaderFor(const CompleteSearchPatition& candidate, i64 leafSector) const;
    // Where the candidate's volume lies: its journal info block's start, else its catalog header
    // node's, else its header's, else -1.
    i64 PlacedStart(const CompleteSearchPatition& candidate) const;
    bool OpenCandidate(CompleteSearchPatition& candidate, size_t index, i64 leafSector);
    void SearchVolumeWhole(CompleteSearchPatition& candidate, u32 index, u64 start, bool ownBitmap);
    // Remembers the device sectors of the catalog leaves (node numbers) a whole search listed.
    void RememberListedLeaves(const CHFSPlusVolume& volume, u64 start, const std::vector<u32>& leaves);
    // Whether a leaf starting at this sector was listed whole by its volume's catalog walk: its records
    // are that volume's live files, already given to the tree builder.
    bool IsListedLeaf(i64 sector) const {
        return std::binary_search(m_listedLeaves.begin(), m_listedLeaves.end(), sector);
    }
    bool IsReported(const CompleteSearchPatition& candidate) const;

    IStorageDevice* m_device = nullptr;
    CStorageDeviceWithCache* m_cache = nullptr;
    IDirecotryTreeBuilder* m_builder = nullptr;
    u32 m_blockSize = 0;
    u32 m_sectorSize = 512;
    i64 m_totalSectors = 0;
    std::vector<std::unique_ptr<CompleteSearchPatition>> m_candidates;
    std::vector<u8> m_scratch;
    u64 m_status = 0;
    IProgress* m_progress = nullptr;
    TBitmap* m_bitmap = nullptr;
    u32 m_knownVolumes = 0;
    u32 m_deviceKind = 0;
    std::vector<CCollectedVolumeDeviceInfoStruct> m_volumeRecords;
    std::vector<TreeHeader> m_treeHeaders;
    std::vector<Leaf> m_unownedLeaves;
    std::vector<Leaf> m_journalLeaves;
    // Sorted.
    std::vector<i64> m_listedLeaves;
};

ICompleteFileSystemSearchController* CreateHFSPlusSearcher();
