// The quick search of an intact FAT16 or FAT32 volume.
#pragma once

#include <vector>

#include "engine/Common/IQuickFileSystemSearchController.h"
#include "engine/FATLib/FATTypes.h"
#include "engine/FATSearch/FATBuildChildren.h"

class CFATSearchedPartitionInfo;
class IDirecotryTreeBuilder;
class IProgress;
class IStorageDevice;

class CFATQuickSearcher : public IQuickFileSystemSearchController {
public:
    CFATQuickSearcher() = default;
    ~CFATQuickSearcher() override;
    CFATQuickSearcher(const CFATQuickSearcher&) = delete;
    CFATQuickSearcher& operator=(const CFATQuickSearcher&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_builder = builder; }
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    u64 QuickSearchFiles(IStorageDevice* volume, IProgress* progress) override;

    // The search proper, once the volume's recorded type is known (1 FAT16, 2 FAT32).
    u64 SearchFATVolume(IStorageDevice* volume, IProgress* progress, u32 type);

    // The boot sector test of the quick search: a FAT16/FAT32 boot sector whose first table sector looks right.
    static bool IsFullValidDBR(const u8* sector, u64 start, IStorageDevice* device);

private:
    u64 Search(u32 type);

    IDirecotryTreeBuilder* m_builder = nullptr;
    std::vector<CFATSearchedPartitionInfo*> m_partitions;
    IStorageDevice* m_device = nullptr;
    IProgress* m_progress = nullptr;
    // Carried from folder to folder through one search; every search starts it afresh.
    FATSearchState m_state;
};

IQuickFileSystemSearchController* CreateFATQuickSearcher();
