// The deep FAT search (searcher type 32): handed every block of a device, it looks at each sector once
// for FAT16 and FAT32 boot sectors, first sectors of tables and sectors of folder entries, infers the lost
// volumes from them (FATPartitionInference.cpp) and, at the end of the scan, keeps the convincing ones and
// rebuilds their trees. FAT12 volumes are never found.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/Common/ICompleteFileSystemSearchController.h"
#include "engine/FATLib/FATDirEntry.h"
#include "engine/FATLib/FATLayout.h"
#include "engine/FATLib/FATTypes.h"
#include "engine/FATSearch/FATBuildChildren.h"
#include "engine/FATSearch/FATBuildWorker.h"

class CFATSearchedPartitionInfo;
class CStorageDeviceWithCache;
class CTempFATDBR;
class IDirecotryTreeBuilder;
class IStorageDevice;

namespace fatdeep {
// Candidate flags beyond the boot and table bits of fatflags: made or confirmed from a sub-folder.
inline constexpr u32 kFromSubFolder = 0x10;
// Any boot-sector flag.
inline constexpr u32 kBootFlags = 0x0F;
// The FAT32 backup boot sector lies this many sectors after the volume's first.
inline constexpr i64 kBackupBootDistance = 6;
// Cluster sizes tried for a sub-folder, in this order.
inline constexpr u32 kSectorsPerCluster[] = {1, 2, 4, 8, 16, 32, 64, 128};
// Cluster counts of the data area that each type allows: [from, below).
inline constexpr u64 kFat16Clusters[2] = {4085, 65524};
inline constexpr u64 kFat32Clusters[2] = {65524, 0x0FFFFFF4};
// A FAT16 root guessed for a volume known only from sub-folders: 512 entries of 32 bytes.
inline constexpr u32 kGuessedRootBytes = 16384;
// A found partition for which no table can be made gets no tree.
inline constexpr u64 kNoTable = 0x10a039000000007ULL;

// The first word of a FAT16 or FAT32 table's first sector has these bits set.
inline constexpr u32 kTableMediaBits = 0x00FFFFF0;
// A refusal on the first bytes of a sector (at least 512 of them): false only where the boot-sector,
// table and folder tests would all refuse it too. Inline: the deep search asks it of every sector.
[[gnu::always_inline]] inline bool MayHoldStructure(const u8* sector) {
    using namespace fat_dir_entry_layout;
    const ByteReader head(sector, fat_boot_layout::kSize);
    const u32 word0 = head.Le32(0).value_or(0);
    // A boot sector: a jump byte that is not 0 and the signature at the end of the first 512 bytes.
    if ((word0 & 0xFF) != 0 && head.Le16(fat_boot_layout::kSignature) == 0xAA55) return true;
    // The first sector of a FAT16 or FAT32 table: both media words have bits 4 to 23 set.
    if ((word0 & kTableMediaBits) == kTableMediaBits) return true;
    // A folder sector: its first entry is a valid one, and its second one too or blank (the end of the
    // folder). A long-name piece is valid; any other valid entry has an attribute byte without either of
    // the two top bits (a blank one too), a name that starts with a character a short name may start
    // with (unless it is a volume label) and dates and times that may be.
    const u8 second = head.U8(kSize + kAttribute).value_or(0xFF);
    if ((second & 0xC0) != 0) return false;
    const u8 attribute = head.U8(kAttribute).value_or(0xFF);
    if (attribute == fat::kLongNameAttribute) return true;
    if ((attribute & 0xC0) != 0) return false;
    const u8 first = static_cast<u8>(word0 & 0xFF);
    if ((attribute & 0x08) == 0 && (first < fat::kLowestNameByte || first == ' ')) return false;
    const u32 created = head.Le32(kCreationTime).value_or(0xFFFFFFFF);  // time, then date
    const u32 modified = head.Le32(kModificationTime).value_or(0xFFFFFFFF);
    return fat::IsPlausibleDosTime(static_cast<u16>(created)) &&
           fat::IsPlausibleDosDate(static_cast<u16>(created >> 16)) &&
           fat::IsPlausibleDosTime(static_cast<u16>(modified)) &&
           fat::IsPlausibleDosDate(static_cast<u16>(modified >> 16)) &&
           fat::IsPlausibleDosDate(head.Le16(kAccessDate).value_or(0xFFFF));
}

// Sectors of a table for `clusters` clusters: ceil(clusters x half-bytes per entry / (2 x sector size)).
u64 TableSectors(u64 clusters, u32 type, u32 sectorSize);
}  // namespace fatdeep

class CFATCompleteFSearcher : public ICompleteFileSystemSearchController {
public:
    using PartitionList = std::vector<std::unique_ptr<CFATSearchedPartitionInfo>>;
    // Candidates by data-area start; equal starts keep the order they were added in.
    using CandidateSet = std::multimap<i64, std::unique_ptr<CFATSearchedPartitionInfo>>;
    // Where a candidate expects the first sector of one of its tables.
    using ExpectedTableSet = std::multimap<i64, CFATSearchedPartitionInfo*>;

    CFATCompleteFSearcher();
    ~CFATCompleteFSearcher() override;
    CFATCompleteFSearcher(const CFATCompleteFSearcher&) = delete;
    CFATCompleteFSearcher& operator=(const CFATCompleteFSearcher&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_builder = builder; }
    // Null array: the count. Room for all: copies of the found partitions (with their scores), owned by
    // the caller. Less room: 0, nothing stored.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    // Also takes the device's sector size; sizes the readers cannot hold (above 4096 bytes, or not a
    // multiple of 512) turn the search off.
    void SetDevice(IStorageDevice* device) override;
    void SetBlockSize(int sectors) override { m_sectorsPerBlock = sectors; }
    // Starts a new search: evidence, found partitions and the search's counters are emptied.
    int PreparetoSearch() override;
    // build 0: nothing (the candidates stay). Else the found partitions are chosen and their trees built.
    int EndSearch(int build) override;
    // Looks at the sectors firstSector .. firstSector + sectorCount - 1 (those on the device). 1.
    int AnalyzeBlock(i64 firstSector, i64 sectorCount) override;
    void SetFileSectorMap(FileSectorMap* map) override { m_fileSectorMap = map; }

    // Turns the candidates into found partitions appended to list (scored and numbered), destroys the
    // others and empties the candidate and expected-table sets. The number appended.
    int AddSearchedPartitionInfoList2(PartitionList& list);
    // Builds the tree of one found partition: 0, or kNoTable when no table can be made for it.
    u64 CompleteBulidDirectoryTree(CFATSearchedPartitionInfo* partition);

    // Evidence (FATPartitionInference.cpp).
    // A boot sector at sector: 1 when it made a candidate (or confirmed one as its backup).
    int AnalyzeFATDBRSector(i64 sector, const u8* buffer);
    CFATSearchedPartitionInfo* BuildPartitionInfoAccordingFATDBR(i64 sector, const CTempFATDBR& bootSector,
                                                                 bool asBackup) const;
    // The first sector of a table was seen at sector.
    void UpdateFATTableInfo(i64 sector);
    // A sub-folder whose "." entry names cluster starts at sector. 1.
    int AnalyzeFATSubFolderFirstSector(i64 sector, u32 cluster);
    // The first candidate (in set order) with this data-area start and cluster size, or none.
    CFATSearchedPartitionInfo* FindMatchedPartitionInfo(i64 dataStart, u32 sectorsPerCluster) const;
    CFATSearchedPartitionInfo* BuildPartitionInfoAccordingtoSubFolder(i64 sector, u32 cluster,
                                                                      u32 sectorsPerCluster) const;
    // FAT32 when that layout fits, else FAT16, else unknown (10); the clusters and table sectors of it.
    u32 CalcFileSystemType(i64 dataStart, u32 sectorsPerCluster, u64& clusters, u64& sectorsPerTable) const;
    bool IsValidFileSystem(i64 dataStart, u32 sectorsPerCluster, u32 type, u64& clusters,
                           u64& sectorsPerTable) const;

    // What the search holds (tests and the benchmark).
    const CandidateSet& Candidates() const { return m_candidates; }
    const ExpectedTableSet& ExpectedTables() const { return m_expectedTables; }
    const std::vector<FIRSTFOLDERSECTOR>& FolderSectors() const { return m_folderSectors; }
    const PartitionList& FoundPartitions() const { return m_found; }
    // The largest number of candidates held at once during the search.
    size_t PeakCandidateCount() const { return m_peakCandidates; }
    const FATSearchState& State() const { return m_state; }
    IStorageDevice* Device() const { return m_device; }

private:
    void AddCandidate(std::unique_ptr<CFATSearchedPartitionInfo> candidate, bool expectTables);
    void AddFolderSector(const FIRSTFOLDERSECTOR& record);
    i64 DeviceSectors() const;
    // A sector's bytes: in place where the cache holds it, else read into m_sector; null when unreadable.
    const u8* SectorBytes(i64 sector);
    // The boot-sector, table and folder tests of a sector that passed the refusal.
    void AnalyzeSector(i64 sector, const u8* bytes, CFATFolderAnalyser& folders);

    int m_sectorsPerBlock = -1;
    IStorageDevice* m_device = nullptr;
    CStorageDeviceWithCache* m_cache = nullptr;  // the device when it is the deep scan's read-ahead cache
    IDirecotryTreeBuilder* m_builder = nullptr;
    PartitionList m_found;
    CandidateSet m_candidates;
    ExpectedTableSet m_expectedTables;
    std::vector<FIRSTFOLDERSECTOR> m_folderSectors;
    size_t m_peakCandidates = 0;
    u32 m_sectorSize = 512;
    bool m_refused = false;
    FileSectorMap* m_fileSectorMap = nullptr;
    // The sector being looked at, and what the tree builds carry through one search. Each searcher has
    // its own, so two deep searches share nothing.
    std::vector<u8> m_sector;
    FATSearchState m_state;
};

ICompleteFileSystemSearchController* CreateFATSearcher();
