#include "engine/DeviceRecords/DeviceData.h"

#include <new>

namespace {

// The holder takes the record even when it cannot be made, so the record is freed then.
template <class Holder, class Record>
Holder* MakeHolder(Record* record) {
    auto* holder = new (std::nothrow) Holder(record);
    if (!holder) delete record;
    return holder;
}

}  // namespace

IDiskDeviceData* CreateDiskDeviceData(CCollectDiskDeviceInfoStruct* record) {
    return MakeHolder<CDiskDeviceData>(record);
}

IPartitionDeviceData* CreatePartitionDeviceData(CCollectedPartitionDeviceInfoStruct* record) {
    return MakeHolder<CPartitionDeviceData>(record);
}

IVolumeDeviceData* CreateVolumeDeviceData(CCollectedVolumeDeviceInfoStruct* record) {
    return MakeHolder<CVolumeDeviceData>(record);
}

IEDIDeviceData* CreateEDIDeviceData(CEDIDeviceInfoStruct* record) { return MakeHolder<CEdiDeviceData>(record); }

IDmgDeviceData* CreateDMGDeviceData(CDMGDeviceInfoStruct* record) { return MakeHolder<CDmgDeviceData>(record); }
