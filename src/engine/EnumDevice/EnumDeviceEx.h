// The device list of the machine, kept between Init and Uninit.
#pragma once

#include <map>
#include <memory>

#include "engine/EnumDevice/DeviceList.h"
#include "engine/EnumDevice/IEnumDevice.h"
#include "engine/EnumDevice/IEnumDeviceEx.h"
#include "platform/disks/KernelDisks.h"

// Not locked: callers must not use one object from two threads at once.
class CEnumDeviceEx : public IEnumDeviceEx {
public:
    explicit CEnumDeviceEx(brelvox::disks::KernelRoots roots = {}) : m_roots(std::move(roots)) {}
    ~CEnumDeviceEx() override;
    CEnumDeviceEx(const CEnumDeviceEx&) = delete;
    CEnumDeviceEx& operator=(const CEnumDeviceEx&) = delete;

    u64 Init() override;
    u64 Uninit() override;
    u64 EnumDiskDevice(IStorageDevice** array, int& count) override;
    u64 EnumPartitionDevice(IStorageDevice* disk, IStorageDevice** array, int& count) override;
    u64 EnumVolumeDevice(IStorageDevice* disk, IStorageDevice** array, int& count) override;

private:
    bool IsKnownDisk(IStorageDevice* disk) const;

    brelvox::disks::KernelRoots m_roots;
    u32 m_initialised = 0;
    std::unique_ptr<IEnumDevice> m_enum;
    DeviceList m_disks;
    std::map<IStorageDevice*, DeviceList> m_volumes;
    std::map<IStorageDevice*, DeviceList> m_partitions;
    // The merged volume list of each disk, and the volumes made from partitions for it (owned here,
    // so that they live as long as the rest of the list).
    std::map<IStorageDevice*, DeviceList> m_merged;
    std::map<IStorageDevice*, DeviceList> m_converted;
};
