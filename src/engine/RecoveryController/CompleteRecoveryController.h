// The deep scan: every deep searcher is handed each 4 MiB block of the device in one pass through the
// read-ahead cache, then builds its partitions and trees.
#pragma once

#include <vector>

#include "engine/Common/ICompleteFileSystemSearchController.h"
#include "engine/RecoveryController/IRecoveryController.h"

class CStorageDeviceWithCache;
class IDirecotryTreeBuilder;

struct _SEARCHER_INFO {
    u32 type;  // _tagSearcherType
    ICompleteFileSystemSearchController* searcher;
};

class CCompleteRecoveryController : public IRecoveryController {
public:
    static constexpr i64 kBlockBytes = 0x400000;

    CCompleteRecoveryController() = default;
    ~CCompleteRecoveryController() override;
    CCompleteRecoveryController(const CCompleteRecoveryController&) = delete;
    CCompleteRecoveryController& operator=(const CCompleteRecoveryController&) = delete;

    _RECOVERY_CONTROLLER_TYPE thisType() override { return RECOVERY_CONTROLLER_COMPLETE; }
    int Initialize(IRecoveryFilter* filter) override;
    u64 StartDataRecovery(IStorageDevice* device, IProgress* progress, IDrirectoryTree* tree) override;
    IDataRecovery* GetDataRecovery(_tagSearcherType type) override;
    void Release() override { delete this; }
    void SetRestoreSink(RestoreScanSink* sink) override { m_restoreSink = sink; }

    // One pass over the sectors first..last, block by block; 0 also when the user stopped.
    u64 SearchData(i64 first, i64 last, IProgress* progress);
    // Sectors in one block: 4 MiB over the sector size (512 when 0), 8192 when that is 0.
    static i64 BlockSectors(u32 sectorSize);
    // EndSearch(build) on every searcher of the list, then frees the bitmap.
    void EndSearch(std::vector<_SEARCHER_INFO>& list, int build);

private:
    void CreateSearchers(IStorageDevice* device, IProgress* progress);
    void DeleteSearchers();

    RestoreScanSink* m_restoreSink = nullptr;
    IDirecotryTreeBuilder* m_builder = nullptr;
    IRecoveryFilter* m_filter = nullptr;
    IStorageDevice* m_device = nullptr;
    std::vector<_SEARCHER_INFO> m_searchers;
    CStorageDeviceWithCache* m_cache = nullptr;
    FileSectorMap m_fileSectorMap;
    TBitmap* m_bitmap = nullptr;
};

// The deep scan of a whole disk: the same pass, reported as type 2.
class CPartitionRecoveryController : public CCompleteRecoveryController {
public:
    _RECOVERY_CONTROLLER_TYPE thisType() override { return RECOVERY_CONTROLLER_PARTITION; }
};
