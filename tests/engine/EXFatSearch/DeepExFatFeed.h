// Feeds a device to the deep exFAT searcher as the deep scan does: blocks of 4 MiB (or a block size the
// test chooses) in device order; the searcher carries the last two sectors of each block to the front of
// the next and classifies every sector. Run stops before the choice, so the tests can look at the
// pre-analysis and the partition builder as the scan left them.
#pragma once

#include <algorithm>

#include "engine/EXFatSearch/ExFatCompleteSearch.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "support/CapturingTreeBuilder.h"

namespace exfattest {

class DeepExFatFeed {
public:
    // Blocks of blockSectors (0: 4 MiB over the sector size).
    void Run(IStorageDevice& device, i64 blockSectors = 0) {
        const i64 total = device.GetTotalSectors();
        if (blockSectors <= 0) blockSectors = (i64{4} << 20) / device.GetSectorSize();
        search.SetDevice(&device);
        search.SetBlockSize(static_cast<int>(blockSectors));
        search.SetDirecotryTreeBuilder(&tree);
        search.PreparetoSearch();
        for (i64 first = 0; first < total; first += blockSectors) {
            search.AnalyzeBlock(first, std::min(blockSectors, total - first));
        }
        bootSectors = search.BootSectors();
        fatSectors = search.FatSectors();
        upcaseSectors = search.UpCaseSectors();
        unjoined = pre.WaitingNotEnded() + pre.WaitingAbridged();
        pre.Clear();
        builder.ProcessWaiting();
    }

    testsupport::CapturingTreeBuilder tree;
    CExFatCompleteSearch search;
    CFDTPreAnaylze& pre = search.PreAnalyzer();
    CPartitionBuilder& builder = search.Builder();
    size_t bootSectors = 0;
    size_t fatSectors = 0;
    size_t upcaseSectors = 0;
    size_t unjoined = 0;  // cut sets whose rest never turned up
};

}  // namespace exfattest
