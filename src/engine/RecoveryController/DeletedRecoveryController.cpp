#include "engine/RecoveryController/DeletedRecoveryController.h"

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/Common/IQuickFileSystemSearchController.h"
#include "engine/Common/RestoreScanSink.h"
#include "engine/DataRecovery/DataRecovery.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/RecoveryController/RecoveryControllerCodes.h"
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/RecoveryController/SourceFlush.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

namespace {

void Send(IProgress* progress, u32 status, u64 total, u64 current) {
    _PROGRESS_INFO record = MakeProgressInfo(status, total, current);
    progress->UpdateProgress(&record);
}

u32 VolumeFileSystem(IStorageDevice* device) {
    auto* data = dynamic_cast<IVolumeDeviceData*>(device->GetPrivateData());
    const CCollectedVolumeDeviceInfoStruct* record = data ? data->GetVolumeInfo() : nullptr;
    return record ? record->fileSystemType : FILE_SYSTEM_UNKNOWN;
}

}  // namespace

CDeletedRecoveryController::~CDeletedRecoveryController() {
    delete m_searcher;
    if (m_builder) m_builder->Release();
    for (IQuickFileSystemSearchController* searcher : m_earlierSearchers) delete searcher;
    for (IDirecotryTreeBuilder* builder : m_earlierBuilders) builder->Release();
}

int CDeletedRecoveryController::Initialize(IRecoveryFilter* filter) {
    if (!filter) return 0;
    m_filter = filter;
    return 1;
}

IQuickFileSystemSearchController* CDeletedRecoveryController::CreateQuickSearcher(u32 fileSystemType) {
    const SearcherFactories& table = Searchers();
    QuickSearcherFactory create = nullptr;
    switch (fileSystemType) {
        case FILE_SYSTEM_FAT12:
        case FILE_SYSTEM_FAT16:
        case FILE_SYSTEM_FAT32: create = table.fatQuick; break;
        case FILE_SYSTEM_NTFS: create = table.ntfsQuick; break;
        case FILE_SYSTEM_EXFAT: create = table.exfatQuick; break;
        case FILE_SYSTEM_HFSPLUS: create = table.hfsPlusQuick; break;
        case FILE_SYSTEM_APFS: create = table.apfsQuick; break;
        default: break;
    }
    return create ? create() : nullptr;
}

u64 CDeletedRecoveryController::StartDataRecovery(IStorageDevice* device, IProgress* progress, IDrirectoryTree* tree) {
    if (!device || !progress || !tree) return controllercode::kQuickBadArguments;
    Send(progress, PROGRESS_RUNNING, 1, 0);
    if (device->GetType() == STORAGE_DEVICE_DISK) return controllercode::kQuickWholeDisk;
    m_device = device;
    if (m_builder) m_earlierBuilders.push_back(m_builder);
    m_builder = CreateTreeBuilder(false);
    if (!m_builder) return controllercode::kQuickNoBuilder;
    if (!m_builder->Initialize(GetDeviceDescription(device).c_str(), tree, m_filter))
        return controllercode::kQuickBuilderRefused;

    if (m_searcher) m_earlierSearchers.push_back(m_searcher);
    m_searcher = CreateQuickSearcher(VolumeFileSystem(device));
    if (!m_searcher) {
        Send(progress, PROGRESS_FINISHED, 1, 1);
        return controllercode::kQuickNoSearcher;
    }
    m_searcher->SetDirecotryTreeBuilder(m_builder);
    if (m_restoreSink) return m_restoreSink->SetDirecotryTreeBuilder(m_builder, progress, device);
    FlushMountedFileSystems(device);
    return m_searcher->QuickSearchFiles(device, progress);
}

IDataRecovery* CDeletedRecoveryController::GetDataRecovery(_tagSearcherType type) {
    auto* recovery = new (std::nothrow) CDataRecovery;
    if (!recovery) return nullptr;
    const u64 code = m_restoreSink ? recovery->Initialize(m_restoreSink->GetSearchedPartition(type), m_device)
                                   : recovery->Initialize(m_searcher, m_device);
    if (result::IsFailure(code)) {
        recovery->Release();
        return nullptr;
    }
    return recovery;
}
