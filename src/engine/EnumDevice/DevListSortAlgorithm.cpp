#include "engine/EnumDevice/DevListSortAlgorithm.h"

#include <algorithm>
#include <string>
#include <tuple>

#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/EnumDevice/RecordText.h"

namespace {

// What a device is ordered by. Null devices and devices without the record of their kind go last
// within their type, so the order stays total whatever the list holds.
struct SortKey {
    u32 type = ~0u;
    int missing = 1;
    std::string name;
    i64 number = 0;

    auto Tie() const { return std::tie(type, missing, name, number); }
};

SortKey KeyOf(IStorageDevice* device) {
    SortKey key;
    if (!device) return key;
    key.type = device->GetType();
    IStorageDeviceData* data = device->GetPrivateData();
    switch (key.type) {
        case STORAGE_DEVICE_DISK:
            if (auto* disk = dynamic_cast<IDiskDeviceData*>(data); disk && disk->GetDiskInfo()) {
                key.missing = 0;
                key.name = std::string(RecordText(disk->GetDiskInfo()->bsdName));
            }
            break;
        case STORAGE_DEVICE_PARTITION:
            if (auto* part = dynamic_cast<IPartitionDeviceData*>(data); part && part->GetPartitionInfo()) {
                key.missing = 0;
                key.number = part->GetPartitionInfo()->partitionNumber;
            }
            break;
        case STORAGE_DEVICE_VOLUME:
            if (auto* volume = dynamic_cast<IVolumeDeviceData*>(data); volume && volume->GetVolumeInfo()) {
                key.missing = 0;
                key.number = volume->GetVolumeInfo()->partitionNumber;
            }
            break;
        default:
            break;
    }
    return key;
}

}  // namespace

bool CDevListSortAlgorithm::operator()(IStorageDevice* a, IStorageDevice* b) const {
    // std::string compares as unsigned bytes, so names order byte-wise.
    return KeyOf(a).Tie() < KeyOf(b).Tie();
}

void SortDeviceList(DeviceList& devices) {
    std::stable_sort(devices.begin(), devices.end(), CDevListSortAlgorithm());
}
