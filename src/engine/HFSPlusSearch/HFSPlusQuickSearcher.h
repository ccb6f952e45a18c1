// The quick search of one intact HFS+ volume: the deleted files its journal still remembers, then every
// live file and folder of its catalog, under searcher type 31.
//
// The searcher keeps the opened volume (in its private data) for as long as it lives: the partition
// records it hands out point to it, and found compressed files are read through it. Records are copied
// for each data-recovery object, so the searcher, not a record, closes the volume when it is deleted.
#pragma once

#include <memory>

#include "engine/Common/IQuickFileSystemSearchController.h"
#include "engine/Common/Types.h"

class IDirecotryTreeBuilder;
class IProgress;
class IStorageDevice;
class CHFSPlusPrivateData;

class CHFSPlusQuickFileSystemSearchController : public IQuickFileSystemSearchController {
public:
    CHFSPlusQuickFileSystemSearchController() = default;
    ~CHFSPlusQuickFileSystemSearchController() override;
    CHFSPlusQuickFileSystemSearchController(const CHFSPlusQuickFileSystemSearchController&) = delete;
    CHFSPlusQuickFileSystemSearchController& operator=(const CHFSPlusQuickFileSystemSearchController&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_builder = builder; }
    // Capacity below 1: 1, nothing written. Otherwise one new record (the caller's) in out[0]: file
    // system 8, sectors per cluster = block size / sector size, the whole device, the volume attached.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    // Opens the volume, lists its journal's deleted files and its catalog to the builder
    // (AddSearcherInfo(31, 2) first, FlashBuild(31) at the end) and ends with a finished progress record.
    // The result is the volume's opening status; the walk's own outcome is not passed on.
    u64 QuickSearchFiles(IStorageDevice* volume, IProgress* progress) override;

    CHFSPlusPrivateData* GetPrivateData() const { return m_privateData.get(); }

private:
    IDirecotryTreeBuilder* m_builder = nullptr;
    std::unique_ptr<CHFSPlusPrivateData> m_privateData;
    IStorageDevice* m_device = nullptr;
    IProgress* m_progress = nullptr;
    u32 m_blockSize = 0;
};

IQuickFileSystemSearchController* CreateHFSPlusQuickSearcher();
