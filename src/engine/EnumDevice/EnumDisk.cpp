#include "engine/EnumDevice/EnumDisk.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "engine/Common/DebugChannel.h"
#include "engine/Common/ResultCode.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/EnumDevice/DevListSortAlgorithm.h"
#include "engine/EnumDevice/RecordText.h"
#include "engine/PartitionTableAnalyze/PartitionTableAnalyze.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"

using brelvox::disks::BlockDevice;

namespace {

constexpr i64 kHeads = 255;
constexpr i64 kSectorsPerTrack = 63;

// The kernel's own partition-table type when udev knows it; otherwise, a disk on which the kernel
// found partitions has a table (told apart by its first sector), and one without any is a volume of
// its own, as the system shows it.
u32 PartitionSchemeOf(const BlockDevice& facts, const brelvox::disks::KernelDisks& kernel, IStorageDevice* disk) {
    if (!facts.Property("ID_PART_TABLE_TYPE").empty()) return facts.PartitionScheme();
    if (kernel.Partitions(facts.name).empty()) return brelvox::disks::kSchemeNone;
    enumDiskPartitionScheme scheme = DISK_PARTITION_SCHEME_NONE;
    if (!disk || result::IsFailure(CPartitionTableAnalyze().GetDiskType(disk, scheme)) ||
        scheme == DISK_PARTITION_SCHEME_NONE)
        return brelvox::disks::kSchemeMBR;
    return scheme;
}

}  // namespace

void CEnumDisk::ExecEnum(DeviceList& out) {
    DeviceList disks;
    for (const BlockDevice& facts : m_kernel.Disks()) {
        if (facts.SizeBytes() < kMinimumDiskBytes) continue;
        if (IStorageDevice* disk = CreateDisk(facts)) disks.push_back(disk);
    }
    SortDeviceList(disks);
    out.insert(out.end(), disks.begin(), disks.end());
}

IStorageDevice* CEnumDisk::CreateDisk(const BlockDevice& facts) {
    std::string path = m_kernel.DevicePath(facts.name);
    EngineDebug("CIOKitFunc::BSDName2DevPath = %s\n", path.c_str());
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(path.c_str()));
    if (!disk) return nullptr;
    bool opened = disk->Open(path.c_str()) != 0;
    if (!opened && disk->IsPermitted()) return nullptr;

    auto* record = new (std::nothrow) CCollectDiskDeviceInfoStruct{};
    if (!record) return nullptr;
    record->kind = 0;
    record->busType = facts.bus;
    record->writable = facts.readOnly ? 0 : 1;
    CopyRecordText(record->name, facts.DisplayName());
    CopyRecordText(record->bsdName, facts.name);
    record->sectorSize = facts.logicalBlockSize ? facts.logicalBlockSize : 512;
    record->totalSectors = static_cast<i64>(facts.SizeBytes() / static_cast<u64>(record->sectorSize));
    record->cylinders = record->totalSectors / (kHeads * kSectorsPerTrack);
    record->heads = kHeads;
    record->sectorsPerTrack = kSectorsPerTrack;
    // The kernel's device number, as stat() reports it, so it compares with st_dev.
    record->deviceNumber = static_cast<i32>(facts.number);

    IDiskDeviceData* holder = CreateDiskDeviceData(record);
    if (!holder) {
        delete record;
        return nullptr;
    }
    disk->SetPrivateData(holder);
    record->partitionScheme = PartitionSchemeOf(facts, m_kernel, opened ? disk.get() : nullptr);
    return disk.release();
}
