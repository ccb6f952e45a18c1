// Flushes the file systems whose writes land on a block device before it is read raw, so that a scan sees
// what was written to them a moment ago. Only those file systems are flushed (syncfs), never the whole
// machine's: a system-wide sync waits for every other process's dirty data.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/disks/DestinationCheck.h"
#include "platform/disks/KernelDisks.h"

namespace brelvox::disks {

// The file systems mounted from device, from its partitions when it is a whole disk, and from the
// devices built on any of these (device-mapper, md), each once, as mountinfo lists them (one mount of
// each file system). Nothing for a device that nothing is mounted from.
std::vector<MountEntry> FileSystemsOn(dev_t device, const KernelRoots& roots = {});

// syncfs on each of FileSystemsOn(the device at path), then the device's cached pages are dropped (a
// file system's writes pass them by, so they may be older than the device). A path that is no block
// device (an image file) has none. Returns how many were flushed; a file system that cannot be opened
// (its mount point hidden by another mount, or gone) is skipped.
int FlushFileSystemsOn(const std::string& path, const KernelRoots& roots = {});

}  // namespace brelvox::disks
