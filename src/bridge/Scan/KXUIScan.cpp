#include "bridge/Scan/KXUIScan.h"

#include <cstdio>

#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/Dispatch/Clock.h"
#include "bridge/Dispatch/Dispatch.h"
#include "bridge/Filter/KXUIFilter.h"
#include "bridge/Recovery/KXUIRecovery.h"
#include "bridge/SaveRestore/HFSPlusVolumeCache.h"
#include "bridge/Utilities/KXCPPPublic.h"
#include "engine/Common/CatchExeception.h"
#include "engine/Common/IRecoveryFilter.h"
#include "engine/Common/Locks.h"
#include "engine/Common/ResultTreeLock.h"
#include "engine/DataRecovery/IDataRecovery.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/Utility/IFilesystemNode.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

using Hold = std::lock_guard<std::recursive_mutex>;

KXUIScan& KXUIScan::instance() {
    static KXUIScan scan;
    return scan;
}

KXUIScan::KXUIScan() : m_controllerFactory(&CreateRecoveryController) {}

KXUIScan::~KXUIScan() {
    // The indexes point into the controller's trees: they go first.
    m_dataRecoveryMap.clear();
    if (m_recoveryController) m_recoveryController->Release();
    m_recoveryController = nullptr;
}

void KXUIScan::SetControllerFactory(ControllerFactory factory) {
    Hold hold(Mutex());
    m_controllerFactory = factory ? std::move(factory) : ControllerFactory(&CreateRecoveryController);
}

// --- The scan ---

void KXUIScan::EndEarly() {
    SetStatus(OP_IDLE);
    SetNeedUIUpdate(1);
    KXNotifyUIUpdateData(1);
}

u64 KXUIScan::DoScan(IStorageDevice* device, RestoreScanSink* sink) {
    CatchExeception::Instance()->WriteLog("%s:%d started!\r", "DoScan", 43);
    {
        Hold hold(Mutex());
        m_restoreSink = sink;
    }
    BridgeClock().SleepFor(kStartPause);
    std::lock_guard<std::mutex> scanning(m_scanLock);
    KXUIRecovery::instance().ReleaseDataRecovery();
    u64 code = kNothingScanned;
    auto finish = [&] {
        KXUIRecovery::instance().ResetParam();
        Hold hold(Mutex());
        m_restoreSink = nullptr;
        CatchExeception::Instance()->WriteLog("%s:%d end!\r", "DoScan", 137);
        return code;
    };
    if (!device) {
        EndEarly();
        return finish();
    }
    SaveScanSorage(device);
    SetNeedUIUpdate(0);
    const int type = GetScanControllerType(device);
    if (type == kNoScanController) {
        SetDeepScan(0);
        EndEarly();
        return finish();
    }
    const int deep = IsDeepScan();
    // The indexes go before the controller: releasing it frees every node they point to.
    ClearData();
    ResetRecoveryController(type);
    {
        Hold hold(Mutex());
        m_resultStorage = device;
    }
    // Nothing reads the devices of replaced enumerations any more: the old results are gone.
    KXUIDeviceData::instance().ReleaseRetired();
    SetSearchKey("");
    IRecoveryFilter* filter = KXUIFilter::instance().GetFilter();
    if (!filter) {
        EndEarly();
        return finish();
    }

    KXUIDeviceData& model = KXUIDeviceData::instance();
    bool ended = false;
    if (!deep && model.IsDiskStorage(device)) {
        // A quick scan of a whole disk scans its supported volumes one after the other.
        std::vector<IStorageDevice*> volumes;
        model.GetDiskVolumeStorage(device, volumes);
        m_remainingVolumes.store(i32(volumes.size()));
        for (IStorageDevice* volume : volumes) {
            if (m_remainingVolumes.load() <= 0) break;
            m_remainingVolumes.fetch_sub(1);
            if (model.IsVolumeStorageSupported(volume)) {
                filter->SetScanType(SCAN_QUICK);
                code = DoVolumeStorageScan(volume);
                if (result::IsFailure(code) && GetStatus() == OP_STOP_REQUESTED) {
                    ended = true;
                    break;
                }
            } else if (m_remainingVolumes.load() <= 0) {
                ended = true;
            }
        }
    } else {
        filter->SetScanType(deep ? SCAN_DEEP : SCAN_QUICK);
        code = DoVolumeStorageScan(device);
        ended = result::IsFailure(code);
    }
    // However the engine ended (a stop, a refusal without a finished record, the last volume
    // unsupported), the scan is over: left running, it would refuse every later start.
    if (ended || !IsOperationExit()) {
        m_remainingVolumes.store(0);
        EndEarly();
    }
    return finish();
}

u64 KXUIScan::DoVolumeStorageScan(IStorageDevice* device) {
    IRecoveryController* controller = GetRecoveryController();
    if (!device || !controller || !Continued()) return kVolumeNotScanned;
    SetStatus(OP_RUNNING);
    controller->Initialize(KXUIFilter::instance().GetFilter());
    if (const CCollectedVolumeDeviceInfoStruct* info = GetStorageVolumeInfo(device)) {
        std::printf("=======scan volumes(%d):(%.*s)======\n", m_remainingVolumes.load(), int(sizeof info->volumeName),
                    info->volumeName);
    }
    return controller->StartDataRecovery(device, this, this);
}

int KXUIScan::GetScanControllerType(IStorageDevice* device) {
    if (!device) return kNoScanController;
    if (IsDeepScan()) return KXUIDeviceData::instance().IsDiskStorage(device) ? 2 : 1;
    return 0;
}

void KXUIScan::ResetRecoveryController(int type) {
    IRecoveryController* old = nullptr;
    {
        Hold hold(Mutex());
        old = m_recoveryController;
        m_recoveryController = nullptr;
    }
    // Released outside the mutex: releasing takes the result-tree lock, which comes before it.
    if (old) old->Release();
    ControllerFactory factory;
    RestoreScanSink* sink = nullptr;
    {
        Hold hold(Mutex());
        factory = m_controllerFactory;
        sink = m_restoreSink;
    }
    IRecoveryController* made = factory(static_cast<_RECOVERY_CONTROLLER_TYPE>(type));
    if (made && sink) made->SetRestoreSink(sink);
    Hold hold(Mutex());
    m_recoveryController = made;
}

void KXUIScan::SetDeepScan(int deep) {
    m_deepScan.store(deep ? 1 : 0);
}

int KXUIScan::IsDeepScan() {
    Hold hold(Mutex());
    if (m_deepScan.load() == 0 && !KXUIDeviceData::instance().IsDiskStorage(m_savedStorage)) {
        // A volume whose file system is unknown has nothing a quick scan could read.
        m_deepScan.store(IsStorageVolumeUnknow(m_savedStorage) ? 1 : 0);
    }
    return m_deepScan.load();
}

bool KXUIScan::IsStorageVolumeUnknow(IStorageDevice* device) {
    if (!device || KXUIDeviceData::instance().IsDiskStorage(device)) return false;
    const CCollectedVolumeDeviceInfoStruct* info = GetStorageVolumeInfo(device);
    return info && info->fileSystemType == FILE_SYSTEM_UNKNOWN;
}

CCollectedVolumeDeviceInfoStruct* KXUIScan::GetStorageVolumeInfo(IStorageDevice* device) {
    auto* data = device ? dynamic_cast<IVolumeDeviceData*>(device->GetPrivateData()) : nullptr;
    return data ? data->GetVolumeInfo() : nullptr;
}

bool KXUIScan::IsStorageMounted(IStorageDevice* device) {
    if (!device) return false;
    if (KXUIDeviceData::instance().IsDiskStorage(device)) return true;
    const CCollectedVolumeDeviceInfoStruct* info = GetStorageVolumeInfo(device);
    return info && info->mounted;
}

void KXUIScan::SaveScanSorage(IStorageDevice* device) {
    Hold hold(Mutex());
    m_savedStorage = device;
}

IStorageDevice* KXUIScan::GetSavedStorage() {
    Hold hold(Mutex());
    return m_savedStorage;
}

IStorageDevice* KXUIScan::GetResultStorage() {
    Hold hold(Mutex());
    return m_resultStorage;
}

IRecoveryController* KXUIScan::GetRecoveryController() {
    Hold hold(Mutex());
    return m_recoveryController;
}

void KXUIScan::ClearData() {
    m_remainingVolumes.store(0);
    const std::time_t now = BridgeClock().Time();
    SetStartTime(now);
    SetLastUpdateTime(now);
    m_selectedFileCnt.store(0);
    m_selectedFileSize.store(0);
    m_scanFileCnt.store(0);
    m_scanFileSize.store(0);
    m_currentScanRecoveryCnt.store(0);
    Hold hold(Mutex());
    // Released here (each holds a 4 MiB buffer): merely forgotten, every scan would leak them.
    m_dataRecoveryMap.clear();
    m_resultStorage = nullptr;
    m_fileSystemNodes.clear();
    m_allDirectories.clear();
    m_refreshDirectories.clear();
    m_directoryMap.clear();
    m_typeMap.clear();
    m_typeNodes.clear();
    m_newPathNodes.clear();
    m_uiNodeMap.clear();
    m_createTimeMap.clear();
    m_modifyTimeMap.clear();
    m_accessTimeMap.clear();
    // The volumes that compressed files of a loaded result read through go with the result.
    SaveRestoreResult::HFSPlusVolumeCache::Instance().Clear();
    SetProgressInfo(_PROGRESS_INFO{});
}

// --- KXUIOperation ---

int KXUIScan::UpdateProgress(_PROGRESS_INFO* record) {
    if (!TakeProgressRecord(record)) return 0;
    if (record->status == PROGRESS_FINISHED) {
        {
            Hold hold(Mutex());
            // A finished record ends the scan unless volumes of a whole-disk quick scan remain.
            if (m_remainingVolumes.load() <= 0 || GetStatus() == OP_STOP_REQUESTED) {
                m_remainingVolumes.store(0);
                SetStatus(OP_IDLE);
            }
        }
        KXNotifyUIUpdateData(1);
        std::printf("=====Scan Progress finished!=====\n");
    }
    SetNeedUIUpdate(1);
    return 0;
}

int KXUIScan::IsOpTreeFinished() {
    return OpTreeFlag();
}

void KXUIScan::SetOpTreeFinished(int finished) {
    SetOpTreeFlag(finished);
    if (finished) DeliverPendingRefresh();
}

// --- IDrirectoryTree ---

void KXUIScan::CreateTimeMapByFileNode(TimeMap& map, IFileNode* node, bool creation) {
    if (!node) return;
    const _FILETIME time = creation ? node->GetCreationTime() : node->GetModificationTime();
    if (time == 0) return;
    int year = 0, month = 0;
    KXCPPPublic::instance().GetYearMonthByFileTime(&year, &month, time);
    map[year][month].push_back(node);
}

void KXUIScan::FileNode(IFileNode* node) {
    // Per node, so that the windows are never locked out for a whole batch.
    Hold hold(Mutex());
    if (node->IsDirectory()) {
        m_refreshDirectories.push_back(node);
        m_allDirectories.push_back(node);
        m_newPathNodes.push_back(node);
        m_directoryMap[node] = 0;
        return;
    }
    CreateTimeMapByFileNode(m_createTimeMap, node, true);
    CreateTimeMapByFileNode(m_modifyTimeMap, node, false);
    if (IRecoveryFilter* filter = KXUIFilter::instance().GetFilter()) {
        const u32 category = filter->GetNodeFileType(node);
        m_typeMap[category].push_back(node);
        m_typeNodes.push_back(node);
    }
    const i64 size = node->GetFileSize();
    if (size > 0) m_scanFileSize.fetch_add(u64(size));
}

void KXUIScan::ShowNodes(IFileNode** nodes, u32 count, int /*lost*/) {
    if (!nodes || count == 0) return;
    u64 files = 0;
    for (u32 i = 0; i < count; ++i) {
        if (!nodes[i]) continue;
        if (!nodes[i]->IsDirectory()) ++files;
        FileNode(nodes[i]);
    }
    m_scanFileCnt.fetch_add(files);
    SetNeedUIUpdate(1);
    KXNotifyUIUpdateData(0);
}

void KXUIScan::ShowFilesystemNode(IFilesystemNode* root) {
    if (!root) return;
    const char* name = root->GetFileName();
    std::printf("=====ShowFileSystemNodes:%s\n", name ? name : "");
    if (!root->IsDirectory()) return;
    {
        Hold hold(Mutex());
        if (m_recoveryController && m_recoveryController->thisType() == RECOVERY_CONTROLLER_DELETED) {
            IDataRecovery* recovery = m_recoveryController->GetDataRecovery(root->GetSearcheType());
            m_dataRecoveryMap[root] =
                recovery ? RecoveryObject(recovery, [](IDataRecovery* r) { r->Release(); }) : nullptr;
        }
        m_fileSystemNodes.push_back(root);
        m_newPathNodes.push_back(root);
    }
    SetNeedUIUpdate(1);
}

// --- Indexes ---

KXUIScan::TypeMap KXUIScan::GetTypeMap() {
    Hold hold(Mutex());
    return m_typeMap;
}

KXUIScan::TimeMap KXUIScan::GetCreateTimeMap() {
    Hold hold(Mutex());
    return m_createTimeMap;
}

KXUIScan::TimeMap KXUIScan::GetModifyTimeMap() {
    Hold hold(Mutex());
    return m_modifyTimeMap;
}

KXUIScan::TimeMap KXUIScan::GetAccessTimeMap() {
    Hold hold(Mutex());
    return m_accessTimeMap;
}

KXUIScan::TypeMap KXUIScan::GetTypeMapFrom(const IUIController::TypeResume& from) {
    Hold hold(Mutex());
    return IUIController::TypeTails(m_typeMap, from);
}

KXUIScan::TimeMap KXUIScan::GetCreateTimeMapFrom(const IUIController::TimeResume& from) {
    Hold hold(Mutex());
    return IUIController::TimeTails(m_createTimeMap, from);
}

KXUIScan::TimeMap KXUIScan::GetModifyTimeMapFrom(const IUIController::TimeResume& from) {
    Hold hold(Mutex());
    return IUIController::TimeTails(m_modifyTimeMap, from);
}

std::vector<IFileNode*> KXUIScan::GetTypeNode() {
    Hold hold(Mutex());
    std::vector<IFileNode*> nodes;
    nodes.swap(m_typeNodes);
    return nodes;
}

std::vector<IFileNode*> KXUIScan::KXGetNewPathNode() {
    Hold hold(Mutex());
    std::vector<IFileNode*> nodes;
    nodes.swap(m_newPathNodes);
    return nodes;
}

std::vector<IFileNode*> KXUIScan::KXGetAllPathNode() {
    Hold hold(Mutex());
    std::vector<IFileNode*> nodes(m_fileSystemNodes.begin(), m_fileSystemNodes.end());
    nodes.insert(nodes.end(), m_allDirectories.begin(), m_allDirectories.end());
    return nodes;
}

std::vector<IFilesystemNode*> KXUIScan::GetFileSystemNode() {
    Hold hold(Mutex());
    return m_fileSystemNodes;
}

void KXUIScan::RefreshAllData() {
    Hold hold(Mutex());
    m_refreshDirectories = m_allDirectories;
    for (IFileNode* folder : m_allDirectories) m_directoryMap[folder] = 0;
}

bool KXUIScan::FindRemoveData(IFileNode* node) {
    if (!node) return false;
    if (node->IsDirectory()) return true;
    Hold hold(Mutex());
    return m_directoryMap.erase(node) != 0;
}

void* KXUIScan::KXGetFileNode(IFileNode* node) {
    Hold hold(Mutex());
    const auto found = m_uiNodeMap.find(node);
    return found == m_uiNodeMap.end() ? nullptr : found->second;
}

void KXUIScan::KXSetFileNode(IFileNode* node, void* treeNode) {
    if (!node || !treeNode) return;
    Hold hold(Mutex());
    m_uiNodeMap[node] = treeNode;
}

void KXUIScan::KXResetFileNode() {
    Hold hold(Mutex());
    m_uiNodeMap.clear();
}

KXUIScan::RecoveryObject KXUIScan::GetFileNodeDataRecover(IFileNode* node) {
    IFilesystemNode* root = KXCPPPublic::instance().GetFileSystemNode(node);
    if (!root) return nullptr;
    Hold hold(Mutex());
    const auto found = m_dataRecoveryMap.find(root);
    return found == m_dataRecoveryMap.end() ? nullptr : found->second;
}

void KXUIScan::ReleaseDataRecovery() {
    Hold hold(Mutex());
    m_dataRecoveryMap.clear();
}

void KXUIScan::UnselectAllNodes() {
    for (IFilesystemNode* root : GetFileSystemNode()) root->SetCheck(CHECKED_NONE);
}

void KXUIScan::ReCalTotalSize() {
    // A search marks nodes shown or hidden under the result-tree lock: read them under it too.
    SimpleLock trees(&g_lockerAddData);
    u64 total = 0;
    for (const auto& [category, nodes] : GetTypeMap()) {
        for (IFileNode* node : nodes) {
            if (!node || !node->IsNodeShow()) continue;
            const i64 size = node->GetFileSize();
            if (size > 0) total += u64(size);
        }
    }
    m_scanFileSize.store(total);
}

std::string KXUIScan::GetNodeExt(IFileNode* node) {
    return KXCPPPublic::instance().GetNodeExt(node);
}

// --- Search by name ---

void KXUIScan::SetSearchKey(const char* key) {
    if (!key) return;
    Hold hold(Mutex());
    if (*key)
        m_searchKey = key;
    else
        m_searchKey.reset();
}

std::optional<std::string> KXUIScan::GetSearchKey() {
    Hold hold(Mutex());
    return m_searchKey;
}

void KXUIScan::SetSearching(int searching) {
    m_searching.store(searching);
}

int KXUIScan::IsSearching() {
    return m_searching.load();
}

void KXUIScan::DoSearch(std::vector<IFileNode*>& found) {
    RefreshAllData();
    found.clear();
    const TypeMap types = GetTypeMap();
    const std::optional<std::string> key = GetSearchKey();
    for (const auto& [category, nodes] : types) {
        for (IFileNode* node : nodes) {
            if (!node) continue;
            const bool match = !key || KXCPPPublic::instance().IsStringInFileNode(key->c_str(), node);
            node->ShowNode(match ? 1 : 0);
            if (match && !node->IsDirectory()) found.push_back(node);
        }
    }
}

// --- Plain values ---

void KXUIScan::SetScanType(int viewType) {
    m_scanType.store(viewType);
}

int KXUIScan::GetScanType() {
    return m_scanType.load();
}

int KXUIScan::IsEdiRsf() {
    return m_ediRsf.load();
}

void KXUIScan::SetEdiRsf(int flag) {
    Hold hold(Mutex());
    m_ediRsf.store(flag);
}

int KXUIScan::IsDmgRsf() {
    return m_dmgRsf.load();
}

void KXUIScan::SetDmgRsf(int flag) {
    Hold hold(Mutex());
    m_dmgRsf.store(flag);
}
