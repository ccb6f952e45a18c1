#include "engine/FATSearch/FATQuickSearcher.h"

#include <algorithm>
#include <new>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/Common/ResultCode.h"
#include "engine/FATLib/FATBootSector.h"
#include "engine/FATLib/FATLayout.h"
#include "engine/FATLib/FATTable.h"
#include "engine/FATSearch/FATBuildWorker.h"
#include "engine/FATSearch/FATSearchedPartitionInfo.h"
#include "engine/FATSearch/FATVolumeType.h"
#include "engine/StorageDevice/IStorageDevice.h"

namespace {

constexpr u64 Code(u16 site, u32 kind) {
    return result::Make(result::kModuleFATSearch, site, kind);
}

}  // namespace

CFATQuickSearcher::~CFATQuickSearcher() {
    for (CFATSearchedPartitionInfo* record : m_partitions) DestroyFATSearchedPartitionInfo(record);
}

int CFATQuickSearcher::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    return CopySearchedPartitionInfo(m_partitions, out, capacity);
}

u64 CFATQuickSearcher::QuickSearchFiles(IStorageDevice* volume, IProgress* progress) {
    if (volume == nullptr || progress == nullptr) return Code(0x004e, 5);
    if (m_builder == nullptr) return Code(0x0053, 7);
    m_device = volume;
    m_progress = progress;
    u32 type = FILE_SYSTEM_UNKNOWN;
    u64 outcome = fat::RecordedFileSystemType(volume, type);
    if (outcome == 0) {
        outcome = (type == FILE_SYSTEM_FAT16 || type == FILE_SYSTEM_FAT32) ? Search(type) : Code(0x0061, 0xc);
    }
    _PROGRESS_INFO last = MakeProgressInfo(PROGRESS_FINISHED, 100, 100, 0);
    progress->UpdateProgress(&last);
    return outcome;
}

u64 CFATQuickSearcher::SearchFATVolume(IStorageDevice* volume, IProgress* progress, u32 type) {
    m_device = volume;
    m_progress = progress;
    if (volume == nullptr) return Code(0x004e, 5);
    if (type != FILE_SYSTEM_FAT16 && type != FILE_SYSTEM_FAT32) return Code(0x0061, 0xc);
    return Search(type);
}

bool CFATQuickSearcher::IsFullValidDBR(const u8* sector, u64 start, IStorageDevice* device) {
    if (sector == nullptr || device == nullptr) return false;
    const u32 sectorSize = device->GetSectorSize();
    CTempFATDBR dbr(sector, sectorSize);
    if (dbr.GetFileSystemType() != FILE_SYSTEM_FAT16 && dbr.GetFileSystemType() != FILE_SYSTEM_FAT32) return false;
    const u64 first = start + dbr.GetReservedSector();
    const u64 second = first + dbr.GetSectorsPerFat();
    if (u64{dbr.GetSectorsPerFat()} * dbr.GetNumberOfFat() > dbr.GetTotalSectors()) return false;
    u8 buffer[fat::kMaxSectorSize];
    for (u64 at : {first, second}) {
        std::fill(buffer, buffer + sizeof(buffer), 0);
        if (at >= static_cast<u64>(device->GetTotalSectors())) continue;
        if (device->ReadSector(buffer, static_cast<i64>(at), 1) == 0) continue;
        u32 tableType = 0;
        if (CFATTableAnalyser::IsValidFATTableFirstSector(buffer, sectorSize, tableType)) return true;
    }
    return false;
}

u64 CFATQuickSearcher::Search(u32 type) {
    IStorageDevice* device = m_device;
    const u32 s = device->GetSectorSize();
    m_state.Reset();
    CFATSearchedPartitionInfo* record = nullptr;
    CDoubleFATTable* table = nullptr;
    u64 outcome = 0;
    const u32 flags = type == FILE_SYSTEM_FAT16 ? fatflags::kQuickFat16 : fatflags::kQuickFat32;
    std::vector<u8> sector;

    [&] {
        // Boot buffers are 4096 bytes: larger (or odd) sectors are refused before anything is read.
        if (!fat::IsSupportedSectorSize(s)) {
            outcome = Code(0x00ca, 0xc);
            return;
        }
        try {
            sector.assign(s, 0);
        } catch (const std::bad_alloc&) {
            outcome = Code(0x00b4, 4);
            return;
        }
        bool found = false;
        if (flags & 7) found = device->ReadSector(sector.data(), 0, 1) != 0 && IsFullValidDBR(sector.data(), 0, device);
        if (!found && (flags & fatflags::kBackupBootFat32)) {
            found = device->ReadSector(sector.data(), 6, 1) != 0 && IsFullValidDBR(sector.data(), 0, device);
        }
        if (!found) {
            outcome = Code(0x00ca, 0xc);
            return;
        }
        CTempFATDBR dbr(sector.data(), s);
        const u32 fsType = dbr.GetFileSystemType();
        const u64 reserved = dbr.GetReservedSector();
        const u64 spf = dbr.GetSectorsPerFat();
        const u64 tables = dbr.GetNumberOfFat();
        const u32 spc = dbr.GetSectorsperCluster();
        u64 rootStart = 0;
        u64 dataStart = 0;
        const u64 rootSectors = u64{dbr.GetRootEntries()} * fat_dir_entry_layout::kSize / s;
        if (fsType == FILE_SYSTEM_FAT32) {
            dataStart = reserved + tables * spf;
            rootStart = dataStart + (u64{dbr.GetRootDirStartCluster()} - 2) * spc;
        } else {
            rootStart = reserved + tables * spf;
            dataStart = rootStart + rootSectors;
        }
        u64 total = dbr.GetTotalSectors();
        const u64 deviceSectors = static_cast<u64>(device->GetTotalSectors());
        if (total > deviceSectors) total = deviceSectors;
        // The data area must start inside the volume, or every cluster count below is nonsense.
        if (dataStart >= total || spc == 0) {
            outcome = Code(0x00cb, 0xc);
            return;
        }
        table = IFATTableFactory::CreateFATTable(device, static_cast<i64>(reserved), fsType, static_cast<u32>(spf),
                                                 (flags & 0x80) != 0, (flags & 0x200) != 0);
        if (table == nullptr) {
            outcome = Code(0x00d8, 7);
            return;
        }
        const u64 clusters = (total - dataStart) / spc;
        record = CreateFATSearchedPartitionInfo(s);
        if (record == nullptr) {
            outcome = Code(0x0106, 2);
            return;
        }
        record->m_partitionIndex = 0;
        record->m_cluster0Sector = static_cast<i64>(dataStart);
        record->m_sectorsPerCluster = static_cast<u8>(spc);
        record->m_fileSystemType = fsType;
        record->SetTotalSectors(total);
        record->SetSectorPerFAT(static_cast<u32>(spf));
        record->SetTotalCluster(static_cast<u32>(clusters));
        record->SetStartSector(0);
        record->SetReservedSector(static_cast<u16>(reserved));
        record->SetRootInfo(fsType == FILE_SYSTEM_FAT32 ? dbr.GetRootDirStartCluster() : static_cast<u32>(rootSectors));
        record->MergeFlag(flags);
        m_partitions.push_back(record);
        m_builder->AddSearcherInfo(SEARCHER_FAT, 0);

        FATWorkerGeometry geometry;
        geometry.type = fsType;
        geometry.start = 0;
        geometry.sectorsPerCluster = spc;
        geometry.rootStart = rootStart;
        geometry.rootSectors = static_cast<u32>(rootSectors);
        geometry.rootCluster = dbr.GetRootDirStartCluster();
        geometry.rootFlag = 1;
        geometry.dataStart = dataStart;
        // The total cut to the device, so that no run reaches past its end.
        geometry.totalSectors = total;
        CFATBuildWorker worker(m_builder, m_progress, record, device, geometry, table, &m_state);
        outcome = worker.QuickBuildDirectoryTree(1);
    }();

    if (m_builder != nullptr) {
        m_builder->SetPartitonDevice(record, device);
        m_builder->FlashBuild(SEARCHER_FAT);
    }
    IFATTableFactory::DestroyFATTable(table);
    return outcome;
}

IQuickFileSystemSearchController* CreateFATQuickSearcher() {
    return new (std::nothrow) CFATQuickSearcher();
}
