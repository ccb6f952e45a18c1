// The whole disks of the machine, from the kernel's list of block devices.
#pragma once

#include "engine/EnumDevice/DeviceList.h"
#include "platform/disks/KernelDisks.h"

class CEnumDisk {
public:
    explicit CEnumDisk(const brelvox::disks::KernelDisks& kernel) : m_kernel(kernel) {}

    // Appends the disks, each opened with its record attached, sorted by name. A disk below 8 MiB or one
    // that cannot be opened for another reason than a refused permission is left out; a disk the user
    // may not read stays in the list, marked not permitted.
    void ExecEnum(DeviceList& out);

    static constexpr u64 kMinimumDiskBytes = 8 * 1024 * 1024;

private:
    IStorageDevice* CreateDisk(const brelvox::disks::BlockDevice& facts);

    const brelvox::disks::KernelDisks& m_kernel;
};
