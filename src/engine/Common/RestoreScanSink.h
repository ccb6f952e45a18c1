// Stands in for the searchers when a saved scan result is loaded (implemented by the operations layer).
#pragma once

#include <vector>

#include "engine/Common/Types.h"

class IDirecotryTreeBuilder;
class IProgress;
class IStorageDevice;
class CSearchedPartitionInfo;

class RestoreScanSink {
public:
    virtual ~RestoreScanSink() = default;
    // Replays the saved partitions and node trees into the builder; a result code.
    virtual u64 SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress* progress,
                                        IStorageDevice* device) = 0;
    // The restored partition records of that searcher type.
    virtual std::vector<CSearchedPartitionInfo*>& GetSearchedPartition(int searcherType) = 0;
};
