// --list-devices: what the device page would offer, as text.
#pragma once

#include <sys/types.h>

#include <ostream>

class IEnumDeviceEx;
class IStorageDevice;

// Prints every disk with its partitions and volumes (size, file system, label). Returns the exit code:
// 0, or 1 with a reason on err when no disk can be listed.
int ListDevices(IEnumDeviceEx& devices, std::ostream& out, std::ostream& err);

// The device enumeration presents for the block device numbered `number` (st_rdev): the disk, with the
// records of its volumes, or the volume of a partition, with its record. Null, and the enumeration
// ended, when it lists neither; otherwise the device lives until the enumeration's Uninit.
IStorageDevice* EnumeratedDevice(IEnumDeviceEx& devices, dev_t number);
