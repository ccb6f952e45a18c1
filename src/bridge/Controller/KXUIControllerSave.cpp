// The controller's calls for saving and loading scan results, the saved-result folder, the default
// file names, the support configuration, and the end of the program.
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "bridge/Controller/KXUIController.h"
#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/Dispatch/Clock.h"
#include "bridge/Dispatch/Dispatch.h"
#include "bridge/Dispatch/ResultTreeArrays.h"
#include "bridge/Dispatch/WorkerRegistry.h"
#include "bridge/Recovery/KXUIRecovery.h"
#include "bridge/Recovery/ScannedDevice.h"
#include "bridge/ResultTree/KXTimeMgr.h"
#include "bridge/ResultTree/KXTypeMgr.h"
#include "bridge/SaveRestore/KXSaveAndRestoreNodeOperate.h"
#include "bridge/SaveRestore/SaveFileName.h"
#include "bridge/SaveRestore/SaveRestoreProgress.h"
#include "bridge/SaveRestore/SavedResultFile.h"
#include "bridge/SaveRestore/SaveRestoreThreads.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/Utilities/KXCPPPublic.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "engine/Common/CatchExeception.h"
#include "engine/Common/Locks.h"
#include "engine/Common/MessageCenter.h"
#include "engine/Common/ResultTreeLock.h"
#include "platform/foundation/ResourcePropertyList.h"
#include "platform/foundation/UserDefaults.h"

namespace {

namespace fs = std::filesystem;
using brelvox::foundation::PropertyList;
using brelvox::foundation::ResourcePropertyList;

constexpr const char* kSupportFolder = ".Brelvoxfiles";
constexpr const char* kConfigFile = "config.plist";
constexpr const char* kKeyCompleteProtect = "ZZKeyCompleteProtect";
constexpr const char* kKeyQuickProtect = "ZZKeyQuickProtect";
// How often the close looks whether the workers have returned.
constexpr std::chrono::milliseconds kCloseStep{20};

// Serialises the reading of config.plist.
std::mutex g_configLock;

// The save or load worker last started (main thread only), and the hooks set by the application.
std::mutex g_saveMutex;
std::shared_ptr<Worker> g_saveOrLoadWorker;
std::function<void()> g_spyIDEndHook;
std::function<void()> g_quitHook;

bool IsAlive(const std::shared_ptr<Worker>& worker) {
    return worker && !worker->HasReturned();
}

std::shared_ptr<Worker> SaveOrLoadWorker() {
    std::lock_guard<std::mutex> hold(g_saveMutex);
    return g_saveOrLoadWorker;
}

// The per-user data folder: $XDG_DATA_HOME, else ~/.local/share.
fs::path UserDataDirectory() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') return fs::path(data);
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local" / "share";
}

}  // namespace

bool KXUIController::beginSaveOrRestoreNode(int save, const std::string& path, const std::string& imagePath) {
    // One task on the results at a time: a load empties what a scan, recovery or save reads.
    const bool saveOrLoadRuns = IsAlive(SaveOrLoadWorker());
    if (path.empty() || IsScanWorkerAlive() || IsRecoveryWorkerAlive() || saveOrLoadRuns) {
        // A refused save leaves no save marked running (its poll would never end).
        if (save && !saveOrLoadRuns) KXSaveAndRestoreNodeOperate::instance().SetStatus(OP_IDLE);
        return false;
    }
    std::shared_ptr<Worker> worker;
    if (save) {
        KXSaveAndRestoreNodeOperate& operation = KXSaveAndRestoreNodeOperate::instance();
        // Whatever the window checked, a result is never saved onto the device it was read from;
        // the refusal is the save's finished record, so its progress tells why.
        const std::string problem = ScannedDeviceProblem(KXUIScan::instance().GetResultStorage(), path);
        if (!problem.empty()) {
            CatchExeception::Instance()->WriteLog("beginSaveOrRestoreNode: %s\n", problem.c_str());
            SaveRestoreResult::SaveRestoreProgress(&operation).TipError(int(saved_result::kCodeOnScannedDevice));
            return false;
        }
        if (SaveRestoreResult::DoSaveScanResult(path.c_str(), &operation, &worker) != 0) {
            // The poll of RestorPostUIUpdate ends with the operation.
            operation.SetStatus(OP_IDLE);
            return false;
        }
    } else {
        KXUIScan& scan = KXUIScan::instance();
        if (!scan.IsOperationExit() && scan.GetStatus() != OP_STOP_REQUESTED) return false;
        {
            SimpleLock trees(&g_lockerAddData);
            ResultTreeArrays().Reset();
        }
        ResetRefreshClock();
        scan.ClearData();
        KXTypeMgr::share().clear();
        KXTimeMgr::share().clear();
        // Running before the thread starts: the result window's timer sees a scan at once.
        scan.SetStatus(OP_RUNNING);
        if (SaveRestoreResult::DoRestoreScanResult(path.c_str(), &scan, imagePath.c_str(), &worker) != 0) {
            scan.SetStatus(OP_IDLE);
            return false;
        }
    }
    std::lock_guard<std::mutex> hold(g_saveMutex);
    g_saveOrLoadWorker = std::move(worker);
    return true;
}

void KXUIController::RestorPostUIUpdate(const std::string& key, int save) {
    KXUIOperation* operation = nullptr;
    if (save) {
        operation = &KXSaveAndRestoreNodeOperate::instance();
        operation->SetStatus(OP_RUNNING);
    } else {
        operation = &KXUIScan::instance();
        // A load that has already ended stays ended, else its poll would never finish.
        if (IsAlive(SaveOrLoadWorker())) operation->SetStatus(OP_RUNNING);
    }
    WorkerRegistry::Instance().Start("QueryUpdateUI", [operation, key] { dispatch::QueryUpdateUI(*operation, key); });
}

bool KXUIController::IsSaveOrLoadWorkerAlive() {
    return IsAlive(SaveOrLoadWorker());
}

void KXUIController::GetSaveorRestoreProgress(u64* total, u64* current, u64* code, bool saver) {
    const _PROGRESS_INFO record = saver ? KXSaveAndRestoreNodeOperate::instance().GetProgressInfo()
                                        : KXUIScan::instance().GetProgressInfo();
    if (total) *total = record.total;
    if (current) *current = record.status == PROGRESS_FINISHED ? record.total : record.current;
    if (code) *code = static_cast<u64>(record.errorCode);
}

bool KXUIController::SavePathToPList(const std::string& folder) {
    return ResourcePropertyList::PrivateData().SetString(brelvox::foundation::private_data::kSavePath, folder);
}

std::optional<std::string> KXUIController::GetSavePath() {
    return ResourcePropertyList::PrivateData().GetString(brelvox::foundation::private_data::kSavePath);
}

std::string KXUIController::GetSaveFileName() {
    std::string name;
    if (IStorageDevice* device = KXUIScan::instance().GetSavedStorage()) {
        _DiskVolumeData row;
        KXUIDeviceData& model = KXUIDeviceData::instance();
        if (model.GetVolumeDataByStorage(device, row) || model.GetDiskDataByStorage(device, row)) name = row.name;
    }
    return SaveRestoreResult::MakeSaveFileName(name, BridgeClock().Time(), SaveRestoreResult::SaveNameStyle::Result);
}

std::string KXUIController::GetSaveDmgFileName(const std::string& name) {
    return SaveRestoreResult::MakeSaveFileName(name, BridgeClock().Time(), SaveRestoreResult::SaveNameStyle::Image);
}

std::string KXUIController::GetDefaultSavePath() {
    const fs::path folder = UserDataDirectory() / "Brelvox" / "SaveScan";
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder, error)) return "";
    return folder.string();
}

PropertyList KXUIController::ZZGetConfigDictionary(const std::string& folder) {
    const fs::path path = fs::path(folder) / kSupportFolder / kConfigFile;
    std::lock_guard<std::mutex> hold(g_configLock);
    std::optional<PropertyList> list = PropertyList::Load(path.string());
    if (list && list->IsDictionary()) return *list;
    return PropertyList();
}

bool KXUIController::ZZGetCompleteProtect(const std::string& folder) {
    return ZZGetConfigDictionary(folder).GetBool(kKeyCompleteProtect).value_or(false);
}

bool KXUIController::ZZGetQuickProtect(const std::string& folder) {
    return ZZGetConfigDictionary(folder).GetBool(kKeyQuickProtect).value_or(false);
}

bool KXUIController::IsAppRunning() {
    return KXCPPPublic::instance().IsAppRunning();
}

void KXUIController::SpyIDEnd() {
    using namespace brelvox::foundation;
    if (!UserDefaults::Standard().GetBool(defaults_key::kParticipate)) return;
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> hold(g_saveMutex);
        hook = g_spyIDEndHook;
    }
    if (hook) hook();
}

void KXUIController::SetSpyIDEndHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> hold(g_saveMutex);
    g_spyIDEndHook = std::move(hook);
}

void KXUIController::SetQuitHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> hold(g_saveMutex);
    g_quitHook = std::move(hook);
}

bool KXUIController::CloseApp(std::chrono::milliseconds limit) {
    // Every task is asked to stop: the scan and a load (through the scan operation), the recovery,
    // the search and a save (whose unfinished file is removed, an older one kept whole).
    KXUIScan::instance().StopOperation(1);
    KXUIRecovery::instance().StopOperation(1);
    StopSearch();
    SaveRestoreResult::StopSaving();

    IClock& clock = BridgeClock();
    const IClock::TimePoint deadline = clock.Now() + limit;
    WorkerRegistry& workers = WorkerRegistry::Instance();
    while (workers.RunningCount() != 0 && clock.Now() < deadline) clock.SleepFor(kCloseStep);
    const bool joined = workers.RunningCount() == 0;
    if (joined) {
        workers.JoinAll();
        KXUIPublic::WaitForBackgroundWork();
    } else {
        CatchExeception::Instance()->WriteLog("CloseApp: %zu workers still run after the wait\n",
                                              workers.RunningCount());
    }
    CMessageCenter::Instance()->StopReceiveMessage();
    SpyIDEnd();
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> hold(g_saveMutex);
        hook = g_quitHook;
    }
    if (hook) hook();
    return joined;
}
