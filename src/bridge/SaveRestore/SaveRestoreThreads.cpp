#include "bridge/SaveRestore/SaveRestoreThreads.h"

#include <atomic>
#include <chrono>

#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/Dispatch/Clock.h"
#include "bridge/Dispatch/WorkerRegistry.h"
#include "bridge/Recovery/KXUIRecovery.h"
#include "bridge/Recovery/ScannedDevice.h"
#include "bridge/SaveRestore/FindSavedDevice.h"
#include "bridge/SaveRestore/RestoreScanSink.h"
#include "bridge/SaveRestore/SaveRestoreProgress.h"
#include "bridge/SaveRestore/SavedResultFile.h"
#include "bridge/SaveRestore/SavedResultFormat.h"
#include "bridge/SaveRestore/SavedResultStream.h"
#include "bridge/Scan/KXUIScan.h"
#include "engine/Common/CatchExeception.h"
#include "engine/Common/ResultTreeLock.h"
#include "engine/DataRecovery/DataRecovery.h"
#include "engine/FileArchive/RSData.h"
#include "engine/Utility/IFilesystemNode.h"

namespace SaveRestoreResult {

using namespace saved_result;

namespace {

constexpr const char* kSaveThread = "Static_SaveScanResult";
constexpr const char* kLoadThread = "Static_RestoreScanResult";

// Set by closing; a save polls it between nodes.
std::atomic<bool> g_stopSaving{false};

void Log(const char* thread, int place) { CatchExeception::Instance()->WriteLog("%s %d\r\n", thread, place); }

// The rows of the scanned device as the model shows it: a volume's row, else a disk's or an image's.
bool DeviceRow(KXUIDeviceData& model, IStorageDevice* device, _DiskVolumeData& row) {
    return model.GetVolumeDataByStorage(device, row) || model.GetDiskDataByStorage(device, row);
}

}  // namespace

SaveSource CollectSaveSource(KXUIScan& scan, KXUIDeviceData& model) {
    SaveSource source;
    IStorageDevice* device = scan.GetSavedStorage();
    source.kind.controllerType = static_cast<u32>(scan.GetScanControllerType(device));
    source.kind.deep = static_cast<u32>(scan.IsDeepScan());
    _DiskVolumeData row;
    if (device && DeviceRow(model, device, row)) source.device = SavedDevice::From(row);
    for (IFilesystemNode* root : scan.GetFileSystemNode()) {
        if (!root) continue;
        SavedRoot saved;
        saved.root = root;
        KXUIScan::RecoveryObject recovery = source.kind.controllerType == 0
                                                ? scan.GetFileNodeDataRecover(root)
                                                : KXUIRecovery::instance().GetDataRecoveryByType(root->GetSearcheType());
        if (auto* data = dynamic_cast<CDataRecovery*>(recovery.get())) {
            // Only the first count slots hold records; the others stay empty.
            const auto& records = data->GetSearchedPartition();
            for (size_t i = 0; i < records.size() && i < data->GetPartitionCount(); ++i)
                if (records[i]) saved.partitions.push_back(records[i]);
        }
        if (recovery) source.holders.push_back(recovery);
        source.roots.push_back(std::move(saved));
    }
    return source;
}

void Static_SaveScanResult(const std::string& path, IProgress* sink, const SaveSource& source,
                           const std::function<bool()>& continued) {
    SaveRestoreProgress progress(sink);
    progress.Started();
    Log(kSaveThread, 388);
    u32 code = 0;
    {
        // The windows change shown states and links only under this lock: the walk sees a still tree.
        g_lockerAddData.EnterCS();
        code = SaveScanResultFile(path, source.kind, source.device, source.roots, continued,
                                  [&] { progress.Step(); });
        g_lockerAddData.LeaveCS();
    }
    if (code != 0) progress.TipError(static_cast<int>(code));
    Log(kSaveThread, 560);
    progress.Finished();
}

void Static_RestoreScanResult(const std::string& path, IProgress* sink, const std::string& imagePath,
                              KXUIScan& scan, KXUIDeviceData& model) {
    BridgeClock().SleepFor(std::chrono::seconds(1));
    scan.ClearData();
    SaveRestoreProgress progress(sink);
    progress.Started();
    Log(kLoadThread, 666);
    CRSData archive(RS_MODE_READ);
    progress.Step();
    if (!archive.StartRS(path.c_str(), 0)) {
        Log(kLoadThread, 682);
        progress.TipError(2);
    } else {
        try {
            progress.Step();
            ReadSavedHeader(archive);
            progress.Step();
            const SavedScanKind kind = ReadScanKind(archive);
            progress.Step();
            const SavedDevice record = ReadDevice(archive);
            progress.Step();
            scan.SetDmgRsf(record.isAppleDmg && record.dmgInfo ? 1 : 0);
            scan.SetEdiRsf(record.isEdi && record.ediInfo ? 1 : 0);
            IStorageDevice* device =
                GetFromDiskVolumeData(model, record, imagePath.empty() ? nullptr : imagePath.c_str());
            if (!device) {
                Log(kLoadThread, 787);
                progress.TipError(record.isEdi ? 6 : 7);
            } else {
                progress.Step();
                CRestoreScanSink restore(&archive);
                const bool image = record.isAppleDmg || record.isEdi;
                restore.SetSelector([&](IStorageDevice* replayed) -> std::optional<CRestoreScanSink::Selection> {
                    _DiskVolumeData row;
                    if (model.GetVolumeDataByStorage(replayed, row) && !row.name.empty())
                        return CRestoreScanSink::Selection{image, row.name};
                    // A whole disk or an image: every root.
                    if (image || model.IsDiskStorage(replayed)) return CRestoreScanSink::Selection{true, ""};
                    return std::nullopt;
                });
                restore.SetStep([&] { progress.Step(); });
                scan.SetDeepScan(static_cast<int>(kind.deep));
                scan.DoScan(device, &restore);
                scan.SetOpTreeFinished(1);
                if (restore.ErrorCode() != 0) progress.TipError(static_cast<int>(restore.ErrorCode()));
            }
        } catch (const CSavedResultError& e) {
            progress.TipError(static_cast<int>(e.GetErrorcode()));
        } catch (const CRSException&) {
            progress.TipError(static_cast<int>(kCodeFormat));
        }
    }
    archive.EndRS();
    Log(kLoadThread, 817);
    progress.Finished();
}

int DoSaveScanResult(const char* path, IProgress* sink, std::shared_ptr<Worker>* started) {
    if (!path || !sink) return -1;
    // A saved result is never written onto the device it describes.
    if (const std::string why = ScannedDeviceProblem(KXUIScan::instance().GetResultStorage(), path); !why.empty()) {
        CatchExeception::Instance()->WriteLog("saving the scan result refused: %s\n", why.c_str());
        return -3;
    }
    g_stopSaving.store(false);
    // Taken on the caller's thread: the scan's results cannot change between the click and the walk.
    auto source = std::make_shared<SaveSource>(CollectSaveSource(KXUIScan::instance(), KXUIDeviceData::instance()));
    std::string file = path;
    auto worker = WorkerRegistry::Instance().Start(kSaveThread, [file, sink, source] {
        Static_SaveScanResult(file, sink, *source, [] { return !g_stopSaving.load(); });
    });
    if (started) *started = worker;
    return worker ? 0 : -2;
}

int DoRestoreScanResult(const char* path, IProgress* sink, const char* imagePath, std::shared_ptr<Worker>* started) {
    if (!path || !sink) return -1;
    std::string file = path;
    std::string image = imagePath ? imagePath : "";
    auto worker = WorkerRegistry::Instance().Start(kLoadThread, [file, sink, image] {
        Static_RestoreScanResult(file, sink, image, KXUIScan::instance(), KXUIDeviceData::instance());
    });
    if (started) *started = worker;
    return worker ? 0 : -2;
}

void StopSaving() {
    g_stopSaving.store(true);
}

}  // namespace SaveRestoreResult
