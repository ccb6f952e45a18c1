#include "bridge/Recovery/ScannedDevice.h"

#include <sys/stat.h>

#include <vector>

#include "bridge/Device/KXUIDeviceData.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "platform/disks/DestinationCheck.h"

namespace {

using brelvox::disks::FileIdentity;

// A block device known by its kernel number (makedev(major, minor)).
FileIdentity BlockDevice(i32 number) {
    FileIdentity identity;
    identity.mode = S_IFBLK;
    identity.rdev = dev_t(u32(number));
    return identity;
}

// What a scan of device reads, as identities the destination check compares: the device itself (a
// disk, a volume, or an image file), and every volume of a scanned disk.
std::vector<FileIdentity> ScannedSources(IStorageDevice* device) {
    std::vector<FileIdentity> sources;
    auto add = [&](IStorageDevice* d) {
        IStorageDeviceData* data = d ? d->GetPrivateData() : nullptr;
        if (auto* disk = dynamic_cast<IDiskDeviceData*>(data); disk && disk->GetDiskInfo() && disk->GetDiskInfo()->deviceNumber)
            sources.push_back(BlockDevice(disk->GetDiskInfo()->deviceNumber));
        if (auto* volume = dynamic_cast<IVolumeDeviceData*>(data);
            volume && volume->GetVolumeInfo() && volume->GetVolumeInfo()->deviceNumber)
            sources.push_back(BlockDevice(volume->GetVolumeInfo()->deviceNumber));
        const char* image = nullptr;
        if (auto* edi = dynamic_cast<IEDIDeviceData*>(data); edi && edi->GetEDIInfo()) image = edi->GetEDIInfo()->path;
        if (auto* dmg = dynamic_cast<IDmgDeviceData*>(data); dmg && dmg->GetDMGInfo()) image = dmg->GetDMGInfo()->path;
        struct stat st {};
        if (image && ::stat(image, &st) == 0) sources.push_back(FileIdentity::Of(st));
    };
    add(device);
    KXUIDeviceData& model = KXUIDeviceData::instance();
    if (model.IsDiskStorage(device)) {
        std::vector<IStorageDevice*> volumes;
        model.GetDiskVolumeStorage(device, volumes);
        for (IStorageDevice* volume : volumes) add(volume);
    }
    return sources;
}

}  // namespace

std::string ScannedDeviceProblem(IStorageDevice* scanned, const std::string& path, const std::string& readPath) {
    if (!scanned) return {};
    const auto& roots = KXUIDeviceData::instance().GetConfig().roots;
    const brelvox::disks::BlockTopology topology(roots.sys, roots.proc);
    if (!readPath.empty()) {
        std::string problem = brelvox::disks::WriteProblem(readPath, path, topology);
        if (!problem.empty()) return problem;
    }
    for (const FileIdentity& source : ScannedSources(scanned)) {
        std::string problem = brelvox::disks::WriteProblem(source, path, topology);
        if (!problem.empty()) return problem;
    }
    return {};
}
