#include "engine/HFSPlusSearch/HFSPlusQuickSearcher.h"

#include <new>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/HFSPlusLib/HFSPlusQuickSearchProgress.h"
#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/HFSPlusLib/HFSPlusVolume.h"
#include "engine/HFSPlusSearch/HFSPlusPrivateData.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

using namespace hfsplus;

CHFSPlusQuickFileSystemSearchController::~CHFSPlusQuickFileSystemSearchController() {
    if (m_privateData) m_privateData->Release();
}

u64 CHFSPlusQuickFileSystemSearchController::QuickSearchFiles(IStorageDevice* volume, IProgress* progress) {
    m_device = volume;
    m_progress = progress;
    CHFSPlusQuickFileSystemSearchProgress adapter(progress, false);
    if (!volume) return HFSPLUS_FAIL(kKindNullArgument);
    if (!m_builder) return HFSPLUS_FAIL(kKindNotReady);

    auto* opened = new (std::nothrow) CHFSPlusVolume(volume, false);
    if (!opened) return HFSPLUS_FAIL(kKindNoMemory);
    const u64 status = opened->GetStatus();
    if (result::IsFailure(status)) {
        delete opened;
        return static_cast<u64>(FormatError(static_cast<i64>(status), __FILE__, __LINE__, __func__));
    }
    if (m_privateData) m_privateData->Release();
    m_privateData.reset(new (std::nothrow) CHFSPlusPrivateData(opened));
    if (!m_privateData) {
        delete opened;
        return HFSPLUS_FAIL(kKindNoMemory);
    }
    m_blockSize = opened->GetBlockSize();

    m_builder->AddSearcherInfo(SEARCHER_HFSPLUS, kRootFolderID);
    opened->QuickSearchFiles(m_builder, &adapter);
    m_builder->FlashBuild(SEARCHER_HFSPLUS);
    return status;
}

int CHFSPlusQuickFileSystemSearchController::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    if (!out || capacity < 1) return 1;
    const u32 sectorSize = m_device && m_device->GetSectorSize() ? m_device->GetSectorSize() : 512;
    auto* record = new (std::nothrow) CSearchedPartitionInfo(sectorSize);
    if (!record) return 0;
    CHFSPlusVolume* volume = m_privateData ? m_privateData->GetVolume() : nullptr;
    if (volume) {
        record->m_privateData = m_privateData.get();
        record->m_sectorsPerCluster = m_blockSize / sectorSize;
    }
    record->m_partitionIndex = 0;
    record->m_fileSystemType = FILE_SYSTEM_HFSPLUS;
    record->m_cluster0Sector = 0;
    record->m_partitionStartSector = 0;
    record->SetTotalSectors(m_device ? u64(m_device->GetTotalSectors()) : 0);
    out[0] = record;
    return 1;
}

IQuickFileSystemSearchController* CreateHFSPlusQuickSearcher() {
    return new (std::nothrow) CHFSPlusQuickFileSystemSearchController;
}
