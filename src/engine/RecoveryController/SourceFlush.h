// Before a scan reads a device raw, the file systems mounted from it are flushed, so that what was
// written to them a moment ago is on the device. Image files and unmounted disks need nothing.
#pragma once

#include <string>

class IStorageDevice;

// The block device node a device reads through (a partition's or a cache's, its disk's); empty for a
// device that reads no node (EDI and UDIF images, devices in memory).
std::string SourceNodeOf(IStorageDevice* device);

// Flushes the file systems mounted from the device that device reads (see SourceNodeOf). Returns how
// many were flushed.
int FlushMountedFileSystems(IStorageDevice* device);
