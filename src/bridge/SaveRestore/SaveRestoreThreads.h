// The save and load of scan results on threads of their own (joinable, kept in the worker registry so
// that closing can wait for them), with their progress and error codes (SaveRestoreProgress.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/SaveRestore/SavedResultFrames.h"

class IDataRecovery;
class IProgress;
class KXUIDeviceData;
class KXUIScan;
class Worker;

namespace SaveRestoreResult {

// What a save writes: the kind of scan, the scanned device and the partition roots with their
// partition records (the data-recovery objects holding the records are kept alive with them).
struct SaveSource {
    saved_result::SavedScanKind kind;
    saved_result::SavedDevice device;
    std::vector<saved_result::SavedRoot> roots;
    std::vector<std::shared_ptr<IDataRecovery>> holders;
};

// Takes the current results of the scan operation.
SaveSource CollectSaveSource(KXUIScan& scan, KXUIDeviceData& model);

// The thread bodies (run on the calling thread). The save walks the trees under the result-tree lock;
// continued answers false to abandon it (the old file stays). The load waits 1 s on the bridge clock
// first, then replays the result through the scan operation.
void Static_SaveScanResult(const std::string& path, IProgress* sink, const SaveSource& source,
                           const std::function<bool()>& continued);
void Static_RestoreScanResult(const std::string& path, IProgress* sink, const std::string& imagePath,
                              KXUIScan& scan, KXUIDeviceData& model);

// Start the threads: 0 started, -1 a missing argument, -2 no thread could be made, -3 (save) the file
// would lie on the scanned device. started, when given, receives the worker.
int DoSaveScanResult(const char* path, IProgress* sink, std::shared_ptr<Worker>* started = nullptr);
int DoRestoreScanResult(const char* path, IProgress* sink, const char* imagePath,
                        std::shared_ptr<Worker>* started = nullptr);
// Asks a running save to stop (closing): its unfinished file is removed and an older one kept. The
// next save started clears the request.
void StopSaving();

}  // namespace SaveRestoreResult
