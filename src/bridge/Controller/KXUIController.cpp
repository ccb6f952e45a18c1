#include "bridge/Controller/KXUIController.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "bridge/Device/DmgImage.h"
#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/Dispatch/Clock.h"
#include "bridge/Dispatch/Dispatch.h"
#include "bridge/Dispatch/ResultTreeArrays.h"
#include "bridge/Filter/KXUIFilter.h"
#include "bridge/Notify/CProgressNotify.h"
#include "bridge/Recovery/KXUIRecovery.h"
#include "bridge/ResultTree/KXTimeMgr.h"
#include "bridge/ResultTree/KXTypeMgr.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "engine/Common/CatchExeception.h"
#include "engine/Common/FileTypeManager.h"
#include "engine/Common/Locks.h"
#include "engine/Common/MessageCenter.h"
#include "engine/Common/ResultTreeLock.h"
#include "engine/Utility/IFileNode.h"

namespace {

// How long a re-enumeration waits for a stopped scan's worker.
constexpr std::chrono::seconds kRefreshWait{30};

// The workers of the scan and of the recovery. A new one starts only once the old one has returned.
std::mutex g_workersMutex;
std::shared_ptr<Worker> g_scanWorker;
std::shared_ptr<Worker> g_recoveryWorker;

bool IsAlive(const std::shared_ptr<Worker>& worker) {
    return worker && !worker->HasReturned();
}

std::shared_ptr<Worker> ScanWorker() {
    std::lock_guard<std::mutex> hold(g_workersMutex);
    return g_scanWorker;
}

std::shared_ptr<Worker> RecoveryWorker() {
    std::lock_guard<std::mutex> hold(g_workersMutex);
    return g_recoveryWorker;
}

// The scan worker: the engine's event delivery runs around the scan, with one receiver turning bad
// sectors into notifications.
void DoScanFn(IStorageDevice* device) {
    CMessageCenter::Instance()->StartReceiveMessage();
    auto receiver = std::make_unique<CProgressNotify>();
    KXUIScan::instance().DoScan(device, nullptr);
    KXUIScan::instance().ReCalTotalSize();
    // Delivery stops first: then no event is inside the receiver when it is freed.
    CMessageCenter::Instance()->StopReceiveMessage();
    receiver.reset();
}

bool StartScanOfRow(const DiskVolumeNodeData* row, int deep, const std::string& postKey, void* target) {
    if (!row) return false;
    KXUIScan::instance().SetDeepScan(deep);
    return KXUIController::DoScanWithDiskIndex(row->diskIndex(), row->volumeIndex(), postKey, target);
}

}  // namespace

// --- Devices ---

void KXUIController::NotifiyDeviceInfoAfterInit(const std::string& key) {
    KXUIDeviceData& model = KXUIDeviceData::instance();
    if (model.GetInitState() == KXUIDeviceData::kReady) {
        KXUIPublic::NotifyMainThread(key);
        return;
    }
    // One enumeration at a time: a request while one runs posts nothing.
    if (!model.BeginInit()) return;
    KXUIPublic::NotifyMainThreadByPostKey(key, [] { InitDeviceInfoInBgThread(); });
}

void KXUIController::InitDeviceInfoInBgThread() {
    KXUIDeviceData::instance().InitDeviceInfo();
}

void KXUIController::GetDeviceInfoToArray(DiskVolumeNodeData::Rows* rows) {
    if (!rows) return;
    std::vector<_DiskVolumeData> records;
    KXUIDeviceData::instance().GetAllDeviceInfo(records);
    for (const _DiskVolumeData& record : records) {
        auto row = std::make_shared<DiskVolumeNodeData>(&record);
        if (!record.subVolumes.empty()) {
            DiskVolumeNodeData::Rows volumes;
            for (const _DiskVolumeData& volume : record.subVolumes)
                volumes.push_back(std::make_shared<DiskVolumeNodeData>(&volume));
            row->setSubNode(std::move(volumes));
        }
        rows->push_back(std::move(row));
    }
}

bool KXUIController::RefreshDeviceInfo() {
    KXUIScan& scan = KXUIScan::instance();
    scan.StopOperation(1);
    if (auto worker = ScanWorker(); IsAlive(worker) && !worker->WaitForReturn(kRefreshWait, BridgeClock())) {
        CatchExeception::Instance()->WriteLog("RefreshDeviceInfo: the scan did not stop; the devices stay as they are\n");
        return false;
    }
    KXUIDeviceData& model = KXUIDeviceData::instance();
    model.Clear();
    model.InitDeviceInfo();
    scan.SaveScanSorage(nullptr);
    return true;
}

bool KXUIController::KXOpenEdiFile(const std::string& path) {
    return KXUIDeviceData::instance().KXOpenEdiFileImp(path.c_str());
}

bool KXUIController::KXOpenDmgFile(const std::string& path) {
    CDMGDeviceInfoStruct record;
    std::memset(&record, 0, sizeof record);
    // The record keeps the path whole or not at all: a cut path would open another file.
    if (path.empty() || path.size() > sizeof record.path - 1) {
        CatchExeception::Instance()->WriteLog("disk image refused: its path is empty or longer than %zu bytes\n",
                                              sizeof record.path - 1);
        return false;
    }
    record.sectorSize = 512;
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::memcpy(record.name, name.data(), std::min(name.size(), sizeof record.name - 1));
    std::memcpy(record.path, path.data(), path.size());
    if (!ParseDmgFile(path.c_str(), &record)) return false;
    return KXUIDeviceData::instance().KXOpenDmgFileImp(path.c_str(), record);
}

// --- Set-up ---

void KXUIController::initFileType() {
    std::map<int, std::string> lists;
    for (u32 bit : {1u, 2u, 4u, 8u, 16u, 32u}) lists[int(bit)] = KXTypeMgr::share().getTypeString(bit).value_or("");
    CFileTypeManager::Initialze(lists);
}

void KXUIController::SetRecoveryType(u32 mask) {
    KXUIFilter::instance().ResetFilter(mask);
}

void KXUIController::SetViewType(int viewType) {
    KXUIScan::instance().SetScanType(viewType);
}

void KXUIController::KXSetFlag(int flag) {
    KXUIScan::instance().SetAddDataFlag(flag);
}

// --- Scans ---

bool KXUIController::DoScanWithDiskIndex(int diskIndex, int volumeIndex, const std::string& postKey, void* target) {
    KXUIScan& scan = KXUIScan::instance();
    std::lock_guard<std::mutex> hold(g_workersMutex);
    // Never two workers: a stopped scan starts again only once its worker has returned, and a running
    // recovery reads the results a new scan would free.
    if (IsAlive(g_scanWorker) || IsAlive(g_recoveryWorker)) return false;
    if (scan.GetStatus() == OP_STOP_REQUESTED) scan.SetStatus(OP_IDLE);
    if (!scan.IsOperationExit()) return false;
    IStorageDevice* device = KXUIDeviceData::instance().GetStorageByDiskVolumeIndex(diskIndex, volumeIndex);
    if (!device) return false;
    if (g_scanWorker) {
        g_scanWorker->Join();
        WorkerRegistry::Instance().JoinReturned();
    }

    // The trees are emptied here, on the main thread, where they are read.
    {
        SimpleLock trees(&g_lockerAddData);
        ResultTreeArrays().Reset();
    }
    KXTypeMgr::share().clear();
    KXTimeMgr::share().clear();
    ResetRefreshClock();
    scan.ClearData();
    scan.SetStatus(OP_RUNNING);
    g_scanWorker = dispatch::DoOperation([device] { DoScanFn(device); }, &scan, postKey, false);
    if (!g_scanWorker) {
        scan.SetStatus(OP_IDLE);
        return false;
    }
    return true;
}

bool KXUIController::DoScanWithData(const DiskVolumeNodeData* row, const std::string& postKey, void* target) {
    return StartScanOfRow(row, 0, postKey, target);
}

bool KXUIController::DoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey, void* target) {
    return StartScanOfRow(row, 1, postKey, target);
}

bool KXUIController::isEdiDoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey,
                                             void* target) {
    return StartScanOfRow(row, 1, postKey, target);
}

bool KXUIController::DoDeepScan(void* target, const std::string& postKey) {
    IStorageDevice* device = KXUIScan::instance().GetSavedStorage();
    if (!device) return false;
    i32 disk = -1, volume = -1;
    if (!KXUIDeviceData::instance().GetDiskVolumeIndexByStorage(device, &disk, &volume) || disk == -1) return false;
    KXUIScan::instance().SetDeepScan(1);
    return DoScanWithDiskIndex(disk, volume, postKey, target);
}

void KXUIController::PauseOrResumeScan() {
    KXUIScan::instance().PauseOrResumeOperation();
}

void KXUIController::StopScan(int flag) {
    KXUIScan::instance().StopOperation(flag);
}

void KXUIController::ResetShouldBuild() {
    KXUIScan::instance().SetShouldBuildTree(1);
}

bool KXUIController::IsScanRunning() {
    const u32 status = KXUIScan::instance().GetStatus();
    return status == OP_RUNNING || status == OP_PAUSED || status == OP_STOP_REQUESTED;
}

bool KXUIController::IsPause() {
    return KXUIScan::instance().GetStatus() == OP_PAUSED;
}

bool KXUIController::IsDeepScan() {
    return KXUIScan::instance().IsDeepScan() != 0;
}

std::string KXUIController::RemainingTimeText(i64 elapsed, u64 total, u64 current) {
    const double percent = double(current) * 100.0 / double(total ? total : 1);
    if (elapsed < 1 || current == 0 || percent < 1) return "-:-:-";
    const __int128 left = total > current ? __int128(total - current) : 0;
    __int128 remaining = __int128(elapsed) * left / __int128(current);
    __int128 corrected = remaining;
    if (current < total / 4)
        corrected = __int128(double(remaining) * 0.5);
    else if (current < total / 2)
        corrected = __int128(double(remaining) * 0.7);
    if (corrected > 0) remaining = corrected;
    constexpr __int128 kLimit = 101 * 3600;
    if (remaining >= kLimit) return "-:-:-";
    const int seconds = int(remaining);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600, seconds % 3600 / 60, seconds % 60);
    return text;
}

std::string KXUIController::GetScanProgress(double* percent, u64* fileCount) {
    KXUIScan& scan = KXUIScan::instance();
    const _PROGRESS_INFO record = scan.GetProgressInfo();
    if (fileCount) *fileCount = scan.GetScanFileCnt();
    if (percent) *percent = double(record.current) * 100.0 / double(record.total ? record.total : 1);
    return RemainingTimeText(scan.GetScanElapseTime(), record.total, record.current);
}

void KXUIController::GetScanFileSize(u64* size, u64* count) {
    if (size) *size = KXUIScan::instance().GetScanFileSize();
    if (count) *count = KXUIScan::instance().GetScanFileCnt();
}

void KXUIController::UnselectedAllNodes() {
    KXUIScan::instance().UnselectAllNodes();
}

bool KXUIController::IsScanWorkerAlive() {
    return IsAlive(ScanWorker());
}

// --- Recovery ---

std::vector<IFileNode*> KXUIController::GetSelectedFilesAndSize(u64* size) {
    std::vector<IFileNode*> selected;
    for (const auto& [category, nodes] : KXUIScan::instance().GetTypeMap()) {
        for (IFileNode* node : nodes) {
            if (!node || !node->IsNodeShow() || node->GetCheckedStatus() != CHECKED_ALL) continue;
            selected.push_back(node);
            const i64 bytes = node->GetFileSize();
            if (size && bytes > 0) *size += u64(bytes);
        }
    }
    return selected;
}

void KXUIController::GetSelectedFilesAmout(int* count, u64* size) {
    u64 bytes = 0;
    const size_t files = GetSelectedFilesAndSize(&bytes).size();
    if (count) *count = int(files);
    if (size) *size = bytes;
    KXUIRecovery::instance().SetRecoveryTotalSize(bytes);
    KXUIRecovery::instance().SetRecoveryTotalFilesCnt(files);
}

bool KXUIController::IsRecoveryToSameDevice(const std::string& path) {
    return KXUIRecovery::instance().RecoveryPathIsSameDevice(path.c_str());
}

i64 KXUIController::DoRecovery(const void* nodeList, const std::string& path, const std::string& postKey,
                               const void* /*object*/) {
    if (!nodeList || path.empty()) return i64(KXUIRecovery::kBadArguments);
    KXUIRecovery& recovery = KXUIRecovery::instance();
    // Whatever the window checked, nothing is ever written onto the scanned device.
    if (recovery.RecoveryPathIsSameDevice(path.c_str())) return i64(KXUIRecovery::kDestinationOnScannedDevice);
    std::lock_guard<std::mutex> hold(g_workersMutex);
    if (IsAlive(g_recoveryWorker) || IsAlive(g_scanWorker) || !recovery.IsOperationExit())
        return i64(KXUIRecovery::kRecoveryRunning);
    if (g_recoveryWorker) {
        g_recoveryWorker->Join();
        WorkerRegistry::Instance().JoinReturned();
    }
    recovery.SetRecoveryPath((path.back() == '/' ? path : path + "/").c_str());
    recovery.ClearCreateDirIndex();
    recovery.SetStatus(OP_RUNNING);
    g_recoveryWorker = dispatch::DoOperation([] { KXUIRecovery::instance().DoRecovery(); }, &recovery, postKey, true);
    if (!g_recoveryWorker) {
        recovery.SetStatus(OP_IDLE);
        return i64(KXUIRecovery::kRecoveryRunning);
    }
    return 0;
}

bool KXUIController::IsRecoveryRunning() {
    const u32 status = KXUIRecovery::instance().GetStatus();
    return status == OP_RUNNING || status == OP_PAUSED;
}

std::string KXUIController::GetRecoveryProgressTotal(u64* total, u64* current, i64* code) {
    const _PROGRESS_INFO record = KXUIRecovery::instance().GetProgressInfo();
    if (total) *total = record.total;
    if (current) *current = record.current;
    if (code) *code = record.errorCode;
    IFileNode* node = KXUIRecovery::instance().GetCurrentRecoveryNode();
    const char* name = node ? node->GetFileName() : nullptr;
    return name ? name : "";
}

bool KXUIController::IsRecoveryPaused() {
    return KXUIRecovery::instance().GetStatus() == OP_PAUSED;
}

void KXUIController::PauseOrResumeRecovery() {
    KXUIRecovery::instance().PauseOrResumeOperation();
}

void KXUIController::StopRecvoery() {
    KXUIRecovery::instance().StopOperation(1);
}

u64 KXUIController::GetRecoveridedSize() {
    return KXUIRecovery::instance().GetRecoveriedFileSize();
}

u64 KXUIController::GetRecoveridedFiles() {
    return KXUIRecovery::instance().GetRecoveriedFilesCnt();
}

u64 KXUIController::GetRecoveryFailedFiles() {
    return KXUIRecovery::instance().GetFailedFilesCnt();
}

u64 KXUIController::GetRecoverySkippedFiles() {
    return KXUIRecovery::instance().GetSkippedFilesCnt();
}

u64 KXUIController::GetRecoveryFirstFailure() {
    return KXUIRecovery::instance().GetFirstFailureCode();
}

int KXUIController::GetCurrentScanRecoveryCnt() {
    return int(KXUIScan::instance().GetCurrentScanRecoveryCnt());
}

void KXUIController::ReleaseDataRecovery() {
    KXUIScan::instance().ReleaseDataRecovery();
    KXUIRecovery::instance().ReleaseDataRecovery();
}

bool KXUIController::IsRecoveryWorkerAlive() {
    return IsAlive(RecoveryWorker());
}

void KXUIController::JoinWorkers() {
    WorkerRegistry::Instance().JoinAll();
    KXUIPublic::WaitForBackgroundWork();
}
