#include "engine/RecoveryController/CompleteRecoveryController.h"

#include <algorithm>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/Common/RestoreScanSink.h"
#include "engine/DataRecovery/DataRecovery.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/RecoveryController/DeletedRecoveryController.h"
#include "engine/RecoveryController/RecoveryControllerCodes.h"
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/RecoveryController/SourceFlush.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"
#include "engine/Utility/TBitmap.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

namespace {

void Send(IProgress* progress, u32 status, u64 total, u64 current) {
    _PROGRESS_INFO record = MakeProgressInfo(status, total, current);
    progress->UpdateProgress(&record);
}

bool IsHfsPlusVolume(IStorageDevice* device) {
    if (device->GetType() != STORAGE_DEVICE_VOLUME) return false;
    auto* data = dynamic_cast<IVolumeDeviceData*>(device->GetPrivateData());
    const CCollectedVolumeDeviceInfoStruct* record = data ? data->GetVolumeInfo() : nullptr;
    return record && record->fileSystemType == FILE_SYSTEM_HFSPLUS;
}

}  // namespace

IRecoveryController* CreateRecoveryController(_RECOVERY_CONTROLLER_TYPE type) {
    switch (type) {
        case RECOVERY_CONTROLLER_DELETED: return new (std::nothrow) CDeletedRecoveryController;
        case RECOVERY_CONTROLLER_COMPLETE: return new (std::nothrow) CCompleteRecoveryController;
        case RECOVERY_CONTROLLER_PARTITION: return new (std::nothrow) CPartitionRecoveryController;
    }
    return nullptr;
}

CCompleteRecoveryController::~CCompleteRecoveryController() {
    DeleteSearchers();
    if (m_cache) {
        m_cache->EndCache();
        delete m_cache;
    }
    if (m_builder) m_builder->Release();
    m_fileSectorMap.clear();
    delete m_bitmap;
}

void CCompleteRecoveryController::DeleteSearchers() {
    for (_SEARCHER_INFO& info : m_searchers) delete info.searcher;
    m_searchers.clear();
}

int CCompleteRecoveryController::Initialize(IRecoveryFilter* filter) {
    if (!filter) return 0;
    m_filter = filter;
    return 1;
}

i64 CCompleteRecoveryController::BlockSectors(u32 sectorSize) {
    const i64 block = kBlockBytes / (sectorSize ? sectorSize : 512);
    return block ? block : 8192;
}

void CCompleteRecoveryController::CreateSearchers(IStorageDevice* device, IProgress* progress) {
    const SearcherFactories& table = Searchers();
    const struct {
        _tagSearcherType type;
        DeepSearcherFactory create;
    } order[] = {{SEARCHER_HFSPLUS, table.hfsPlus}, {SEARCHER_EXFAT, table.exfat}, {SEARCHER_FAT, table.fat},
                 {SEARCHER_RAW, table.raw},         {SEARCHER_NTFS, table.ntfs},   {SEARCHER_APFS, table.apfs}};
    for (const auto& entry : order) {
        ICompleteFileSystemSearchController* searcher = entry.create ? entry.create() : nullptr;
        if (!searcher) continue;
        switch (entry.type) {
            case SEARCHER_HFSPLUS:
                searcher->SetIProgressSink(progress);
                if (IsHfsPlusVolume(device)) searcher->SetActivePartition(true);
                break;
            case SEARCHER_FAT: searcher->SetFileSectorMap(&m_fileSectorMap); break;
            case SEARCHER_RAW:
                searcher->SetFileSectorMap(&m_fileSectorMap);
                searcher->SetIProgressSink(progress);
                break;
            default: break;
        }
        m_searchers.push_back({u32(entry.type), searcher});
    }
}

u64 CCompleteRecoveryController::StartDataRecovery(IStorageDevice* device, IProgress* progress, IDrirectoryTree* tree) {
    if (!device || !progress || !tree) return controllercode::kDeepBadArguments;
    delete m_bitmap;
    m_bitmap = new TBitmap;
    Send(progress, PROGRESS_RUNNING, 1, 0);
    if (m_builder) m_builder->Release();
    m_builder = CreateTreeBuilder(m_restoreSink != nullptr);
    if (!m_builder) return controllercode::kDeepNoBuilder;
    if (!m_builder->Initialize(GetDeviceDescription(device).c_str(), tree, m_filter))
        return controllercode::kDeepBuilderRefused;

    DeleteSearchers();
    CreateSearchers(device, progress);
    if (m_searchers.empty()) return controllercode::kDeepNoSearcher;

    FlushMountedFileSystems(device);
    m_device = device;
    const i64 block = BlockSectors(device->GetSectorSize());
    if (m_cache) {
        m_cache->EndCache();
        delete m_cache;
    }
    m_cache = new CStorageDeviceWithCache(device);
    m_cache->SetBlockSize(u32(block));
    m_cache->BeginCache();
    for (_SEARCHER_INFO& info : m_searchers) {
        info.searcher->SetDevice(m_cache);
        info.searcher->SetBlockSize(int(block));
        info.searcher->SetDirecotryTreeBuilder(m_builder);
        info.searcher->SetBitmap(m_bitmap);
        if (!m_restoreSink) info.searcher->PreparetoSearch();
    }

    u64 code = result::kSuccess;
    if (m_restoreSink)
        m_restoreSink->SetDirecotryTreeBuilder(m_builder, progress, device);
    else
        code = SearchData(0, device->GetTotalSectors() - 1, progress);

    // A user stop skips only the raw searcher's end (its trees are built from what the pass saw).
    const bool stopped = !progress->Continued();
    const int build = progress->shouldBuild();
    for (_SEARCHER_INFO& info : m_searchers) {
        if (info.type == SEARCHER_RAW && stopped) continue;
        info.searcher->EndSearch(build);
    }
    Send(progress, PROGRESS_FINISHED, 1, 1);
    return code;
}

u64 CCompleteRecoveryController::SearchData(i64 first, i64 last, IProgress* progress) {
    if (!progress || !m_cache) return controllercode::kPassBadArguments;
    if (first > last) return controllercode::kPassFirstAfterLast;
    const i64 block = BlockSectors(m_cache->GetSectorSize());
    const i64 total = m_cache->GetTotalSectors();
    first = std::clamp<i64>(first, 0, std::max<i64>(total, 0));
    if (last >= total) last = total - 1;
    if (first > last) return result::kSuccess;  // nothing of the range lies on the device
    const i64 firstBlock = first / block;
    const i64 endBlock = last / block + 1;

    _PROGRESS_INFO record = MakeProgressInfo(PROGRESS_FIRST_BLOCK, u64(endBlock - firstBlock + 1), 0);
    progress->UpdateProgress(&record);
    record.status = PROGRESS_RUNNING;
    u64 done = 0;
    for (i64 b = firstBlock; b < endBlock; ++b) {
        if (!progress->Continued()) return result::kSuccess;
        m_cache->SetCurCacheBlock(b);
        const i64 start = b * block;
        const i64 count = std::min(block, last - start + 1);
        for (_SEARCHER_INFO& info : m_searchers) info.searcher->AnalyzeBlock(start, count);
        ++done;
        _PROGRESS_INFO copy = record;
        copy.current = u64(0.8 * double(done));
        progress->UpdateProgress(&copy);
    }
    return result::kSuccess;
}

void CCompleteRecoveryController::EndSearch(std::vector<_SEARCHER_INFO>& list, int build) {
    for (_SEARCHER_INFO& info : list) info.searcher->EndSearch(build);
    delete m_bitmap;
    m_bitmap = nullptr;
}

IDataRecovery* CCompleteRecoveryController::GetDataRecovery(_tagSearcherType type) {
    auto found = std::find_if(m_searchers.begin(), m_searchers.end(),
                              [type](const _SEARCHER_INFO& info) { return info.type == u32(type); });
    if (found == m_searchers.end() || !found->searcher) return nullptr;
    auto* recovery = new (std::nothrow) CDataRecovery;
    if (!recovery) return nullptr;
    const u64 code = m_restoreSink ? recovery->Initialize(m_restoreSink->GetSearchedPartition(type), m_device)
                                   : recovery->Initialize(found->searcher, m_device);
    if (result::IsFailure(code)) {
        recovery->Release();
        return nullptr;
    }
    return recovery;
}
