// The same-device test of a recovery: whether writing under a destination could write onto what the
// last scan read. A recovery onto the scanned device is always refused.
#pragma once

#include <string>

class IStorageDevice;

// True when path (a folder, existing or to be made) lies on the scanned device: on the scanned
// volume, on any volume of a scanned disk, or on the disk itself. False for a null device.
bool DestinationOnScannedDevice(IStorageDevice* scanned, const std::string& path);
