// The private information record a device may carry (owned by the device). The concrete holders
// (disk, partition, volume, EDI and DMG records) derive from it.
#pragma once

class IStorageDeviceData {
public:
    virtual ~IStorageDeviceData() = default;
};
