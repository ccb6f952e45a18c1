#include "engine/PartitionTableAnalyze/PartitionTableAnalyze.h"

#include <new>
#include <vector>

#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/PartitionTableAnalyze/APMAnaly.h"
#include "engine/PartitionTableAnalyze/BaseGPTAnalyzer.h"
#include "engine/PartitionTableAnalyze/PartitionTableChainAnalyzer.h"
#include "engine/PartitionTableAnalyze/PartitionTableCodes.h"

using namespace partition_codes;
using partition_io::HasBootSignature;
using partition_io::ReadSectors;

IPartitionTableAnalyze* CreatePartitionTableAnalyze() { return new (std::nothrow) CPartitionTableAnalyze; }

u64 CPartitionTableAnalyze::GetDiskInfo(IStorageDevice* disk, CCollectDiskDeviceInfoStruct& record) {
    if (!disk) return kNoDevice;
    IStorageDeviceData* data = disk->GetPrivateData();
    if (!data) return kNoPrivateData;
    auto* diskData = dynamic_cast<IDiskDeviceData*>(data);
    if (!diskData) return kNotDiskData;
    const CCollectDiskDeviceInfoStruct* info = diskData->GetDiskInfo();
    if (!info) return kNoDiskRecord;
    if (info->kind != 0) return kNotPhysicalDisk;
    record = *info;
    return result::kSuccess;
}

u64 CPartitionTableAnalyze::IsGptDisk(IStorageDevice* disk, int& isGpt) {
    isGpt = 0;
    std::vector<u8> sector;
    if (u64 error = ReadSectors(disk, 0, 1, sector)) return error;
    // A protective record: its first entry has the protective type.
    isGpt = HasBootSignature(sector) && sector[mbr_layout::EntryType(0)] == mbr_layout::kProtectiveType;
    return result::kSuccess;
}

u64 CPartitionTableAnalyze::IsApmDisk(IStorageDevice* disk, int& isApm) {
    isApm = 0;
    std::vector<u8> sector;
    if (u64 error = ReadSectors(disk, 0, 1, sector)) return error;
    isApm = ByteReader(sector).Equals(apm_layout::kDescriptorSignature, "ER");
    return result::kSuccess;
}

u64 CPartitionTableAnalyze::IsMbrDisk(IStorageDevice* disk, int& isMbr) {
    isMbr = 0;
    std::vector<u8> sector;
    if (u64 error = ReadSectors(disk, 0, 1, sector)) return error;
    isMbr = HasBootSignature(sector);
    return result::kSuccess;
}

u64 CPartitionTableAnalyze::IsDynamicDisk(IStorageDevice* disk, int& isDynamic) {
    isDynamic = 0;
    std::vector<u8> sector;
    if (u64 error = ReadSectors(disk, 0, 1, sector)) return error;
    for (size_t slot = 0; slot < mbr_layout::kEntryCount; ++slot) {
        if (sector[mbr_layout::EntryType(slot)] == 0x42) isDynamic = 1;
    }
    return result::kSuccess;
}

u64 CPartitionTableAnalyze::GetDiskType(IStorageDevice* disk, enumDiskPartitionScheme& scheme) {
    scheme = DISK_PARTITION_SCHEME_NONE;
    int found = 0;
    if (u64 error = IsGptDisk(disk, found)) return error;
    if (found) {
        scheme = DISK_PARTITION_SCHEME_GPT;
        return result::kSuccess;
    }
    if (u64 error = IsApmDisk(disk, found)) return error;
    if (found) {
        scheme = DISK_PARTITION_SCHEME_APM;
        return result::kSuccess;
    }
    if (u64 error = IsMbrDisk(disk, found)) return error;
    if (found) scheme = DISK_PARTITION_SCHEME_MBR;
    return result::kSuccess;
}

u64 CPartitionTableAnalyze::AnalyzeMBRPartitionTable(IStorageDevice* disk, PartitionEntryList& out) {
    return CPartitionTableChainAnalyzer().AnalyzePartitionTableChain(disk, out);
}

u64 CPartitionTableAnalyze::AnalyzeGPTPartitionTable(IStorageDevice* disk, PartitionEntryList& out) {
    return CBaseGPTAnalyzer().AnalyzeBaseGPT(disk, out);
}

u64 CPartitionTableAnalyze::AnalyzeAPMPartitionTable(IStorageDevice* disk, PartitionEntryList& out) {
    return CAPMAnaly().AnalyzePartition(disk, out);
}

u64 CPartitionTableAnalyze::AnalyzePartitionTable(IStorageDevice* disk, PartitionEntryList& out) {
    out.clear();
    if (!disk) return kNoDevice;
    if (disk->GetType() != STORAGE_DEVICE_DISK) return kNotWholeDisk;
    CCollectDiskDeviceInfoStruct record;
    if (u64 error = GetDiskInfo(disk, record)) return error;
    if (disk->GetSectorSize() < 512) return kSectorTooSmall;
    enumDiskPartitionScheme scheme = DISK_PARTITION_SCHEME_NONE;
    if (u64 error = GetDiskType(disk, scheme)) return error;
    if (scheme == DISK_PARTITION_SCHEME_NONE) return result::kSuccess;
    if (scheme == DISK_PARTITION_SCHEME_APM) return AnalyzeAPMPartitionTable(disk, out);
    int dynamic = 0;
    if (u64 error = IsDynamicDisk(disk, dynamic)) return error;
    if (dynamic) return scheme == DISK_PARTITION_SCHEME_GPT ? kGptDynamicDisk : kMbrDynamicDisk;
    if (scheme == DISK_PARTITION_SCHEME_GPT) return AnalyzeGPTPartitionTable(disk, out);
    return AnalyzeMBRPartitionTable(disk, out);
}
