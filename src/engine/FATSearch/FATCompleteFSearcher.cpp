#include "engine/FATSearch/FATCompleteFSearcher.h"

#include <algorithm>
#include <new>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/ResultCode.h"
#include "engine/FATLib/FATBootSector.h"
#include "engine/FATLib/FATDirEntry.h"
#include "engine/FATLib/FATTable.h"
#include "engine/FATSearch/FATSearchedPartitionInfo.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"

CFATCompleteFSearcher::CFATCompleteFSearcher() : m_sector(fat::kMaxSectorSize, 0) {}

CFATCompleteFSearcher::~CFATCompleteFSearcher() = default;

int CFATCompleteFSearcher::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    std::vector<CFATSearchedPartitionInfo*> records;
    records.reserve(m_found.size());
    for (const auto& record : m_found) records.push_back(record.get());
    return CopySearchedPartitionInfo(records, out, capacity);
}

void CFATCompleteFSearcher::SetDevice(IStorageDevice* device) {
    m_device = device;
    m_cache = dynamic_cast<CStorageDeviceWithCache*>(device);
    m_sectorSize = device != nullptr ? device->GetSectorSize() : 512;
    // Every sector is read into a buffer of 4096 bytes: larger sectors are refused before any is read.
    m_refused = device != nullptr && !fat::IsSupportedSectorSize(m_sectorSize);
}

i64 CFATCompleteFSearcher::DeviceSectors() const {
    return m_device != nullptr ? std::max<i64>(m_device->GetTotalSectors(), 0) : 0;
}

int CFATCompleteFSearcher::PreparetoSearch() {
    m_found.clear();
    m_candidates.clear();
    m_expectedTables.clear();
    m_folderSectors.clear();
    m_peakCandidates = 0;
    m_state.Reset();
    return 1;
}

void CFATCompleteFSearcher::AddFolderSector(const FIRSTFOLDERSECTOR& record) {
    // Sectors come in ascending order through a scan; anything else still lands in its place, once.
    if (m_folderSectors.empty() || m_folderSectors.back().sector < record.sector) {
        m_folderSectors.push_back(record);
        return;
    }
    const auto at = std::lower_bound(m_folderSectors.begin(), m_folderSectors.end(), record, FIRSTFOLDERSECTORLESS{});
    if (at != m_folderSectors.end() && at->sector == record.sector) return;
    m_folderSectors.insert(at, record);
}

const u8* CFATCompleteFSearcher::SectorBytes(i64 sector) {
    if (m_cache != nullptr) {
        if (const u8* inPlace = m_cache->CurrentBlockSectors(sector, 1)) return inPlace;
    }
    return m_device->ReadSector(m_sector.data(), sector, 1) != 0 ? m_sector.data() : nullptr;
}

int CFATCompleteFSearcher::AnalyzeBlock(i64 firstSector, i64 sectorCount) {
    if (m_device == nullptr || m_refused || m_sectorsPerBlock <= 0 || firstSector < 0 || sectorCount <= 0) return 1;
    const i64 total = DeviceSectors();
    if (firstSector >= total) return 1;
    const i64 end = firstSector + std::min(sectorCount, total - firstSector);
    // The block is normally the cache's current one: its sectors are looked at in place. Otherwise (another
    // device, or a block the cache does not hold whole) each sector is taken on its own.
    const u8* block = m_cache != nullptr ? m_cache->CurrentBlockSectors(firstSector, end - firstSector) : nullptr;
    CFATFolderAnalyser folders(m_sectorSize);
    for (i64 s = firstSector; s < end; ++s) {
        const u8* sector =
            block != nullptr ? block + static_cast<size_t>(s - firstSector) * m_sectorSize : SectorBytes(s);
        // Most sectors of a disk fail all three tests on their first bytes: they are refused here.
        if (sector == nullptr || !fatdeep::MayHoldStructure(sector)) continue;
        AnalyzeSector(s, sector, folders);
    }
    return 1;
}

void CFATCompleteFSearcher::AnalyzeSector(i64 sector, const u8* bytes, CFATFolderAnalyser& folders) {
    // Boot sector, table, folder: the first test that claims the sector ends its analysis.
    if (CTempFATDBR::SimpleCheck(bytes) && AnalyzeFATDBRSector(sector, bytes) == 1) return;
    u32 tableType = 0;
    if (CFATTableAnalyser::IsValidFATTableFirstSector(bytes, m_sectorSize, tableType)) {
        UpdateFATTableInfo(sector);
        return;
    }
    switch (folders.AnalyseSector(bytes)) {
        case CFATFolderAnalyser::kDirectoryStart:
            AnalyzeFATSubFolderFirstSector(sector, folders.CurrentDirCluster());
            AddFolderSector({sector, folders.CurrentDirCluster(), folders.ParentDirCluster()});
            break;
        case CFATFolderAnalyser::kEntries:
            AddFolderSector({sector, FIRSTFOLDERSECTOR::kUnknownCluster, FIRSTFOLDERSECTOR::kUnknownCluster});
            break;
        default:
            break;
    }
}

int CFATCompleteFSearcher::EndSearch(int build) {
    if (build == 0) return 1;
    AddSearchedPartitionInfoList2(m_found);
    if (m_found.empty()) return 1;
    if (m_builder != nullptr) m_builder->AddSearcherInfo(SEARCHER_FAT, 0);
    for (const auto& partition : m_found) CompleteBulidDirectoryTree(partition.get());
    if (m_builder != nullptr) {
        m_builder->SetPartitonDevice(nullptr, m_device);
        m_builder->FlashBuild(SEARCHER_FAT);
    }
    return 1;
}

u64 CFATCompleteFSearcher::CompleteBulidDirectoryTree(CFATSearchedPartitionInfo* partition) {
    const u32 type = partition != nullptr ? partition->m_fileSystemType : FILE_SYSTEM_UNKNOWN;
    // Only FAT16 and FAT32 tables exist here; a record of any other kind has none to make.
    if (m_device == nullptr || (type != FILE_SYSTEM_FAT16 && type != FILE_SYSTEM_FAT32)) return fatdeep::kNoTable;
    const u32 flags = partition->GetFlag();
    const i64 start = partition->m_partitionStartSector;
    const u64 reserved = partition->GetReservedSector();
    CDoubleFATTable* table =
        IFATTableFactory::CreateFATTable(m_device, start + static_cast<i64>(reserved), type,
                                         partition->GetSectorPerFAT(), (flags & fatflags::kFirstTableB) != 0,
                                         (flags & fatflags::kSecondTableB) != 0);
    if (table == nullptr) return fatdeep::kNoTable;

    FATWorkerGeometry geometry;
    geometry.type = type;
    geometry.start = static_cast<u64>(start);
    geometry.sectorsPerCluster = partition->m_sectorsPerCluster;
    geometry.dataStart = static_cast<u64>(partition->m_cluster0Sector);
    geometry.totalSectors = static_cast<u64>(partition->GetTotalSectors());
    if ((flags & fatdeep::kBootFlags) != 0) {
        geometry.rootFlag = 1;
        if (type == FILE_SYSTEM_FAT16) {
            geometry.rootStart = static_cast<u64>(start) + reserved + 2 * u64{partition->GetSectorPerFAT()};
            geometry.rootSectors = partition->GetRootInfo();
        } else {
            geometry.rootCluster = partition->GetRootInfo();
        }
    } else {
        geometry.rootFlag = 0;
        geometry.rootStart = 0xFFFFFFFF;
    }
    {
        CFATBuildWorker worker(m_builder, nullptr, partition, m_device, geometry, table, &m_state);
        worker.SetFileSectorMap(m_fileSectorMap);
        worker.CompleteBuildDirectoryTree(m_folderSectors);
    }
    IFATTableFactory::DestroyFATTable(table);
    return 0;
}

ICompleteFileSystemSearchController* CreateFATSearcher() {
    return new (std::nothrow) CFATCompleteFSearcher();
}
