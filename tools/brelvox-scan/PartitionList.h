// --partitions: the partition records that the file-system searchers of a deep scan found, one
// tab-separated line each (searcher type, partition index, file-system type, partition start,
// cluster-0 sector, total sectors, sectors per cluster, sector size, score), read through the data
// recovery of each searcher type, as a copy-out would use them. The raw searchers are left out.
#pragma once

#include <string>

class IRecoveryController;

namespace scan {

std::string PartitionLines(IRecoveryController& controller);

}  // namespace scan
