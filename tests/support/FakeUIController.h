// A scriptable stand-in for the operations layer as the windows and the result-tree model reach it:
// it records every call, serves the scan maps, state, progress and view type that a test sets, plays
// scripted steps (state changes, progress, posted notifications), and answers the utility calls
// (paths, time texts, category titles, year and month) with the bridge's own utilities.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bridge/UIController/IUIController.h"
#include "support/FakeSearchers.h"

namespace brelvox::foundation {
class NotificationCenter;
}

namespace testsupport {

class FakeUIController : public IUIController {
public:
    struct Progress {
        double percent = 0;
        u64 files = 0;
        std::string remaining = "-:-:-";
    };
    // One scripted step: what changes, then what is posted (on the main-thread queue), then action.
    struct Step {
        std::optional<bool> running;
        std::optional<bool> paused;
        std::optional<Progress> progress;
        std::vector<std::string> posts;
        std::function<void()> action;
    };

    // Posts go to centre (the default centre when null).
    explicit FakeUIController(brelvox::foundation::NotificationCenter* centre = nullptr);

    // --- Scripting ---
    void SetScanState(bool running, bool paused);
    void SetProgress(const Progress& progress);
    void SetScanType(int viewType);
    void AddToTypeMap(u32 bit, IFileNode* node);
    void AddToTimeMap(int keyType, int year, int month, IFileNode* node);
    // Files a node as the scan does: in the type map under bit, and in the creation- and
    // modification-time maps under the local year and month of its times (a time of 0 included).
    void FileFound(IFileNode* node, u32 bit);
    void ClearMaps();
    void AddStep(Step step);
    // Plays the next step; false when none is left.
    bool PlayNextStep();
    // Queues name for the main thread, as the operations layer posts.
    void Post(const std::string& name);

    // What the device and recovery calls answer.
    struct RecoveryState {
        bool running = false;
        // Paused by the user or for room; PauseOrResumeRecovery flips it while running.
        bool paused = false;
        u64 total = 0;
        u64 current = 0;
        i64 code = 0;
        std::string fileName;
        u64 copied = 0;
        u64 failed = 0;
        u64 skipped = 0;
        u64 firstFailure = 0;
    };
    // Rows appended by GetDeviceInfoToArray (the fake posts the key of NotifiyDeviceInfoAfterInit at once).
    void SetDeviceRows(DiskVolumeNodeData::Rows rows);
    // The answer of the scan starts (true) and of DoRecovery (0), and whether the destination is the
    // scanned device (false).
    void SetStartAnswer(bool started);
    void SetRecoveryAnswer(i64 code);
    void SetSameDevice(bool same);
    void SetRecoveryState(const RecoveryState& state);
    void SetSelection(int count, u64 size);
    // What GetFreeSpace answers for every path: the bytes, or nothing (false and 0). Nothing at first.
    void SetFreeSpace(std::optional<u64> bytes);
    // What IsEdiRsf answers (false).
    void SetEdiRsf(bool edi);
    // What the preview calls answer (null at first).
    void SetPreviewImage(IconImage image);

    // Every call received, as "ui:Name" lines in order.
    CallLog& Calls() { return m_calls; }

    // --- IUIController ---
    bool IsScanRunning() override;
    bool IsPause() override;
    std::string GetScanProgress(double* percent, u64* fileCount) override;
    int GetScanType() override;
    TypeMap GetTypeMap() override;
    TimeMap GetCreateTimeMap() override;
    TimeMap GetModifyTimeMap() override;
    std::string GetNodeExt(IFileNode* node) override;
    std::string GetPathByFileNode(IFileNode* node) override;
    std::string FormatFileTimeToString(_FILETIME time) override;
    void GetYearMonthByFileTime(int* year, int* month, _FILETIME time) override;
    std::string FilterTypeToString(u32 bit) override;
    u32 StringToFilterType(const char* text) override;

    void NotifiyDeviceInfoAfterInit(const std::string& key) override;
    void GetDeviceInfoToArray(DiskVolumeNodeData::Rows* rows) override;
    bool RefreshDeviceInfo() override;
    bool USBNotifier_init(brelvox::foundation::IDescriptorWatcher& watcher) override;
    void USBNotifier_dealloc() override;
    bool KXOpenEdiFile(const std::string& path) override;
    bool KXOpenDmgFile(const std::string& path) override;
    void initFileType() override;
    void SetRecoveryType(u32 mask) override;
    void SetViewType(int viewType) override;
    void KXSetFlag(int flag) override;
    bool DoScanWithDiskIndex(int diskIndex, int volumeIndex, const std::string& postKey) override;
    bool DoScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) override;
    bool DoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) override;
    bool isEdiDoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) override;
    bool DoDeepScan(const std::string& postKey) override;
    void PauseOrResumeScan() override;
    void StopScan(int flag) override;
    void ResetShouldBuild() override;
    bool IsDeepScan() override;
    void GetScanFileSize(u64* size, u64* count) override;
    void UnselectedAllNodes() override;
    void ReleaseDataRecovery() override;
    void GetSelectedFilesAmout(int* count, u64* size) override;
    bool IsRecoveryToSameDevice(const std::string& path) override;
    i64 DoRecovery(const void* nodeList, const std::string& path, const std::string& postKey) override;
    bool IsRecoveryRunning() override;
    std::string GetRecoveryProgressTotal(u64* total, u64* current, i64* code) override;
    bool IsRecoveryPaused() override;
    void PauseOrResumeRecovery() override;
    void StopRecvoery() override;
    u64 GetRecoveridedFiles() override;
    u64 GetRecoveryFailedFiles() override;
    u64 GetRecoverySkippedFiles() override;
    u64 GetRecoveryFirstFailure() override;
    bool GetFreeSpace(const std::string& path, u64* bytes) override;
    // The tree calls are recorded; the arrays handed over are kept (Arrays()); a search records its
    // key, posts its key and "DoSearchFinished", and runs until StopSearch.
    bool KXSetTreeNodeData(const TreeArrays* arrays) override;
    void GetScanTreeNodeData(TreeArray* array, bool clear) override;
    bool GetFileNodeToArray(std::vector<IFileNode*>* out, OpNodeData* node) override;
    size_t GetNodeChildrenCnt(const OpNodeData* node) override;
    void RefreshTimeTreeState(const TreeArray& roots, int change) override;
    void RefreshTypeTreeState(OpNodeData* node) override;
    IconImage getImageForType(const std::string& extension) override;
    void KXTableViewCellCilck() override;
    void RefreshData() override;
    void KXCleanState() override;
    bool KXCleanOpNodeSate() override;
    void KXResetTreeNodeData() override;
    bool DoSearchWithString(const std::string& key, const std::string& postKey) override;
    std::string GetSearchString() override;
    void StopSearch() override;
    void GetSearchResultToArr(std::vector<IFileNode*>* out) override;
    bool KXGetIsSearching() override;
    // Saves and loads are recorded and answer SetStartAnswer's value; the progress answers
    // SetSaveProgress's record; the save folder is kept in memory; CloseApp is recorded and answers true.
    bool beginSaveOrRestoreNode(int save, const std::string& path, const std::string& imagePath) override;
    void RestorPostUIUpdate(const std::string& key, int save) override;
    void GetSaveorRestoreProgress(u64* total, u64* current, u64* code, bool saver) override;
    bool SavePathToPList(const std::string& folder) override;
    std::optional<std::string> GetSavePath() override;
    std::string GetSaveFileName() override;
    bool IsEdiRsf() override;
    bool IsAppRunning() override;
    bool CloseApp() override;
    // The update stamp is kept in memory (none at first); the network test answers false and the
    // system version 1015, as the adapter does.
    std::optional<std::string> getUpDataTimeStr() override;
    bool writeUpDataTimeStr(const std::string& stamp) override;
    bool isCanBeUseNetWork() override;
    int getSystemVersion() override;
    // What CloseApp (true) and isCanBeUseNetWork (false) answer; the stored update stamp.
    void SetCloseAnswer(bool joined);
    void SetNetworkAnswer(bool usable);
    void SetUpdateStamp(std::optional<std::string> stamp);

    struct SaveProgress {
        u64 total = 100;
        u64 current = 0;
        u64 code = 0;
    };
    void SetSaveProgress(const SaveProgress& progress);
    void SetSaveFileName(const std::string& name);
    IconImage GetNSImageByFildNode(IFileNode* node) override;
    IconImage GetNSImageByFildNodeNSNumber(std::uintptr_t address) override;
    IconImage GetNSImageByNode(const OpNodeData* node) override;
    IconImage getVideoThumbFromPath(const std::string& path) override;

    TreeArrays Arrays() const;

private:
    bool Start(const std::string& call);

    brelvox::foundation::NotificationCenter* m_centre;
    CallLog m_calls;
    mutable std::mutex m_mutex;
    bool m_running = false;
    bool m_paused = false;
    Progress m_progress;
    int m_viewType = 0;
    TypeMap m_typeMap;
    TimeMap m_createMap;
    TimeMap m_modifyMap;
    std::deque<Step> m_steps;
    DiskVolumeNodeData::Rows m_rows;
    bool m_startAnswer = true;
    i64 m_recoveryAnswer = 0;
    bool m_sameDevice = false;
    bool m_deep = false;
    RecoveryState m_recovery;
    int m_selectedCount = 0;
    u64 m_selectedSize = 0;
    std::optional<u64> m_freeSpace;
    bool m_ediRsf = false;
    TreeArrays m_arrays;
    std::string m_searchKey;
    bool m_searching = false;
    SaveProgress m_saveProgress;
    std::optional<std::string> m_savePath;
    std::string m_saveFileName = "Untitled_01-01-2024 at 00:00:00";
    IconImage m_previewImage;
    bool m_closeAnswer = true;
    bool m_networkAnswer = false;
    std::optional<std::string> m_updateStamp;
};

// Makes a controller the process's controller for a scope, restoring the previous one after.
class ScopedUIController {
public:
    explicit ScopedUIController(IUIController* controller) : m_previous(GetUIController()) {
        SetUIController(controller);
    }
    ~ScopedUIController() { SetUIController(m_previous); }
    ScopedUIController(const ScopedUIController&) = delete;
    ScopedUIController& operator=(const ScopedUIController&) = delete;

private:
    IUIController* m_previous;
};

}  // namespace testsupport
