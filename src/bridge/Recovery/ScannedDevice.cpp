#include "bridge/Recovery/ScannedDevice.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "bridge/Device/KXUIDeviceData.h"
#include "engine/EnumDevice/IDeviceData.h"

namespace {

// The device of the file system that holds path, or would hold it once made.
std::optional<dev_t> FileSystemOf(const std::string& path) {
    struct stat st {};
    std::error_code ec;
    std::filesystem::path at = std::filesystem::absolute(path, ec);
    if (ec) return std::nullopt;
    for (;; at = at.parent_path()) {
        if (::stat(at.c_str(), &st) == 0) return st.st_dev;
        if (at == at.root_path() || at.empty()) return std::nullopt;
    }
}

// The kernel device numbers of what a scan of device reads: the device itself, and every volume of a
// scanned disk.
std::vector<dev_t> ScannedNumbers(IStorageDevice* device) {
    std::vector<dev_t> numbers;
    auto add = [&](IStorageDevice* d) {
        auto* data = d ? d->GetPrivateData() : nullptr;
        if (auto* disk = dynamic_cast<IDiskDeviceData*>(data); disk && disk->GetDiskInfo())
            numbers.push_back(dev_t(u32(disk->GetDiskInfo()->deviceNumber)));
        if (auto* volume = dynamic_cast<IVolumeDeviceData*>(data); volume && volume->GetVolumeInfo())
            numbers.push_back(dev_t(u32(volume->GetVolumeInfo()->deviceNumber)));
    };
    add(device);
    KXUIDeviceData& model = KXUIDeviceData::instance();
    if (model.IsDiskStorage(device)) {
        std::vector<IStorageDevice*> volumes;
        model.GetDiskVolumeStorage(device, volumes);
        for (IStorageDevice* volume : volumes) add(volume);
    }
    return numbers;
}

}  // namespace

bool DestinationOnScannedDevice(IStorageDevice* scanned, const std::string& path) {
    if (!scanned || path.empty()) return false;
    const std::optional<dev_t> destination = FileSystemOf(path);
    if (!destination) return false;
    for (dev_t number : ScannedNumbers(scanned)) {
        if (number != 0 && number == *destination) return true;
    }
    return false;
}
