// The quick scan of one volume: the quick searcher of the volume's file system lists its files.
#pragma once

#include <vector>

#include "engine/RecoveryController/IRecoveryController.h"

class IDirecotryTreeBuilder;
class IQuickFileSystemSearchController;

class CDeletedRecoveryController : public IRecoveryController {
public:
    CDeletedRecoveryController() = default;
    ~CDeletedRecoveryController() override;
    CDeletedRecoveryController(const CDeletedRecoveryController&) = delete;
    CDeletedRecoveryController& operator=(const CDeletedRecoveryController&) = delete;

    _RECOVERY_CONTROLLER_TYPE thisType() override { return RECOVERY_CONTROLLER_DELETED; }
    int Initialize(IRecoveryFilter* filter) override;
    // Passes the quick searcher's own result on, so an unreadable volume is a failure.
    u64 StartDataRecovery(IStorageDevice* device, IProgress* progress, IDrirectoryTree* tree) override;
    IDataRecovery* GetDataRecovery(_tagSearcherType type) override;
    void Release() override { delete this; }
    void SetRestoreSink(RestoreScanSink* sink) override { m_restoreSink = sink; }

private:
    IQuickFileSystemSearchController* CreateQuickSearcher(u32 fileSystemType);

    RestoreScanSink* m_restoreSink = nullptr;
    IDirecotryTreeBuilder* m_builder = nullptr;
    IRecoveryFilter* m_filter = nullptr;
    IStorageDevice* m_device = nullptr;
    IQuickFileSystemSearchController* m_searcher = nullptr;
    // The builders and searchers of the volumes scanned before (a whole disk is scanned volume by
    // volume through one controller): their nodes stay in the results, and HFS+ nodes read through
    // their searcher's volume, until the controller is released.
    std::vector<IDirecotryTreeBuilder*> m_earlierBuilders;
    std::vector<IQuickFileSystemSearchController*> m_earlierSearchers;
};
