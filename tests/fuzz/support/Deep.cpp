#include "fuzz/support/Deep.h"

#include <algorithm>
#include <memory>

#include "engine/Common/ICompleteFileSystemSearchController.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/NodeSink.h"

namespace fuzz {

void DeepScan(const uint8_t* data, size_t size, ICompleteFileSystemSearchController* (*create)()) {
    DeviceInput in;
    if (!ReadDeviceHeader(data, size, in)) return;
    const i64 blockSectors = i64{8} << (2 * ((data[0] >> 1) & 3));
    FuzzDevice device(in.image, in.imageSize, in.sectorSize, in.totalSectors, STORAGE_DEVICE_DISK);
    device.SetDiskRecord();
    const i64 inputSectors =
        std::min<i64>(device.GetTotalSectors(), static_cast<i64>((in.imageSize + in.sectorSize - 1) / in.sectorSize));

    NodeSink sink;
    std::unique_ptr<ICompleteFileSystemSearchController> owned(create());
    ICompleteFileSystemSearchController& searcher = *owned;
    searcher.SetDirecotryTreeBuilder(&sink);
    searcher.SetDevice(&device);
    searcher.SetBlockSize(static_cast<int>(blockSectors));
    if (searcher.PreparetoSearch() == 1) {
        for (i64 s = 0; s < inputSectors; s += blockSectors)
            searcher.AnalyzeBlock(s, std::min(blockSectors, inputSectors - s));
        searcher.EndSearch(1);
    }
    const int count = searcher.GetSearchedPartitionInfo(nullptr, 0);
    if (count > 0 && count < 4096) {
        std::unique_ptr<CSearchedPartitionInfo*[]> found(new CSearchedPartitionInfo*[count]());
        const int got = searcher.GetSearchedPartitionInfo(found.get(), count);
        for (int i = 0; i < std::max(0, std::min(got, count)); ++i) delete found[i];
    }
}

}  // namespace fuzz
