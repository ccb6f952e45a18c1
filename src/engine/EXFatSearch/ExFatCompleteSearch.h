// The deep exFAT search (searcher type 33): handed every block of a device, it decides for each sector
// whether it starts an up-case table, is a boot sector, starts a FAT or holds folder entries, and passes
// that evidence to the partition builder. At the end it lets the builder choose the lost volumes, loads
// each one's FAT and gives the tree builder a node for every file (deleted ones included) it found.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/Common/ICompleteFileSystemSearchController.h"
#include "engine/EXFatSearch/ExFatLayout.h"
#include "engine/EXFatSearch/ExFatPartitionEx.h"
#include "engine/EXFatSearch/FDTPreAnalyze.h"
#include "engine/EXFatSearch/PartitionBuilder.h"

class CExFatFileNode;
class CSearchedPartitionInfo;
class CStorageDeviceWithCache;
class IDirecotryTreeBuilder;
class IStorageDevice;

namespace exfatdeep {
// Sectors carried from the end of one block to the front of the next: entry sets are read past the end
// of the sector they start in.
inline constexpr i64 kCarriedSectors = 2;
// The deep search knows no cluster size yet: the pre-analyser bounds sets by the largest one (32 MiB).
inline constexpr u32 kDeepClusterShift = 25;
// Folders longer than this own no clusters in the parent search.
inline constexpr i64 kMaxFolderBytes = 0xFFFFFFF;
// What a sector's first bytes make of it.
enum class SectorKind { UpCase, Zero, Boot, Fat, Entries };
// Classifies one sector by its first bytes (the view starts at the sector and holds at least its
// sectorSize bytes): an up-case table's start (u16 0, 1, ..., 7), another sector starting with 0, a valid
// boot sector for that sector size, the two reserved entries that begin a FAT, or possible entries.
SectorKind ClassifySector(ByteReader sector, u32 sectorSize);
// The first eight bytes of a FAT (its two reserved entries, F8 FF FF FF FF FF FF FF) and of an up-case
// table (0, 1, 2, 3 as u16).
inline constexpr u64 kFatHead = 0xFFFFFFFFFFFFFFF8ull;
inline constexpr u64 kUpCaseHead = 0x0003000200010000ull;
// False only for a sector that classifies as Zero, or as Entries whose first entry the pre-analyser
// refuses (CFDTPreAnaylze::MayOpenSector): judged from its first eleven bytes, which must be there (the
// first eight, and the boot sector's name behind them).
[[gnu::always_inline]] inline bool MayGiveEvidence(const u8* sector) {
    const ByteReader head(sector, exfat::boot::kFileSystemName + sizeof(exfat::boot::kName) - 1);
    const u64 first = head.Le64(0).value_or(0);
    if (static_cast<u8>(first) == 0) return first == kUpCaseHead;
    return first == kFatHead || head.Equals(exfat::boot::kFileSystemName, exfat::boot::kName) ||
           CFDTPreAnaylze::MayOpenSector(first);
}
}  // namespace exfatdeep

class CExFatCompleteSearch : public ICompleteFileSystemSearchController {
public:
    using Chosen = std::list<std::unique_ptr<CExFatPartitionEx>>;

    CExFatCompleteSearch();
    ~CExFatCompleteSearch() override;
    CExFatCompleteSearch(const CExFatCompleteSearch&) = delete;
    CExFatCompleteSearch& operator=(const CExFatCompleteSearch&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_tree = builder; }
    // The number of chosen partitions; with room for all of them (count not 0) slot i receives a new
    // record of partition i, owned by the caller. A smaller count fills nothing.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    void SetDevice(IStorageDevice* device) override;
    void SetBlockSize(int sectors) override { m_blockSectors = sectors > 0 ? sectors : 0; }
    // Starts a new search from clean state: the chosen partitions, their records, the builder and the
    // pre-analyser (with its process-wide record) are emptied; the first block prepares the rest.
    int PreparetoSearch() override;
    // 0 builds nothing. Otherwise, once per search, the partitions are chosen and their nodes handed over.
    int EndSearch(int build) override;
    // Reads and analyses one block; 0 when the searcher is not set up or the read fails, else 1.
    int AnalyzeBlock(i64 firstSector, i64 sectorCount) override;

    // One sector, with the bytes behind it in memory (the pre-analyser reads entry sets past its end).
    void AnalyzeSector(i64 sector, ByteReader window);

    // Builds the nodes of one chosen partition (its FAT loaded or not) with that parent search; they
    // are appended to nodes, owned by the caller until handed over. Empty files take virtual IDs from the
    // partition's counter.
    void BuildFileTree(CExFatPartitionEx& partition, std::vector<CExFatFileNode*>& nodes);

    // What the search holds (tests and the benchmark).
    CFDTPreAnaylze& PreAnalyzer() { return m_pre; }
    CPartitionBuilder& Builder() { return m_builder; }
    const Chosen& ChosenPartitions() const { return m_chosen; }
    size_t BootSectors() const { return m_bootSectors; }
    size_t FatSectors() const { return m_fatSectors; }
    size_t UpCaseSectors() const { return m_upcaseSectors; }
    // Seconds spent in the end step (choice, FAT loads, trees), and in the blocks' analysis.
    double EndSeconds() const { return m_endSeconds; }
    double BlockSeconds() const { return m_blockSeconds; }

private:
    bool Prepare();
    int AnalyzeBlockIn(i64 firstSector, i64 sectorCount);
    // The end of the run of sectors from `from` (before `end`) that the quick test passes over without
    // analysis in the pre-analyser's present state; `from` when that sector must be analysed.
    i64 QuietRunEnd(const u8* block, i64 from, i64 end, size_t blockBytes) const;
    void BuildNodes();
    // The nodes of one file list with that parent; folders of at most kMaxFolderBytes remember their
    // clusters for the parent search.
    void MakeNodes(CExFatPartitionEx& partition, const CFileSet& set, const std::vector<CExFatSetFile>& files,
                   i64 parent, std::vector<CExFatFileNode*>& nodes);
    void MakeNodesOfSet(CExFatPartitionEx& partition, const CFileSet& set, i64 parent,
                        std::vector<CExFatFileNode*>& nodes);
    // The folder one of whose clusters holds sector, or -1.
    i64 FolderOwning(i64 sector) const;

    IStorageDevice* m_device = nullptr;
    // The device as the deep scan's read-ahead cache, when it is one: blocks are then read in place.
    CStorageDeviceWithCache* m_cache = nullptr;
    IDirecotryTreeBuilder* m_tree = nullptr;
    i64 m_blockSectors = 0;
    bool m_prepared = false;
    bool m_ended = false;
    u32 m_sectorSize = 512;
    i64 m_totalSectors = 0;
    std::vector<u8> m_buffer;  // a block read out of the device when it cannot be read in place
    // The two sectors carried from the previous block, then the first two of the block in hand.
    std::vector<u8> m_edge;
    // The sector number of the first carried sector, or -1 when the carried bytes are not the sectors
    // just before the next block (none yet, a failed read, a gap).
    i64 m_carriedFrom = -1;
    CFDTPreAnaylze m_pre;
    CPartitionBuilder m_builder;
    Chosen m_chosen;
    std::vector<CSearchedPartitionInfo*> m_records;  // owned
    size_t m_bootSectors = 0;
    size_t m_fatSectors = 0;
    size_t m_upcaseSectors = 0;
    double m_endSeconds = 0;
    double m_blockSeconds = 0;
    // Parent search of one partition's tree: first sector of a folder cluster -> (end sector, folder ID).
    std::map<i64, std::pair<i64, i64>> m_folderClusters;
};

ICompleteFileSystemSearchController* CreateEXFatSearcher();
