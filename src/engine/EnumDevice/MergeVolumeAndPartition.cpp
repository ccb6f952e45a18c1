#include "engine/EnumDevice/MergeVolumeAndPartition.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/EnumDevice/EnumDeviceCodes.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"

namespace {

// Sizes within this many bytes of each other are taken as the same device.
constexpr u64 kSameSizeTolerance = 10 * 1024 * 1024;

CCollectedVolumeDeviceInfoStruct* VolumeRecord(IStorageDevice* device) {
    if (!device) return nullptr;
    auto* data = dynamic_cast<IVolumeDeviceData*>(device->GetPrivateData());
    return data ? data->GetVolumeInfo() : nullptr;
}

CCollectedPartitionDeviceInfoStruct* PartitionRecord(IStorageDevice* device) {
    if (!device) return nullptr;
    auto* data = dynamic_cast<IPartitionDeviceData*>(device->GetPrivateData());
    return data ? data->GetPartitionInfo() : nullptr;
}

bool SizesMatch(i64 sectorSize, i64 a, i64 b) {
    if (sectorSize <= 0 || a < 0 || b < 0) return false;
    u64 difference = a > b ? static_cast<u64>(a - b) : static_cast<u64>(b - a);
    // Compared in sectors so that the product cannot overflow.
    return difference <= kSameSizeTolerance / static_cast<u64>(sectorSize);
}

}  // namespace

bool CMergeVolumeAndPartition::IsSameDevice(IStorageDevice* volume, IStorageDevice* partition) {
    auto* v = VolumeRecord(volume);
    auto* p = PartitionRecord(partition);
    if (!v || !p || v->sectorSize != p->sectorSize) return false;
    return SizesMatch(v->sectorSize, v->totalSectors, p->sectorCount);
}

bool CMergeVolumeAndPartition::IsSameDeviceAndStart(IStorageDevice* volume, IStorageDevice* partition) {
    auto* v = VolumeRecord(volume);
    auto* p = PartitionRecord(partition);
    return v && p && v->startSector == p->startSector && IsSameDevice(volume, partition);
}

u64 CMergeVolumeAndPartition::MergeAsVolume(const DeviceList& volumes, const DeviceList& partitions, DeviceList& out,
                                            DeviceList& created) {
    out.insert(out.end(), volumes.begin(), volumes.end());
    // Each volume stands for at most one partition: first those that start where the partition
    // starts, then, for partitions still alone, a volume of about the same size.
    std::vector<bool> volumeTaken(volumes.size(), false);
    std::vector<bool> partitionMatched(partitions.size(), false);
    auto pair = [&](auto&& matches) {
        for (size_t p = 0; p < partitions.size(); ++p) {
            if (partitionMatched[p]) continue;
            for (size_t v = 0; v < volumes.size(); ++v) {
                if (volumeTaken[v] || !matches(volumes[v], partitions[p])) continue;
                volumeTaken[v] = partitionMatched[p] = true;
                break;
            }
        }
    };
    pair(IsSameDeviceAndStart);
    pair(IsSameDevice);

    CVolumePartitionConverter converter;
    for (size_t p = 0; p < partitions.size(); ++p) {
        if (partitionMatched[p]) continue;
        IStorageDevice* volume = nullptr;
        u64 code = converter.ConvertPartition2Volume(partitions[p], &volume);
        if (result::IsFailure(code)) return code;
        created.push_back(volume);
        out.push_back(volume);
    }
    return result::kSuccess;
}

u64 CVolumePartitionConverter::ConvertPartition2Volume(IStorageDevice* partition, IStorageDevice** volume) {
    *volume = nullptr;
    if (!partition || partition->GetType() != STORAGE_DEVICE_PARTITION) return enum_codes::kConvertNotAPartition;
    IStorageDeviceData* data = partition->GetPrivateData();
    if (!data) return enum_codes::kConvertNoPrivateData;
    auto* partitionData = dynamic_cast<IPartitionDeviceData*>(data);
    if (!partitionData) return enum_codes::kConvertNotPartitionData;
    CCollectedPartitionDeviceInfoStruct* p = partitionData->GetPartitionInfo();
    if (!p) return enum_codes::kConvertNoPartitionRecord;

    std::unique_ptr<IStorageDevice> device(CreatePartitionVirtualVolumeDevice(partition));
    if (!device || !device->Open(nullptr)) return enum_codes::kConvertNoVirtualVolume;

    auto* v = new (std::nothrow) CCollectedVolumeDeviceInfoStruct{};
    if (!v) return enum_codes::kConvertNoVolumeRecord;
    v->kind = p->kind;
    v->reserved = p->reserved;
    v->fileSystemType = p->fileSystemType;
    std::memcpy(v->label, p->label, sizeof v->label);
    v->label[sizeof v->label - 1] = '\0';
    v->sectorSize = p->sectorSize;
    v->totalSectors = p->sectorCount;
    v->deviceNumber = p->deviceNumber;
    v->parentDisk = p->parentDisk;
    v->partitionNumber = p->partitionNumber;
    std::memcpy(v->typeGuid, p->typeGuid, sizeof v->typeGuid);
    std::memcpy(v->uniqueGuid, p->uniqueGuid, sizeof v->uniqueGuid);
    static_assert(sizeof v->content == sizeof p->typeName);
    std::memcpy(v->content, p->typeName, sizeof v->content);
    v->content[sizeof v->content - 1] = '\0';
    v->startSector = p->startSector;
    v->mounted = 0;

    IVolumeDeviceData* holder = CreateVolumeDeviceData(v);
    if (!holder) {
        delete v;
        return enum_codes::kConvertNoVolumeHolder;
    }
    device->SetPrivateData(holder);
    *volume = device.release();
    return result::kSuccess;
}
