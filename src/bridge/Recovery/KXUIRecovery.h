// The recovery operation: copies every ticked and shown file of the scan's results into a
// destination folder, one numbered folder per searcher type, through the data-recovery object of the
// file's searcher type (deep scans) or of its partition root (quick scans). It counts the files
// copied, failed and skipped, keeps the first failure's code, pauses when a copy has to wait for the
// user (code 0xD03) and never writes onto the scanned device.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "bridge/Operation/KXUIOperation.h"
#include "bridge/Utilities/RecoveryFilePath.h"
#include "engine/Common/ResultCode.h"

class IDataRecovery;
class IFileNode;
class IRecoveryController;
class IStorageDevice;

class KXUIRecovery : public KXUIOperation {
public:
    // A data-recovery object shared by the table and a running walk; released with the last holder.
    using RecoveryObject = std::shared_ptr<IDataRecovery>;

    static constexpr u8 kModule = result::kModuleController;
    // No node list or no destination: nothing started.
    static constexpr u64 kBadArguments = result::Make(kModule, 0x0524, 1);
    // The destination lies on the scanned device: nothing started.
    static constexpr u64 kDestinationOnScannedDevice = result::Make(kModule, 0x0525, result::kKindBadArgument);
    // No recovery can start while one runs or is paused.
    static constexpr u64 kRecoveryRunning = result::Make(kModule, 0x0526, result::kKindSystemRefused);
    // The file (or a folder above it) could not be made in the destination.
    static constexpr u64 kCannotMakeDestination = result::Make(kModule, 0x0527, 0xF);
    // The node's data could not be opened for reading.
    static constexpr u64 kNoReader = result::Make(kModule, 0x0528, result::kKindMissingObject);
    // Part of the node's data could not be read: the copy was not kept.
    static constexpr u64 kUnreadableData = result::Make(kModule, 0x0529, result::kKindSystemRefused);
    // The copy could not be closed cleanly.
    static constexpr u64 kCannotCloseDestination = result::Make(kModule, 0x052A, 0xF);
    // Low 32 bits of an engine code that asks for the user: the recovery pauses.
    static constexpr u32 kWaitForUser = 0xD03;

    static KXUIRecovery& instance();

    KXUIRecovery();
    ~KXUIRecovery() override;

    // --- Table of data-recovery objects (deep scans) ---
    // Clears the current node and the progress, refills the table; the totals are zeroed. Does
    // nothing while a recovery runs or is paused.
    void ResetParam();
    void InitDataRecoveryController();
    void ReleaseDataRecovery();
    bool CheckWhetherNeedReset();
    RecoveryObject GetDataRecoveryByType(u32 searcherType);

    // --- Settings and counters ---
    void SetRecoveryPath(const char* path);
    std::string GetRecoveryPath();
    void SetRecoveryTotalSize(u64 size) { m_totalSize.store(size); }
    void SetRecoveryTotalFilesCnt(u64 count) { m_totalFiles.store(count); }
    u64 GetRecoveryTotalSize() { return m_totalSize.load(); }
    u64 GetRecoveryTotalFilesCnt() { return m_totalFiles.load(); }
    void SetCreateDirIndex(u32 searcherType, int index) { m_folders.Set(searcherType, index); }
    int GetCreateDirIndex(u32 searcherType) { return m_folders.Get(searcherType); }
    void ClearCreateDirIndex() { m_folders.Clear(); }
    RecoveryFolderTable& Folders() { return m_folders; }
    IFileNode* GetCurrentRecoveryNode() { return m_currentNode.load(); }
    u64 GetRecoveriedFileSize() { return m_recoveredSize.load(); }
    // Files copied in this recovery.
    u64 GetRecoveriedFilesCnt() { return m_copiedFiles.load(); }
    // Files that could not be copied (nothing of them is left in the destination).
    u64 GetFailedFilesCnt() { return m_failedFiles.load(); }
    // Ticked files that had no data-recovery object or no searcher type.
    u64 GetSkippedFilesCnt() { return m_skippedFiles.load(); }
    // The code of the first failed file; 0 when none failed.
    u64 GetFirstFailureCode() { return m_firstFailure.load(); }

    // True when writing under path could write onto the device the scan's results come from.
    bool RecoveryPathIsSameDevice(const char* path);

    // The walk, on the recovery worker: the first failure's code, 0 when every file was copied.
    u64 DoRecovery();
    int UpdateProgress(_PROGRESS_INFO* record) override;

private:
    enum class Outcome { kCopied, kFailed, kSkipped, kStopped };
    static bool HoldsWholeFile(const RecoveryFile& file, IFileNode* node);
    // Makes sure the table fits the scan (refilled once after a quick scan was followed by a deep one).
    void EnsureTable();
    RecoveryObject ObjectFor(IFileNode* node);
    Outcome RecoverNode(IFileNode* node, u64& code);
    void CountFailure(u64 code);
    void StoreEndRecord();

    std::mutex m_tableMutex;
    IRecoveryController* m_controller = nullptr;  // the scan's; not owned
    std::map<u32, RecoveryObject> m_table;
    int m_deepTable = 0;

    std::mutex m_pathMutex;
    std::string m_recoveryPath;
    RecoveryFolderTable m_folders;

    std::atomic<u64> m_totalSize{0};
    std::atomic<u64> m_totalFiles{0};
    std::atomic<u64> m_recoveredSize{0};
    std::atomic<u64> m_lastPosition{0};
    std::atomic<IFileNode*> m_currentNode{nullptr};
    std::atomic<u64> m_copiedFiles{0};
    std::atomic<u64> m_failedFiles{0};
    std::atomic<u64> m_skippedFiles{0};
    std::atomic<u64> m_firstFailure{0};
};
