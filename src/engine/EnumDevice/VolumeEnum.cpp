#include "engine/EnumDevice/VolumeEnum.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/EnumDevice/DevListSortAlgorithm.h"
#include "engine/EnumDevice/EnumDeviceCodes.h"
#include "engine/EnumDevice/GuidText.h"
#include "engine/EnumDevice/RecogniseVolume.h"
#include "engine/EnumDevice/RecordText.h"
#include "engine/StorageDevice/DiskDevice.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"

using brelvox::disks::BlockDevice;

namespace {

constexpr u32 kFileSystemApfs = 9;
constexpr u32 kFileSystemUnknown = 10;

CCollectDiskDeviceInfoStruct* DiskRecord(IStorageDevice* disk) {
    if (!disk) return nullptr;
    auto* data = dynamic_cast<IDiskDeviceData*>(disk->GetPrivateData());
    return data ? data->GetDiskInfo() : nullptr;
}

CCollectedVolumeDeviceInfoStruct* VolumeRecord(IStorageDevice* volume) {
    auto* data = dynamic_cast<IVolumeDeviceData*>(volume->GetPrivateData());
    return data ? data->GetVolumeInfo() : nullptr;
}

const PartEntry* EntryNumbered(const std::vector<PartEntry>& entries, int number) {
    for (const PartEntry& entry : entries)
        if (entry.number == number) return &entry;
    return nullptr;
}

bool IsZero(const u8* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (bytes[i]) return false;
    return true;
}

// The partition's GUIDs as udev read them from the table, else from our own reading of the table.
bool FillGuids(CCollectedVolumeDeviceInfoStruct& record, const BlockDevice& medium, const PartEntry* entry) {
    bool type = ParseGuidText(medium.Property("ID_PART_ENTRY_TYPE"), record.typeGuid);
    bool unique = ParseGuidText(medium.Property("ID_PART_ENTRY_UUID"), record.uniqueGuid);
    if (!type && entry && !IsZero(entry->typeGuid, 16)) {
        std::memcpy(record.typeGuid, entry->typeGuid, 16);
        type = true;
    }
    if (!unique && entry && !IsZero(entry->uniqueGuid, 16)) {
        std::memcpy(record.uniqueGuid, entry->uniqueGuid, 16);
        unique = true;
    }
    return type && unique;
}

bool FillAppleType(CCollectedVolumeDeviceInfoStruct& record, const BlockDevice& medium, const PartEntry* entry) {
    std::string type = medium.Property("ID_PART_ENTRY_TYPE");
    if (type.empty() && entry) type = std::string(RecordText(entry->typeName));
    if (type.empty()) return false;
    CopyRecordText(record.content, type);
    return true;
}

}  // namespace

void CEnumVolume::ExecEnum(IStorageDevice* disk, DeviceList& out) {
    // A table that cannot be read whole still gives the entries read before the failure.
    std::vector<PartEntry> entries;
    GetPartEntryList(disk, entries, enum_codes::kPartitionReaderForVolumes);

    CCollectDiskDeviceInfoStruct* diskRecord = DiskRecord(disk);
    DeviceList volumes;
    if (diskRecord) {
        std::string diskName(RecordText(diskRecord->bsdName));
        std::vector<BlockDevice> media;
        if (auto whole = m_kernel.Find(diskName); whole && whole->whole) media.push_back(*whole);
        for (auto& part : m_kernel.Partitions(diskName)) media.push_back(part);
        for (const BlockDevice& medium : media) {
            if (!IsVolumeInDisk(disk, medium)) continue;
            if (IStorageDevice* volume = CreateVolumeDeviceObject(disk, medium, entries)) volumes.push_back(volume);
        }
    }
    SortDeviceList(volumes);

    // A volume whose start the system did not give takes the start of the table entry of its number.
    for (const PartEntry& entry : entries) {
        for (IStorageDevice* volume : volumes) {
            CCollectedVolumeDeviceInfoStruct* record = VolumeRecord(volume);
            if (!record || record->startSector != 0 || record->partitionNumber != entry.number) continue;
            record->startSector = entry.startSector;
            break;
        }
    }

    if (auto* diskDevice = dynamic_cast<CDiskDevice*>(disk)) {
        std::vector<CCollectedVolumeDeviceInfoStruct> records;
        for (IStorageDevice* volume : volumes)
            if (auto* record = VolumeRecord(volume)) records.push_back(*record);
        diskDevice->SetVolumes(records);
    }
    out.insert(out.end(), volumes.begin(), volumes.end());
}

bool CEnumVolume::IsVolumeInDisk(IStorageDevice* disk, const BlockDevice& medium) const {
    CCollectDiskDeviceInfoStruct* record = DiskRecord(disk);
    if (!record) return false;
    std::string_view diskName = RecordText(record->bsdName);
    if (record->partitionScheme == brelvox::disks::kSchemeNone) return medium.whole && medium.name == diskName;
    return !medium.whole && medium.disk == diskName;
}

IStorageDevice* CEnumVolume::CreateVolumeDeviceObject(IStorageDevice* disk, const BlockDevice& medium,
                                                      const std::vector<PartEntry>& entries) {
    std::string path = m_kernel.DevicePath(medium.name);
    std::unique_ptr<IStorageDevice> volume(CreateVolumeDevice(path.c_str()));
    if (!volume) return nullptr;
    if (!volume->Open(path.c_str()) && volume->IsPermitted()) return nullptr;

    std::unique_ptr<CCollectedVolumeDeviceInfoStruct> record(new (std::nothrow) CCollectedVolumeDeviceInfoStruct{});
    if (!record || !FillVolumeInfo(*record, disk, volume.get(), medium, entries)) return nullptr;
    IVolumeDeviceData* holder = CreateVolumeDeviceData(record.get());
    if (!holder) return nullptr;
    record.release();
    volume->SetPrivateData(holder);
    return volume.release();
}

bool CEnumVolume::FillVolumeInfo(CCollectedVolumeDeviceInfoStruct& record, IStorageDevice* disk, IStorageDevice* volume,
                                 const BlockDevice& medium, const std::vector<PartEntry>& entries) {
    CCollectDiskDeviceInfoStruct* diskRecord = DiskRecord(disk);
    if (!diskRecord || medium.TotalSectors() <= 0) return false;
    record = CCollectedVolumeDeviceInfoStruct{};
    record.kind = 0;
    record.reserved = 0;
    record.sectorSize = medium.logicalBlockSize ? medium.logicalBlockSize : 512;
    record.totalSectors = medium.TotalSectors();
    record.startSector = medium.StartSector();
    record.deviceNumber = static_cast<i32>(medium.number);
    record.parentDisk = disk;
    record.partitionNumber = medium.whole ? -1 : medium.partitionNumber;
    CopyRecordText(record.bsdName, medium.name);

    const PartEntry* entry = EntryNumbered(entries, record.partitionNumber);
    if (diskRecord->partitionScheme == brelvox::disks::kSchemeGPT && !FillGuids(record, medium, entry)) return false;
    if (diskRecord->partitionScheme == brelvox::disks::kSchemeAPM && !FillAppleType(record, medium, entry))
        return false;

    // Recognised through the device with the record's geometry: attach a copy for the analysers.
    record.fileSystemType = kFileSystemUnknown;
    if (auto* copy = new (std::nothrow) CCollectedVolumeDeviceInfoStruct(record)) {
        if (IVolumeDeviceData* holder = CreateVolumeDeviceData(copy))
            volume->SetPrivateData(holder);
        else
            delete copy;
    }
    record.fileSystemType = RecogniseVolume(volume, record.label, sizeof record.label);

    std::string mountPoint = GetMountPoint(medium);
    record.mounted = mountPoint.empty() ? 0 : 1;
    // The name the system gives the volume: its label, else the folder it is mounted on, else its node.
    std::string name = medium.FsLabel();
    if (name.empty()) name = std::string(RecordText(record.label));
    if (name.empty() && !mountPoint.empty()) name = std::filesystem::path(mountPoint).filename().string();
    if (name.empty()) name = medium.name;
    CopyRecordText(record.volumeName, name);

    if (record.fileSystemType == kFileSystemApfs) {
        auto apfs = m_kernel.FindApfsVolume(medium.name);
        volume->SetApfsDevicePath(apfs ? apfs->identifier.c_str() : "");
        std::string apfsName = apfs ? apfs->name : std::string(RecordText(record.label));
        CopyRecordText(record.volumeName, apfsName.substr(0, 100));
    }
    return true;
}

std::string CEnumVolume::GetMountPoint(const BlockDevice& medium) const {
    return m_kernel.MountPoint(medium.major, medium.minor);
}
