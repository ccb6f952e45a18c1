// A list of devices as the enumeration hands them out.
#pragma once

#include <vector>

#include "engine/StorageDevice/IStorageDevice.h"

using DeviceList = std::vector<IStorageDevice*>;

// Deletes every device of the list and empties it.
inline void DestroyDevices(DeviceList& devices) {
    for (IStorageDevice* device : devices) delete device;
    devices.clear();
}
