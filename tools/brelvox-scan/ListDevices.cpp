#include "ListDevices.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/EnumDevice/IEnumDeviceEx.h"
#include "engine/EnumDevice/RecordText.h"

namespace {

std::string FileSystemName(u32 type) {
    switch (type) {
        case 0:
            return "FAT12";
        case 1:
            return "FAT16";
        case 2:
            return "FAT32";
        case 3:
            return "NTFS";
        case 7:
            return "exFAT";
        case 8:
            return "HFS+";
        case 9:
            return "APFS";
        default:
            return "-";
    }
}

std::string BusName(u32 bus) {
    static const char* names[] = {"unknown", "ATA", "SATA", "SCSI", "USB", "virtual"};
    return bus < 6 ? names[bus] : "unknown";
}

std::string SchemeName(u32 scheme) {
    static const char* names[] = {"none", "MBR", "GPT", "APM"};
    return scheme < 4 ? names[scheme] : "none";
}

std::string Size(i64 sectors, i64 sectorSize) {
    double bytes = static_cast<double>(sectors) * static_cast<double>(sectorSize);
    const char* units[] = {"B", "KB", "MB", "GB", "TB", "PB"};
    int unit = 0;
    while (bytes >= 1000 && unit < 5) bytes /= 1000, ++unit;
    char text[32];
    std::snprintf(text, sizeof text, unit ? "%.1f %s" : "%.0f %s", bytes, units[unit]);
    return text;
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::vector<IStorageDevice*> List(IEnumDeviceEx& devices, IStorageDevice* disk, bool volumes) {
    int count = 0;
    u64 code =
        volumes ? devices.EnumVolumeDevice(disk, nullptr, count) : devices.EnumPartitionDevice(disk, nullptr, count);
    if (code != 0 || count <= 0) return {};
    std::vector<IStorageDevice*> list(count);
    code = volumes ? devices.EnumVolumeDevice(disk, list.data(), count)
                   : devices.EnumPartitionDevice(disk, list.data(), count);
    if (code != 0) return {};
    list.resize(count);
    return list;
}

template <class Data, class Record>
bool Numbered(IStorageDevice* device, Record* (Data::*get)(), dev_t number) {
    auto* data = device ? dynamic_cast<Data*>(device->GetPrivateData()) : nullptr;
    auto* record = data ? (data->*get)() : nullptr;
    return record && dev_t(u32(record->deviceNumber)) == number;
}

}  // namespace

IStorageDevice* EnumeratedDevice(IEnumDeviceEx& devices, dev_t number) {
    if (devices.Init() != 0) return nullptr;
    int count = 0;
    devices.EnumDiskDevice(nullptr, count);
    std::vector<IStorageDevice*> disks(size_t(std::max(count, 0)));
    if (count > 0 && devices.EnumDiskDevice(disks.data(), count) == 0) {
        disks.resize(size_t(count));
        for (IStorageDevice* disk : disks)
            if (Numbered(disk, &IDiskDeviceData::GetDiskInfo, number)) return disk;
        for (IStorageDevice* disk : disks)
            for (IStorageDevice* volume : List(devices, disk, true))
                if (Numbered(volume, &IVolumeDeviceData::GetVolumeInfo, number)) return volume;
    }
    devices.Uninit();
    return nullptr;
}

int ListDevices(IEnumDeviceEx& devices, std::ostream& out, std::ostream& err) {
    u64 code = devices.Init();
    if (code != 0) {
        err << "brelvox-scan: no disk can be listed (code 0x" << std::hex << code << std::dec << ")\n";
        return 1;
    }
    int count = 0;
    devices.EnumDiskDevice(nullptr, count);
    std::vector<IStorageDevice*> disks(count);
    devices.EnumDiskDevice(disks.data(), count);
    for (IStorageDevice* disk : disks) {
        auto* data = dynamic_cast<IDiskDeviceData*>(disk->GetPrivateData());
        const CCollectDiskDeviceInfoStruct* d = data ? data->GetDiskInfo() : nullptr;
        if (!d) continue;
        out << "disk " << RecordText(d->bsdName) << "  " << Size(d->totalSectors, d->sectorSize) << "  "
            << d->totalSectors << " sectors of " << d->sectorSize << "  " << BusName(d->busType) << "  "
            << SchemeName(d->partitionScheme) << "  " << Quoted(RecordText(d->name))
            << (disk->IsPermitted() ? "" : "  not permitted") << "\n";
        for (IStorageDevice* partition : List(devices, disk, false)) {
            auto* pdata = dynamic_cast<IPartitionDeviceData*>(partition->GetPrivateData());
            const CCollectedPartitionDeviceInfoStruct* p = pdata ? pdata->GetPartitionInfo() : nullptr;
            if (!p) continue;
            out << "  partition " << p->partitionNumber << "  start " << p->startSector << "  "
                << Size(p->sectorCount, p->sectorSize) << "  " << FileSystemName(p->fileSystemType) << "  "
                << Quoted(RecordText(p->label)) << "\n";
        }
        for (IStorageDevice* volume : List(devices, disk, true)) {
            auto* vdata = dynamic_cast<IVolumeDeviceData*>(volume->GetPrivateData());
            const CCollectedVolumeDeviceInfoStruct* v = vdata ? vdata->GetVolumeInfo() : nullptr;
            if (!v) continue;
            std::string_view node = RecordText(v->bsdName);
            out << "  volume " << (node.empty() ? std::string_view("(partition)") : node) << "  number "
                << v->partitionNumber << "  start " << v->startSector << "  " << Size(v->totalSectors, v->sectorSize)
                << "  " << FileSystemName(v->fileSystemType) << "  " << Quoted(RecordText(v->label)) << "  name "
                << Quoted(RecordText(v->volumeName)) << (v->mounted ? "  mounted" : "")
                << (volume->IsPermitted() ? "" : "  not permitted") << "\n";
        }
    }
    devices.Uninit();
    return 0;
}
