// The calls through which the windows and the result-tree model reach the operations layer. The
// application sets one controller (the adapter over the operations layer); tests set a scripted fake.
// Each call is answered on the caller's thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/ResultTree/DiskVolumeNodeData.h"
#include "bridge/ResultTree/IIconProvider.h"
#include "bridge/ResultTree/OpNodeData.h"
#include "engine/Common/SearcherTypes.h"
#include "platform/foundation/DescriptorWatcher.h"

class IFileNode;

class IUIController {
public:
    // Category bit (_FILTER_TYPE) -> the engine nodes the scan filed under it, in the order found.
    using TypeMap = std::map<u32, std::vector<IFileNode*>>;
    // Year -> month (1-12) -> the engine nodes of that month, in the order found.
    using TimeMap = std::map<int, std::map<int, std::vector<IFileNode*>>>;
    // Where a reader of the maps stands: the index of the first entry of a list it has not read yet
    // (a list missing from it: 0), by category bit and by (year, month).
    using TypeResume = std::map<u32, size_t>;
    using TimeResume = std::map<std::pair<int, int>, size_t>;
    // The top-level nodes of one result tree, owned by the result window.
    using TreeArray = std::vector<OpNodeData::Ptr>;
    // The four arrays by "KXKeyNodePath", "KXKeyNodeType", "KXKeyNodeCreateTime", "KXKeyNodeModifyTime".
    using TreeArrays = std::map<std::string, TreeArray*>;

    virtual ~IUIController() = default;

    // Scan state: running covers under way, paused and asked to stop; paused only paused.
    virtual bool IsScanRunning() = 0;
    virtual bool IsPause() = 0;
    // Percentage and found-file count of the scan; answers the remaining time ("-:-:-" when unknown).
    virtual std::string GetScanProgress(double* percent, u64* fileCount) = 0;
    // The view type of the result window's current tab: 0 path, 1 type, 2 created, 3 modified.
    virtual int GetScanType() = 0;

    // Copies of the scan's maps, taken under the scan's own lock.
    virtual TypeMap GetTypeMap() = 0;
    virtual TimeMap GetCreateTimeMap() = 0;
    virtual TimeMap GetModifyTimeMap() = 0;
    // The same maps holding only each list's entries from the reader's index on (lists with nothing
    // past it left out), so a reader that keeps up copies only what is new. The defaults cut down
    // the whole copies; the adapter copies the new entries alone.
    virtual TypeMap GetTypeMapFrom(const TypeResume& from) { return TypeTails(GetTypeMap(), from); }
    virtual TimeMap GetCreateTimeMapFrom(const TimeResume& from) { return TimeTails(GetCreateTimeMap(), from); }
    virtual TimeMap GetModifyTimeMapFrom(const TimeResume& from) { return TimeTails(GetModifyTimeMap(), from); }
    static TypeMap TypeTails(const TypeMap& map, const TypeResume& from);
    static TimeMap TimeTails(const TimeMap& map, const TimeResume& from);
    // The text after the last "." of the node's name, lower-cased; empty when the node, its name or
    // a "." is missing.
    virtual std::string GetNodeExt(IFileNode* node) = 0;

    // The "/"-joined path of a node up to its root (the root gives its volume name); empty for null.
    virtual std::string GetPathByFileNode(IFileNode* node) = 0;
    // A node time (100-ns ticks since 1601) as the lists show it.
    virtual std::string FormatFileTimeToString(_FILETIME time) = 0;
    // Local calendar year and month (1-12) of a node time; both 0 when it cannot be converted.
    virtual void GetYearMonthByFileTime(int* year, int* month, _FILETIME time) = 0;
    // The localised title of a category bit (empty for any other value), and the first bit whose
    // title equals text (64 when none does or text is null).
    virtual std::string FilterTypeToString(u32 bit) = 0;
    virtual u32 StringToFilterType(const char* text) = 0;

    // --- Devices ---
    // Enumerates the devices when that was not done yet, then posts key on the main thread (at once when
    // they are enumerated; nothing while an enumeration runs).
    virtual void NotifiyDeviceInfoAfterInit(const std::string& key) = 0;
    // Appends one row per USB disk or opened image, its volumes as children.
    virtual void GetDeviceInfoToArray(DiskVolumeNodeData::Rows* rows) = 0;
    // Stops a scan and enumerates the devices again; false when the scan did not stop in time.
    virtual bool RefreshDeviceInfo() = 0;
    // Starts the media notifier on the main loop (watcher): arrivals and removals of disks are posted as
    // "RefreshAttachDevice" and "RefreshDetachDevice" (UINotifications.h); false when no device events can
    // be watched.
    virtual bool USBNotifier_init(brelvox::foundation::IDescriptorWatcher& watcher) = 0;
    // Stops the media notifier (its watch ends before the monitor closes); safe when it never started.
    virtual void USBNotifier_dealloc() = 0;
    // Adds a disk image to the device list: the product's own EDI format, or an Apple or flat raw image
    // (false when it cannot be read right).
    virtual bool KXOpenEdiFile(const std::string& path) = 0;
    virtual bool KXOpenDmgFile(const std::string& path) = 0;

    // --- Set-up of a scan ---
    virtual void initFileType() = 0;
    // The file categories (_FILTER_TYPE bits, 127 all) a scan keeps.
    virtual void SetRecoveryType(u32 mask) = 0;
    virtual void SetViewType(int viewType) = 0;
    // The pause-adding-data flag.
    virtual void KXSetFlag(int flag) = 0;

    // --- Scans (false: nothing started) ---
    virtual bool DoScanWithDiskIndex(int diskIndex, int volumeIndex, const std::string& postKey) = 0;
    virtual bool DoScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) = 0;
    virtual bool DoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) = 0;
    virtual bool isEdiDoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) = 0;
    // A deep scan of the device of the last scan.
    virtual bool DoDeepScan(const std::string& postKey) = 0;
    virtual void PauseOrResumeScan() = 0;
    // flag 1: stop without building the result tree.
    virtual void StopScan(int flag) = 0;
    virtual void ResetShouldBuild() = 0;
    virtual bool IsDeepScan() = 0;
    virtual void GetScanFileSize(u64* size, u64* count) = 0;
    virtual void UnselectedAllNodes() = 0;
    virtual void ReleaseDataRecovery() = 0;

    // --- Recovery ---
    // Number and bytes of the ticked files (also kept as the recovery's totals).
    virtual void GetSelectedFilesAmout(int* count, u64* size) = 0;
    virtual bool IsRecoveryToSameDevice(const std::string& path) = 0;
    // 0 when the recovery started; otherwise why it did not (engine code, top byte 0x01).
    virtual i64 DoRecovery(const void* nodeList, const std::string& path, const std::string& postKey) = 0;
    virtual bool IsRecoveryRunning() = 0;
    // Total and current bytes and the last engine code; answers the name of the file being copied.
    virtual std::string GetRecoveryProgressTotal(u64* total, u64* current, i64* code) = 0;
    // True while the recovery is paused (by the user, or waiting for room on the destination).
    virtual bool IsRecoveryPaused() = 0;
    virtual void PauseOrResumeRecovery() = 0;
    virtual void StopRecvoery() = 0;
    // Files copied, failed and skipped, and the first failure's code (0: none).
    virtual u64 GetRecoveridedFiles() = 0;
    virtual u64 GetRecoveryFailedFiles() = 0;
    virtual u64 GetRecoverySkippedFiles() = 0;
    virtual u64 GetRecoveryFirstFailure() = 0;
    // The bytes an unprivileged writer may still put on the file system that holds path; false, with
    // *bytes 0, when path cannot be examined.
    virtual bool GetFreeSpace(const std::string& path, u64* bytes) = 0;

    // --- Result trees (main thread; the arrays change just before "NormalScranValue",
    // the search key and "DoSearchFinished" reach the window) ---
    // Hands over the window's four arrays; false for null.
    virtual bool KXSetTreeNodeData(const TreeArrays* arrays) = 0;
    // The partition roots (path view) and the current view's tree into array; clear shows and
    // unticks the roots first.
    virtual void GetScanTreeNodeData(TreeArray* array, bool clear) = 0;
    // The files a tree node lists (a folder's shown files, an extension's, a month's).
    virtual bool GetFileNodeToArray(std::vector<IFileNode*>* out, OpNodeData* node) = 0;
    virtual size_t GetNodeChildrenCnt(const OpNodeData* node) = 0;
    // Month states of the date roots from their files' ticks (change 1: only when asked for).
    virtual void RefreshTimeTreeState(const TreeArray& roots, int change) = 0;
    // One type node's state, or (null) every node's when the tree asks for it.
    virtual void RefreshTypeTreeState(OpNodeData* node) = 0;
    virtual IconImage getImageForType(const std::string& extension) = 0;
    // A tick in the list: the type and date trees recompute their states when shown next.
    virtual void KXTableViewCellCilck() = 0;
    virtual void RefreshData() = 0;
    virtual void KXCleanState() = 0;
    virtual bool KXCleanOpNodeSate() = 0;
    // Empties the four arrays and the folders waiting for their parent, forgets every node's tree
    // node and restarts the refresh clock (a new deep scan over the results shown).
    virtual void KXResetTreeNodeData() = 0;

    // --- Search by name ---
    // Starts a search for files whose names hold key, posting postKey then "DoSearchFinished";
    // false while the last search has not been stopped.
    virtual bool DoSearchWithString(const std::string& key, const std::string& postKey) = 0;
    virtual std::string GetSearchString() = 0;
    virtual void StopSearch() = 0;
    virtual void GetSearchResultToArr(std::vector<IFileNode*>* out) = 0;
    virtual bool KXGetIsSearching() = 0;

    // --- Saved scan results and close ---
    // save non-zero: saves the results to path; 0: loads path (imagePath: its EDI image or empty).
    // False when it cannot start; a save refused because path lies on the scanned device leaves that
    // reason as the save's progress code.
    virtual bool beginSaveOrRestoreNode(int save, const std::string& path, const std::string& imagePath) = 0;
    // Polls the save (save non-zero) or the load, posting key per step and "QueryProgressFinish".
    virtual void RestorPostUIUpdate(const std::string& key, int save) = 0;
    virtual void GetSaveorRestoreProgress(u64* total, u64* current, u64* code, bool saver) = 0;
    virtual bool SavePathToPList(const std::string& folder) = 0;
    virtual std::optional<std::string> GetSavePath() = 0;
    virtual std::string GetSaveFileName() = 0;
    // True when the results shown were loaded from a saved result bound to an EDI image.
    virtual bool IsEdiRsf() = 0;
    // --- Start-up: the update stamp, the network test and the system version ---
    // The time of the last update check ("yyyy-MM-dd HH:mm:ss", "upDataTimeStr" of "PrivateData"),
    // nothing when none is stored.
    virtual std::optional<std::string> getUpDataTimeStr() = 0;
    // Stores it in the per-user overlay; false when it could not be written.
    virtual bool writeUpDataTimeStr(const std::string& stamp) = 0;
    // Whether the network may be used: this platform never asks a public site, so always false.
    virtual bool isCanBeUseNetWork() = 0;
    // The system version as the windows compare it (major and two-digit minor: 1015).
    virtual int getSystemVersion() = 0;
    virtual bool IsAppRunning() = 0;
    // Stops and joins the operations (bounded), then leaves through the application's quit hook;
    // true when every worker was joined.
    virtual bool CloseApp() = 0;
    // --- Previews and thumbnails (main thread and loader threads) ---
    // A found file's picture fitting 192 x 192, else its extension's icon; null only for a null node
    // or when no filter exists.
    virtual IconImage GetNSImageByFildNode(IFileNode* node) = 0;
    // The same for a node given by its address.
    virtual IconImage GetNSImageByFildNodeNSNumber(std::uintptr_t address) = 0;
    // The same for a tree node's file.
    virtual IconImage GetNSImageByNode(const OpNodeData* node) = 0;
    // The decoder's thumbnail of the file at path; null when it reads none.
    virtual IconImage getVideoThumbFromPath(const std::string& path) = 0;
};

// The controller of this process; null until the application (or a test) sets one. Calls that need
// it answer their neutral value (empty, 0, nothing placed) without one.
IUIController* GetUIController();
void SetUIController(IUIController* controller);
