// The facade through which the windows reach the operations layer: every call a window makes into the
// scan, the device model and the recovery is a class method here. Calls come from the main thread; the
// work runs on joinable workers and reports through notifications posted on the main thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/ResultTree/DiskVolumeNodeData.h"
#include "bridge/ResultTree/IIconProvider.h"
#include "bridge/ResultTree/OpNodeData.h"
#include "engine/Common/Types.h"
#include "platform/foundation/PropertyList.h"

class IFileNode;
class IResultTreeArrays;

class KXUIController {
public:
    KXUIController() = delete;

    // --- Devices ---
    // Not enumerated yet: enumerates on a background thread, then posts key; enumerated: posts key at
    // once; enumeration under way: nothing.
    static void NotifiyDeviceInfoAfterInit(const std::string& key);
    static void InitDeviceInfoInBgThread();
    // Appends one row per listed disk or image, its volumes as children (none for a disk without volumes).
    static void GetDeviceInfoToArray(DiskVolumeNodeData::Rows* rows);
    // Stops a running scan, waits for its worker (at most 30 s) and enumerates the devices again. False
    // when the worker did not return in time: nothing is re-enumerated under it.
    static bool RefreshDeviceInfo();
    // Adds the image of the product's own EDI format at path to the device list (once per image); false
    // when it cannot be read as one.
    static bool KXOpenEdiFile(const std::string& path);
    // Adds an Apple disk image or a flat raw image (of any name) at path to the device list; false when
    // it would be read wrongly (encrypted, compressed, chunks away from their flat place), when it holds
    // 512 bytes or less, or when its path is longer than 1023 bytes.
    static bool KXOpenDmgFile(const std::string& path);

    // --- Set-up of a scan ---
    // Hands the catalogue's extension lists of the six categories to the engine's type table.
    static void initFileType();
    // The file categories (_FILTER_TYPE bits) a scan keeps.
    static void SetRecoveryType(u32 mask);
    // The view of the result window's current tab: 0 path, 1 type, 2 created, 3 modified.
    static void SetViewType(int viewType);
    // The pause-adding-data flag of the result window.
    static void KXSetFlag(int flag);

    // --- Scans ---
    // Starts the scan of the device at (disk, volume); false when it cannot start: no such device, a
    // scan (or its worker, after a stop) or a recovery still running, or no thread.
    static bool DoScanWithDiskIndex(int diskIndex, int volumeIndex, const std::string& postKey, void* target = nullptr);
    // A quick scan of the row's device (nothing for a null row).
    static bool DoScanWithData(const DiskVolumeNodeData* row, const std::string& postKey, void* target = nullptr);
    // A deep scan of the row's device.
    static bool DoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey, void* target = nullptr);
    static bool isEdiDoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey,
                                        void* target = nullptr);
    // A deep scan of the device of the last scan.
    static bool DoDeepScan(void* target, const std::string& postKey);
    static void PauseOrResumeScan();
    // flag 1: stop without building the result tree.
    static void StopScan(int flag);
    static void ResetShouldBuild();
    static bool IsScanRunning();
    static bool IsPause();
    static bool IsDeepScan();
    // Percentage and found files; answers the remaining time "hh:mm:ss", or "-:-:-" when unknown.
    static std::string GetScanProgress(double* percent, u64* fileCount);
    // The remaining time after elapsed seconds with current of total done: the extrapolation, halved
    // below a quarter and times 0.7 below half; "-:-:-" in the first second, before anything was
    // read, below 1 % and from 101 hours on.
    static std::string RemainingTimeText(i64 elapsedSeconds, u64 total, u64 current);
    static void GetScanFileSize(u64* size, u64* count);
    // Unticks every node of the scan's results.
    static void UnselectedAllNodes();
    // True while the scan worker has not returned (also after its status went back to idle).
    static bool IsScanWorkerAlive();

    // --- Recovery ---
    // The ticked and shown files, in category order; their size total is added to *size.
    static std::vector<IFileNode*> GetSelectedFilesAndSize(u64* size);
    // Their count and size, also kept as the recovery's totals.
    static void GetSelectedFilesAmout(int* count, u64* size);
    static bool IsRecoveryToSameDevice(const std::string& path);
    // Starts copying the ticked files under path, posting postKey while it runs: 0 when started;
    // else the reason (no list or path, the scanned device, a recovery running, no thread).
    static i64 DoRecovery(const void* nodeList, const std::string& path, const std::string& postKey,
                          const void* object = nullptr);
    static bool IsRecoveryRunning();
    // True while the recovery is paused (by the user, or waiting for room).
    static bool IsRecoveryPaused();
    // The recovery's total and current bytes and its last code; answers the current file's name.
    static std::string GetRecoveryProgressTotal(u64* total, u64* current, i64* code);
    static void PauseOrResumeRecovery();
    static void StopRecvoery();
    static u64 GetRecoveridedSize();
    // Files copied, failed and skipped by the recovery, and the first failure's code (0: none).
    static u64 GetRecoveridedFiles();
    static u64 GetRecoveryFailedFiles();
    static u64 GetRecoverySkippedFiles();
    static u64 GetRecoveryFirstFailure();
    static int GetCurrentScanRecoveryCnt();
    static void ReleaseDataRecovery();
    // True while the recovery worker has not returned.
    static bool IsRecoveryWorkerAlive();

    // --- Result tree arrays ---
    // The top-level nodes of one tree, owned by the result window.
    using TreeArray = std::vector<OpNodeData::Ptr>;
    // The four arrays by "KXKeyNodePath", "KXKeyNodeType", "KXKeyNodeCreateTime" and
    // "KXKeyNodeModifyTime" (a key left out: that tree is not kept).
    using TreeArrays = std::map<std::string, TreeArray*>;
    static constexpr const char* kKeyNodePath = "KXKeyNodePath";
    static constexpr const char* kKeyNodeType = "KXKeyNodeType";
    static constexpr const char* kKeyNodeCreateTime = "KXKeyNodeCreateTime";
    static constexpr const char* kKeyNodeModifyTime = "KXKeyNodeModifyTime";
    // Extra passes of a forced refresh over folders still waiting for their parent.
    static constexpr int kExtraPathPasses = 100;

    // The arrays the refresh of a scan and a search rebuild (main thread, g_lockerAddData held).
    static IResultTreeArrays& Trees();
    // Stores the arrays; false for null.
    static bool KXSetTreeNodeData(const TreeArrays* arrays);
    // Rebuilds the type, created, modified and path trees; flag 1 places waiting folders in up to
    // 100 extra passes, flag 2 walks every folder instead of the new ones.
    static void KXGetTreeNodeData(int flag);
    // The same, the type and date trees looking at no more than budget new files each; true when
    // files are left for a later rebuild.
    static bool KXGetTreeNodeData(int flag, size_t budget);
    // New files a refresh of a scan places per tree at most: a batch of any size costs the main
    // thread a bounded time, and what is left follows in the next refreshes.
    static constexpr size_t kFilesPerRebuild = 10000;
    static bool KXGetTreeNodeDataPath(int flag);
    // Tree nodes for the folders not placed yet, in the order made (each knows its parent node).
    static bool KXGetNewPathOpNode(TreeArray* out, int flag);
    // One pass: folders whose parent has a tree node get theirs; the others are answered.
    static std::vector<IFileNode*> KXGetNewPathOpNodeImp(TreeArray* out, const std::vector<IFileNode*>& folders);
    // Folders waiting for their parent, and the count left out by the last forced refresh.
    static size_t PendingPathNodes();
    static size_t LostPathNodes();
    // Empties the four arrays and the waiting folders and forgets every node's tree node.
    static void KXResetTreeNodeData();
    // Shows and unticks every partition root of the scan.
    static void KXCleanState();
    // State 0 on the top-level nodes of the four arrays (their children keep theirs).
    static bool KXCleanOpNodeSate();

    // --- Result tree queries ---
    // Partition roots of the scan into array (the path view), then AddNodeToArr; clear shows and
    // unticks the roots first. Answers false.
    static bool GetScanTreeNodeData(TreeArray* array, bool clear);
    static void AddNodeToArr(TreeArray* array);
    static void AddPathNodeToArray(TreeArray* array);
    static void AddTypeNodeToArr(TreeArray* array);
    // With a budget of new files looked at; true when some are left.
    static bool AddTypeNodeToArr(TreeArray* array, size_t budget);
    // An empty array receives one root named by the key's title (2 created, 3 modified, 4 last
    // access), then the time manager places the key's files under the first node.
    static void AddDateNodeToArray(TreeArray* array, int keyType);
    static bool AddDateNodeToArray(TreeArray* array, int keyType, size_t budget);
    // The files a node lists: its shown files (path view), an extension's files (type view), a
    // month's files (date views).
    static bool GetFileNodeToArray(std::vector<IFileNode*>* out, OpNodeData* node);
    static bool GetPathInfoToArray(std::vector<IFileNode*>* out, OpNodeData* node);
    static bool GetTypeInfoToArray(std::vector<IFileNode*>* out, OpNodeData* node);
    static bool GetDateInfoToArray(std::vector<IFileNode*>* out, OpNodeData* node);
    static size_t GetNodeChildrenCnt(const OpNodeData* node);
    // Places a file under its year and month of the current view's time below root.
    static void AddFileNode(IFileNode* node, const OpNodeData::Ptr& root);
    static int GetDateInsertIndex(const std::string& name, const std::vector<OpNodeData::Child>& groups);
    static bool IsFileNodeInArr(IFileNode* node, const TreeArray& array);
    // A group's state from its files' check states (hidden files do not count).
    static void setNodeState(OpNodeData* group, const std::vector<IFileNode*>& files);
    // Month states of the date roots; change 1 only when the time manager asks for it.
    static void RefreshTimeTreeState(const TreeArray& roots, int change);
    static void RefreshTypeTreeState(OpNodeData* node);
    static IconImage getImageForType(const std::string& extension);
    static void KXTableViewCellCilck();
    static void RefreshData();

    // --- Search by name ---
    // Starts a search on its own thread; false (logged) while one has not been stopped.
    static bool DoSearchWithString(const std::string& key, const std::string& postKey);
    static void DoSearchFn(const std::string& postKey);
    static std::string GetSearchString();
    static void StopSearch();
    // The shown files by category while a key is set; nothing without one.
    static void GetSearchResultToArr(std::vector<IFileNode*>* out);
    static bool KXGetIsSearching();
    // True while the search worker has not returned.
    static bool IsSearchWorkerAlive();

    // --- Previews and thumbnails (main thread and the result window's loader threads) ---
    // A found file's picture for the preview, the grid and the cover flow, fitting 192 x 192: a
    // picture decoded from its bytes, a raw camera or Photoshop file or a movie through a private
    // copy, else the icon of its extension. Null only for a null node or when no filter exists.
    static IconImage GetNSImageByFildNode(IFileNode* node);
    // The same for a node given by its address (0: null).
    static IconImage GetNSImageByFildNodeNSNumber(std::uintptr_t address);
    // The same for a tree node's file (null for none).
    static IconImage GetNSImageByNode(const OpNodeData* node);
    // The decoder's thumbnail of the file at path; null when it reads none.
    static IconImage getVideoThumbFromPath(const std::string& path);

    // Waits for every worker and poll thread (at quitting; tests).
    static void JoinWorkers();

    // --- Saved scan results, configuration and close ---
    // save non-zero: saves the scan's results to path on a worker; 0: empties the results and trees,
    // marks the scan running and loads path on a worker (imagePath: the EDI image, empty when none).
    // False when it cannot start: a scan, recovery, save or load still running, an empty path, no thread.
    static bool beginSaveOrRestoreNode(int save, const std::string& path, const std::string& imagePath);
    // Marks the save operation (save non-zero) or the scan operation running and starts a poll thread
    // that posts key on every progress step, then "QueryProgressFinish". A load that already ended is
    // not marked running again (its poll posts the end at once).
    static void RestorPostUIUpdate(const std::string& key, int save);
    // True while the last save or load started has not returned.
    static bool IsSaveOrLoadWorkerAlive();
    // Total, current and code of the save (saver) or of the load; a finished record reports current
    // equal to total.
    static void GetSaveorRestoreProgress(u64* total, u64* current, u64* code, bool saver);
    // The folder last used for saving ("SavePath" of "PrivateData", in the per-user overlay); false
    // when it could not be stored.
    static bool SavePathToPList(const std::string& folder);
    static std::optional<std::string> GetSavePath();
    // "DEVICE_MM-DD-YYYY at hh:mm:ss" of the scanned device at the bridge clock's local time, and the
    // same with the given name and "hh_mm_ss".
    static std::string GetSaveFileName();
    static std::string GetSaveDmgFileName(const std::string& name);
    // "SaveScan" in the per-user data folder, created when missing; empty when it cannot be made.
    static std::string GetDefaultSavePath();
    // folder/.Brelvoxfiles/config.plist as a dictionary (empty when missing or unreadable), and its two
    // protection flags (false when absent).
    static brelvox::foundation::PropertyList ZZGetConfigDictionary(const std::string& folder);
    static bool ZZGetCompleteProtect(const std::string& folder);
    static bool ZZGetQuickProtect(const std::string& folder);
    // Another copy of the program runs.
    static bool IsAppRunning();
    // Ends the usage statistics through the hook set by the application, only when the user takes part.
    static void SpyIDEnd();
    static void SetSpyIDEndHook(std::function<void()> hook);
    // Stops the scan, the recovery, the search, a save and a load, waits for every worker at most
    // limit, stops the engine's event delivery, ends the statistics and calls the quit hook (the
    // application leaves its event loop there; nothing calls exit). True when every worker was
    // joined; false when some still run: the application must then end without running the
    // destructors of static objects (_exit).
    static bool CloseApp(std::chrono::milliseconds limit = kCloseWait);
    static void SetQuitHook(std::function<void()> hook);
    static constexpr std::chrono::milliseconds kCloseWait{30000};
};
