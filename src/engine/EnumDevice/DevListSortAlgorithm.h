// The order of device lists: disks by kernel name (byte-wise, so disk10 comes before disk2), partitions
// and volumes by partition number.
#pragma once

#include "engine/EnumDevice/DeviceList.h"

class CDevListSortAlgorithm {
public:
    // A strict weak ordering over any devices: by type first, then devices with their record before
    // those without one, then by name or partition number. Devices that compare equal keep their order
    // when sorted with SortDeviceList.
    bool operator()(IStorageDevice* a, IStorageDevice* b) const;
};

// Sorts with CDevListSortAlgorithm, keeping the order of equal devices.
void SortDeviceList(DeviceList& devices);
