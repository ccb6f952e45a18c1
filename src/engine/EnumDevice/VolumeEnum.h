// The volumes the system shows on one disk: its partitions as the kernel sees them, or the whole disk
// when it has no partition table, each opened as a volume device with its record.
#pragma once

#include <string>
#include <vector>

#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/EnumDevice/DeviceList.h"
#include "engine/EnumDevice/PartEntryList.h"
#include "platform/disks/KernelDisks.h"

class CEnumVolume {
public:
    explicit CEnumVolume(const brelvox::disks::KernelDisks& kernel) : m_kernel(kernel) {}

    // Appends the disk's volumes sorted by partition number and gives the disk a copy of their records.
    void ExecEnum(IStorageDevice* disk, DeviceList& out);

    // Whether the medium is one of the disk's volumes: the disk itself when it has no partition scheme,
    // else one of its partitions.
    bool IsVolumeInDisk(IStorageDevice* disk, const brelvox::disks::BlockDevice& medium) const;
    // An opened volume device with its record, or null when the medium cannot be one. A volume the
    // user may not read is kept, marked not permitted.
    IStorageDevice* CreateVolumeDeviceObject(IStorageDevice* disk, const brelvox::disks::BlockDevice& medium,
                                             const std::vector<PartEntry>& entries);
    // True when the record could be filled completely.
    bool FillVolumeInfo(CCollectedVolumeDeviceInfoStruct& record, IStorageDevice* disk, IStorageDevice* volume,
                        const brelvox::disks::BlockDevice& medium, const std::vector<PartEntry>& entries);

    // Where the medium is mounted, empty when it is not.
    std::string GetMountPoint(const brelvox::disks::BlockDevice& medium) const;

private:
    const brelvox::disks::KernelDisks& m_kernel;
};
