// The partitions of one disk as its partition table describes them.
#pragma once

#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/EnumDevice/DeviceList.h"
#include "engine/EnumDevice/PartEntryList.h"

class CEnumPartition {
public:
    // Appends the disk's partition devices, sorted by number. A disk without a table gives one
    // partition numbered -1 over the whole disk; when the table cannot be read whole, the partitions
    // read before the failure are listed. A partition device that cannot be made ends the listing with
    // a failure code, keeping what was listed.
    u64 ExecEnum(IStorageDevice* disk, DeviceList& out);

private:
    u64 CreatePartition(IStorageDevice* disk, const PartEntry& entry, IStorageDevice** partition);
    u64 FillPartitionRecord(IStorageDevice* disk, IStorageDevice* partition, const PartEntry& entry,
                            CCollectedPartitionDeviceInfoStruct** record);
};
