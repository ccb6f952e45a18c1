// The scan operation of the process: runs a quick or deep scan of a disk or volume on the scan worker
// through the engine's recovery controller, and files every node the engine publishes into the
// indexes the result windows read (partition roots, folders, files by category and by year and month
// of creation and modification, with running totals). It also keeps the data-recovery object of each
// partition root of a quick scan and answers searches by name over its indexes.
//
// The engine calls UpdateProgress, Continued, shouldBuild, ShowNodes and ShowFilesystemNode on the
// worker; windows read copies of the indexes taken under the operation's mutex.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bridge/Operation/KXUIOperation.h"
#include "bridge/UIController/IUIController.h"
#include "engine/Common/IDrirectoryTree.h"
#include "engine/Common/ResultCode.h"
#include "engine/RecoveryController/IRecoveryController.h"

class IDataRecovery;
class IFileNode;
class IFilesystemNode;
class IStorageDevice;
class RestoreScanSink;
struct CCollectedVolumeDeviceInfoStruct;

// GetScanControllerType's answer when there is nothing to scan.
inline constexpr int kNoScanController = 3;

class KXUIScan : public KXUIOperation, public IDrirectoryTree {
public:
    using TypeMap = IUIController::TypeMap;
    using TimeMap = IUIController::TimeMap;
    using ControllerFactory = std::function<IRecoveryController*(_RECOVERY_CONTROLLER_TYPE)>;
    // Released with its last holder: a running recovery keeps the object it copies with.
    using RecoveryObject = std::shared_ptr<IDataRecovery>;

    // Nothing was scanned: no device, no controller type, or no filter.
    static constexpr u64 kNothingScanned = result::Make(result::kModuleRecoveryController, 0x0033, 1);
    // No device or controller for a volume, or a stop came before it.
    static constexpr u64 kVolumeNotScanned = result::Make(result::kModuleRecoveryController, 0x014F, 1);
    // The pause before a scan takes the scan lock.
    static constexpr std::chrono::milliseconds kStartPause{80};

    static KXUIScan& instance();

    KXUIScan();
    ~KXUIScan() override;

    // The engine's recovery controllers unless a test sets its own (null restores them).
    void SetControllerFactory(ControllerFactory factory);

    // --- The scan ---
    // Runs a whole scan on the calling (worker) thread; sink replays a saved result instead of
    // searching. Whatever way it ends, the status is idle afterwards and a forced refresh is posted.
    u64 DoScan(IStorageDevice* device, RestoreScanSink* sink);
    u64 DoVolumeStorageScan(IStorageDevice* device);
    // 3 for no device; deep: 2 for a whole disk, 1 otherwise; quick: 0.
    int GetScanControllerType(IStorageDevice* device);
    void ResetRecoveryController(int type);
    void SetDeepScan(int deep);
    // The deep flag; a volume whose file system is unknown is always scanned deep.
    int IsDeepScan();
    bool IsStorageVolumeUnknow(IStorageDevice* device);
    CCollectedVolumeDeviceInfoStruct* GetStorageVolumeInfo(IStorageDevice* device);
    bool IsStorageMounted(IStorageDevice* device);
    void SaveScanSorage(IStorageDevice* device);
    IStorageDevice* GetSavedStorage();
    // The device the current results were read from. Unlike the saved device it stays after a
    // re-enumeration (its device is kept alive while the results are): recoveries are checked
    // against it.
    IStorageDevice* GetResultStorage();
    IRecoveryController* GetRecoveryController();
    // Empties the indexes and counters (releasing the data-recovery objects) and restarts the clock.
    void ClearData();

    // --- KXUIOperation ---
    int UpdateProgress(_PROGRESS_INFO* record) override;
    int IsOpTreeFinished() override;
    // Setting it delivers a forced refresh asked for while it was not set.
    void SetOpTreeFinished(int finished) override;

    // --- IDrirectoryTree ---
    void ShowNodes(IFileNode** nodes, u32 count, int lost) override;
    void ShowFilesystemNode(IFilesystemNode* root) override;

    // --- Indexes (copies taken under the mutex) ---
    TypeMap GetTypeMap();
    TimeMap GetCreateTimeMap();
    TimeMap GetModifyTimeMap();
    TimeMap GetAccessTimeMap();
    // Only the entries past a reader's indexes (IUIController::GetTypeMapFrom and the like).
    TypeMap GetTypeMapFrom(const IUIController::TypeResume& from);
    TimeMap GetCreateTimeMapFrom(const IUIController::TimeResume& from);
    TimeMap GetModifyTimeMapFrom(const IUIController::TimeResume& from);
    // The files that arrived since the last call.
    std::vector<IFileNode*> GetTypeNode();
    // Partition roots and folders that arrived since the last call.
    std::vector<IFileNode*> KXGetNewPathNode();
    // The partition roots, then every folder.
    std::vector<IFileNode*> KXGetAllPathNode();
    std::vector<IFilesystemNode*> GetFileSystemNode();
    void RefreshAllData();
    // A folder: true, nothing changed; another node: removed from the folder map, true when it was there.
    bool FindRemoveData(IFileNode* node);
    void* KXGetFileNode(IFileNode* node);
    void KXSetFileNode(IFileNode* node, void* treeNode);
    void KXResetFileNode();
    // The data-recovery object of the node's partition root (quick scans); null when there is none.
    RecoveryObject GetFileNodeDataRecover(IFileNode* node);
    void ReleaseDataRecovery();
    void UnselectAllNodes();
    // The size total of the shown files.
    void ReCalTotalSize();
    std::string GetNodeExt(IFileNode* node);
    // Files one node into a year and month map by its creation (or modification) time.
    static void CreateTimeMapByFileNode(TimeMap& map, IFileNode* node, bool creation);

    // --- Search by name ---
    // Null changes nothing; "" clears the key.
    void SetSearchKey(const char* key);
    std::optional<std::string> GetSearchKey();
    void SetSearching(int searching);
    int IsSearching();
    // Shows the nodes that match the key (all without one) and lists the matching files.
    void DoSearch(std::vector<IFileNode*>& found);
    // The pause-adding-data flag of the windows; cleared when a search stops.
    void SetAddDataFlag(int flag) { m_addDataFlag.store(flag); }
    int GetAddDataFlag() const { return m_addDataFlag.load(); }

    // --- Plain values ---
    void SetScanType(int viewType);
    int GetScanType();
    u64 GetScanFileCnt() { return m_scanFileCnt.load(); }
    u64 GetScanFileSize() { return m_scanFileSize.load(); }
    u64 GetSelectedFileCnt() { return m_selectedFileCnt.load(); }
    void SetSelectedFileCnt(u64 count) { m_selectedFileCnt.store(count); }
    u64 GetSelectedFileSize() { return m_selectedFileSize.load(); }
    void SetSelectedFileSize(u64 size) { m_selectedFileSize.store(size); }
    u32 GetCurrentScanRecoveryCnt() { return m_currentScanRecoveryCnt.load(); }
    void SetCurrentScanRecoveryCnt(u32 count) { m_currentScanRecoveryCnt.store(count); }
    int IsEdiRsf();
    void SetEdiRsf(int flag);
    int IsDmgRsf();
    void SetDmgRsf(int flag);
    i32 GetRemainingVolumes() { return m_remainingVolumes.load(); }

private:
    // Ends a scan that cannot go on: idle, a refresh asked for, and a forced refresh posted.
    void EndEarly();
    void FileNode(IFileNode* node);

    ControllerFactory m_controllerFactory;
    RestoreScanSink* m_restoreSink = nullptr;
    IStorageDevice* m_savedStorage = nullptr;
    IStorageDevice* m_resultStorage = nullptr;
    IRecoveryController* m_recoveryController = nullptr;
    std::atomic<int> m_deepScan{0};
    std::atomic<int> m_ediRsf{0};
    std::atomic<int> m_dmgRsf{0};
    std::vector<IFilesystemNode*> m_fileSystemNodes;
    TimeMap m_createTimeMap;
    TimeMap m_modifyTimeMap;
    TimeMap m_accessTimeMap;
    TypeMap m_typeMap;
    std::vector<IFileNode*> m_typeNodes;
    std::map<IFileNode*, void*> m_uiNodeMap;
    std::vector<IFileNode*> m_newPathNodes;
    std::vector<IFileNode*> m_allDirectories;
    std::vector<IFileNode*> m_refreshDirectories;
    std::map<IFileNode*, int> m_directoryMap;
    std::optional<std::string> m_searchKey;
    std::atomic<int> m_searching{0};
    std::atomic<int> m_scanType{0};
    std::atomic<int> m_addDataFlag{0};
    std::atomic<u64> m_selectedFileSize{0};
    std::atomic<u64> m_selectedFileCnt{0};
    std::atomic<i32> m_remainingVolumes{0};
    std::atomic<u64> m_scanFileCnt{0};
    std::atomic<u64> m_scanFileSize{0};
    std::atomic<u32> m_currentScanRecoveryCnt{0};
    std::map<IFilesystemNode*, RecoveryObject> m_dataRecoveryMap;
    // Held for a whole DoScan, so a scan and a load never overlap.
    std::mutex m_scanLock;
};
