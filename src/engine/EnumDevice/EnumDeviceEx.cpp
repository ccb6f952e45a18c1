#include "engine/EnumDevice/EnumDeviceEx.h"

#include <algorithm>

#include "engine/EnumDevice/EnumDevice.h"
#include "engine/EnumDevice/EnumDeviceCodes.h"
#include "engine/EnumDevice/MergeVolumeAndPartition.h"

namespace {

// Hands out a list by the array pattern; zeroCountOk: an array with count 0 copies nothing and succeeds.
u64 CopyOut(const DeviceList& devices, IStorageDevice** array, int& count, u64 tooSmall, bool zeroCountOk) {
    int n = static_cast<int>(devices.size());
    if (!array) {
        count = n;
        return result::kSuccess;
    }
    if (zeroCountOk && count == 0) return result::kSuccess;
    if (count < n) return tooSmall;
    std::copy(devices.begin(), devices.end(), array);
    count = n;
    return result::kSuccess;
}

}  // namespace

CEnumDeviceEx::~CEnumDeviceEx() {
    if (m_initialised) Uninit();
}

u64 CEnumDeviceEx::Init() {
    if (m_initialised) Uninit();
    m_enum = std::make_unique<CEnumDevice>(m_roots);
    m_enum->EnumDiskDevice(m_disks);
    if (m_disks.empty()) {
        m_initialised = 1;
        Uninit();
        return enum_codes::kInitNoDisk;
    }
    for (IStorageDevice* disk : m_disks) {
        m_enum->EnumVolumeDevice(disk, m_volumes[disk]);
        m_enum->EnumPartitionDevice(disk, m_partitions[disk]);
    }
    m_initialised = 1;
    return result::kSuccess;
}

u64 CEnumDeviceEx::Uninit() {
    if (!m_initialised) return enum_codes::kUninitNotInitialised;
    // Volumes and partitions refer to their disks, so they go first.
    for (auto* lists : {&m_converted, &m_volumes, &m_partitions}) {
        for (auto& [disk, devices] : *lists) DestroyDevices(devices);
        lists->clear();
    }
    m_merged.clear();
    DestroyDevices(m_disks);
    m_enum.reset();
    m_initialised = 0;
    return result::kSuccess;
}

bool CEnumDeviceEx::IsKnownDisk(IStorageDevice* disk) const {
    return std::find(m_disks.begin(), m_disks.end(), disk) != m_disks.end();
}

u64 CEnumDeviceEx::EnumDiskDevice(IStorageDevice** array, int& count) {
    if (!m_initialised) return enum_codes::kDisksNotInitialised;
    return CopyOut(m_disks, array, count, enum_codes::kDiskArrayTooSmall, true);
}

u64 CEnumDeviceEx::EnumPartitionDevice(IStorageDevice* disk, IStorageDevice** array, int& count) {
    if (!m_initialised) return enum_codes::kPartitionsNotInitialised;
    if (!disk) return enum_codes::kPartitionsNoDisk;
    if (!IsKnownDisk(disk)) return enum_codes::kUnknownDisk;
    return CopyOut(m_partitions[disk], array, count, enum_codes::kPartitionArrayTooSmall, true);
}

u64 CEnumDeviceEx::EnumVolumeDevice(IStorageDevice* disk, IStorageDevice** array, int& count) {
    if (!m_initialised) return enum_codes::kVolumesNotInitialised;
    if (!disk) return enum_codes::kVolumesNoDisk;
    if (!IsKnownDisk(disk)) return enum_codes::kUnknownDisk;
    // Merged once per disk, so asking again neither makes new devices nor loses the earlier ones.
    auto merged = m_merged.find(disk);
    if (merged == m_merged.end()) {
        DeviceList out;
        DeviceList& converted = m_converted[disk];
        u64 code = CMergeVolumeAndPartition().MergeAsVolume(m_volumes[disk], m_partitions[disk], out, converted);
        if (result::IsFailure(code)) {
            DestroyDevices(converted);
            return code;
        }
        merged = m_merged.emplace(disk, std::move(out)).first;
    }
    return CopyOut(merged->second, array, count, enum_codes::kVolumeArrayTooSmall, false);
}

IEnumDeviceEx* CreateEnumDeviceEx() {
    static CEnumDeviceEx instance;
    return &instance;
}
