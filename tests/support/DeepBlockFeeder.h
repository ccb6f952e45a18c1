// Drives one deep searcher as the complete recovery controller does, without the controller's cache
// and threads: SetDevice, SetBlockSize (4 MiB / sector size unless a test chooses another block), the
// tree builder, PreparetoSearch, AnalyzeBlock for every block in device order, EndSearch(1).
#pragma once

#include "engine/Common/Types.h"

class ICompleteFileSystemSearchController;
class IDirecotryTreeBuilder;
class IStorageDevice;

namespace testsupport {

class DeepBlockFeeder {
public:
    DeepBlockFeeder(ICompleteFileSystemSearchController& searcher, IStorageDevice& device,
                    IDirecotryTreeBuilder* builder = nullptr);

    // Sectors per block; 0 (the default) is the controller's 4 MiB over the sector size.
    void SetBlockSectors(i64 sectors) { m_blockSectors = sectors; }
    i64 BlockSectors() const;

    // The steps one by one: set-up and PreparetoSearch; one block; every block from `first` on (the
    // number handed); EndSearch(build).
    int Prepare();
    int Feed(i64 first, i64 count);
    i64 FeedAll(i64 first = 0);
    int End(int build = 1);
    // All of it: Prepare, FeedAll, End(1). The number of blocks handed.
    i64 Run();

private:
    ICompleteFileSystemSearchController& m_searcher;
    IStorageDevice& m_device;
    IDirecotryTreeBuilder* m_builder;
    i64 m_blockSectors = 0;
};

}  // namespace testsupport
