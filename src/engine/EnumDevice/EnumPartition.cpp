#include "engine/EnumDevice/EnumPartition.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/EnumDevice/DevListSortAlgorithm.h"
#include "engine/EnumDevice/EnumDeviceCodes.h"
#include "engine/EnumDevice/RecogniseVolume.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"

u64 CEnumPartition::ExecEnum(IStorageDevice* disk, DeviceList& out) {
    std::vector<PartEntry> entries;
    u64 code = GetPartEntryList(disk, entries, enum_codes::kPartitionReaderForPartitions);
    // A table that cannot be read whole still offers the partitions read before the failure.
    if (code == enum_codes::kPartitionReaderForPartitions) return code;

    DeviceList partitions;
    u64 status = result::kSuccess;
    for (const PartEntry& entry : entries) {
        IStorageDevice* partition = nullptr;
        status = CreatePartition(disk, entry, &partition);
        if (partition) partitions.push_back(partition);
        if (result::IsFailure(status)) break;
    }
    SortDeviceList(partitions);
    out.insert(out.end(), partitions.begin(), partitions.end());
    return status;
}

u64 CEnumPartition::CreatePartition(IStorageDevice* disk, const PartEntry& entry, IStorageDevice** partition) {
    *partition = nullptr;
    std::unique_ptr<IStorageDevice> device(CreatePartitionDevice(disk, entry.startSector, entry.sectorCount));
    if (!device) return enum_codes::kNoPartitionDevice;
    if (!device->Open(nullptr)) {
        // Listed without a record, unless the device reports a failure.
        u64 error = device->GetLastError();
        if (result::IsFailure(error)) return error;
        *partition = device.release();
        return result::kSuccess;
    }
    CCollectedPartitionDeviceInfoStruct* record = nullptr;
    u64 code = FillPartitionRecord(disk, device.get(), entry, &record);
    if (result::IsFailure(code)) return code;
    IPartitionDeviceData* holder = CreatePartitionDeviceData(record);
    if (!holder) {
        delete record;
        return enum_codes::kNoPartitionHolder;
    }
    device->SetPrivateData(holder);
    // The file system is recognised through the device that now has its geometry.
    record->fileSystemType = RecogniseVolume(device.get(), record->label, sizeof record->label);
    *partition = device.release();
    return result::kSuccess;
}

u64 CEnumPartition::FillPartitionRecord(IStorageDevice* disk, IStorageDevice* partition, const PartEntry& entry,
                                        CCollectedPartitionDeviceInfoStruct** out) {
    if (!disk) return enum_codes::kPartitionRecordNoDisk;
    IStorageDeviceData* data = disk->GetPrivateData();
    if (!data) return enum_codes::kPartitionRecordNoDiskData;
    auto* diskData = dynamic_cast<IDiskDeviceData*>(data);
    if (!diskData) return enum_codes::kPartitionRecordNotDiskData;
    CCollectDiskDeviceInfoStruct* diskRecord = diskData->GetDiskInfo();
    if (!diskRecord) return enum_codes::kPartitionRecordNoDiskRecord;

    auto* record = new (std::nothrow) CCollectedPartitionDeviceInfoStruct{};
    if (!record) return enum_codes::kNoPartitionHolder;
    record->kind = diskRecord->kind;
    record->reserved = 0;
    record->fileSystemType = 10;
    record->sectorSize = diskRecord->sectorSize;
    record->sectorCount = entry.sectorCount;
    record->deviceNumber = diskRecord->deviceNumber;
    record->parentDisk = disk;
    record->partitionNumber = entry.number;
    // The table reader fills GUIDs only for GUID tables and the type text only for Apple maps.
    std::memcpy(record->typeGuid, entry.typeGuid, sizeof record->typeGuid);
    std::memcpy(record->uniqueGuid, entry.uniqueGuid, sizeof record->uniqueGuid);
    std::memcpy(record->typeName, entry.typeName, sizeof record->typeName);
    record->typeName[sizeof record->typeName - 1] = '\0';
    record->startSector = entry.startSector;
    *out = record;
    return result::kSuccess;
}
