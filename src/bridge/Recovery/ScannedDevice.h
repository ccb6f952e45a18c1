// The same-device test of a recovery: whether writing under a destination could write onto what the
// last scan read. It asks the destination check that every writer shares (platform/disks), with the
// scanned device named by its kernel device number (an opened image by its file).
#pragma once

#include <string>

class IStorageDevice;

// Why writing under path (a folder, existing or to be made) could write onto the scanned device: on
// the scanned volume or its disk, on any volume of a scanned disk, through a mapped or loop device
// built on it. Empty when it cannot (and for a null device); a path whose target cannot be told is
// refused. readPath, when given, is the node or file the writer itself reads (the image writer's
// source): writing into it is refused as well.
std::string ScannedDeviceProblem(IStorageDevice* scanned, const std::string& path, const std::string& readPath = "");
