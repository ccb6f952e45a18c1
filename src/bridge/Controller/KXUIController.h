// The facade through which the windows reach the operations layer: every call a window makes into the
// scan, the device model and the recovery is a class method here. Calls come from the main thread; the
// work runs on joinable workers and reports through notifications posted on the main thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bridge/ResultTree/DiskVolumeNodeData.h"
#include "engine/Common/Types.h"

class IFileNode;

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

    // Waits for every worker and poll thread (at quitting; tests).
    static void JoinWorkers();
};
