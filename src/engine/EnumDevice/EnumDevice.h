// Device enumeration over the kernel's view of the machine's disks.
#pragma once

#include "engine/EnumDevice/IEnumDevice.h"
#include "platform/disks/KernelDisks.h"

class CEnumDevice : public IEnumDevice {
public:
    explicit CEnumDevice(brelvox::disks::KernelRoots roots = {}) : m_kernel(std::move(roots)) {}

    u64 EnumDiskDevice(DeviceList& out) override;
    u64 EnumPartitionDevice(IStorageDevice* disk, DeviceList& out) override;
    u64 EnumVolumeDevice(IStorageDevice* disk, DeviceList& out) override;

private:
    brelvox::disks::KernelDisks m_kernel;
};
