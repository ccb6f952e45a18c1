// Joins the volumes the system reports on a disk with the partitions of its partition table: every
// volume, then every partition that no volume stands for, turned into a volume of its own.
#pragma once

#include "engine/EnumDevice/DeviceList.h"

class CVolumePartitionConverter {
public:
    // A new, opened volume device over the partition's range with a volume record made from the
    // partition record; 0 on success, else a failure code and *volume null.
    u64 ConvertPartition2Volume(IStorageDevice* partition, IStorageDevice** volume);
};

class CMergeVolumeAndPartition {
public:
    // out receives the volumes in their order, then the converted partitions in theirs. The converted
    // volumes are new devices; they are also appended to created, whose owner deletes them. A failed
    // conversion ends the merge with its code (out then holds what was merged before).
    u64 MergeAsVolume(const DeviceList& volumes, const DeviceList& partitions, DeviceList& out, DeviceList& created);

    // True when the volume may stand for the partition: the same sector size and sizes within 10 MiB.
    static bool IsSameDevice(IStorageDevice* volume, IStorageDevice* partition);
    // True when besides the volume starts where the partition does.
    static bool IsSameDeviceAndStart(IStorageDevice* volume, IStorageDevice* partition);
};
