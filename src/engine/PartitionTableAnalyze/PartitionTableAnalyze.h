// Detects a disk's partition scheme from its first sector and lists its partitions with the matching
// reader. Windows dynamic disks are refused.
#pragma once

#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/PartitionTableAnalyze/IPartitionTableAnalyze.h"

class CPartitionTableAnalyze : public IPartitionTableAnalyze {
public:
    u64 AnalyzePartitionTable(IStorageDevice* disk, PartitionEntryList& out) override;

    // The disk record of the disk's private data (kind 0 required).
    u64 GetDiskInfo(IStorageDevice* disk, CCollectDiskDeviceInfoStruct& record);
    u64 GetDiskType(IStorageDevice* disk, enumDiskPartitionScheme& scheme);
    u64 IsGptDisk(IStorageDevice* disk, int& isGpt);
    u64 IsApmDisk(IStorageDevice* disk, int& isApm);
    u64 IsMbrDisk(IStorageDevice* disk, int& isMbr);
    u64 IsDynamicDisk(IStorageDevice* disk, int& isDynamic);
    u64 AnalyzeMBRPartitionTable(IStorageDevice* disk, PartitionEntryList& out);
    u64 AnalyzeGPTPartitionTable(IStorageDevice* disk, PartitionEntryList& out);
    u64 AnalyzeAPMPartitionTable(IStorageDevice* disk, PartitionEntryList& out);
};
